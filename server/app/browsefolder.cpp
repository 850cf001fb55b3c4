#include "server/app/browsefolder.h"

#include "platform/dialogs.h"
#include "platform/folderchooser.h"

bool browseFolder(const FolderOwner &owner, QString *path, const QString &prompt)
{
    const FolderChoice choice = owner.chooser.chooseFolder(prompt);
    switch (choice.outcome) {
    case FolderChoice::Chosen:
        *path = choice.path;
        return true;
    case FolderChoice::Failed:
        owner.messages.show(QString::number(choice.errorNumber) + u' ' + choice.description);
        return false;
    case FolderChoice::Cancelled:
        break;
    }
    return false;
}
