#include "server/app/manual.h"

#include "platform/dialogs.h"
#include "platform/documentopener.h"

#include <QDir>
#include <QFileInfo>

namespace {

const QString ManualName = QStringLiteral("manual.html");
const QString Eol = QStringLiteral("\r\n");

} // namespace

QStringList manualFolders()
{
    QStringList folders{QDir::currentPath()};
#ifdef TAVRELLE_MANUAL_DIR
    folders << QStringLiteral(TAVRELLE_MANUAL_DIR);
#endif
    return folders;
}

QString findManual(const QStringList &folders)
{
    for (const QString &folder : folders) {
        const QFileInfo manual(QDir(folder), ManualName);
        if (manual.isFile())
            return manual.absoluteFilePath();
    }
    return {};
}

void openManual(const QStringList &folders, DocumentOpener &opener, MessageBox &messages)
{
    const QString manual = findManual(folders);
    if (manual.isEmpty()) {
        QStringList places;
        for (const QString &folder : folders)
            places << QDir::toNativeSeparators(folder);
        messages.show(QStringLiteral("マニュアル (%1) が見つかりません｡").arg(ManualName) + Eol +
                      QStringLiteral("探した場所:") + Eol + places.join(Eol));
        return;
    }
    // The report may come after this call has returned; the opener belongs to
    // the same window as the message box and reports nothing once it is gone.
    MessageBox *box = &messages;
    opener.open(manual, [box, manual](const QString &reason) {
        box->show(QStringLiteral("マニュアルを開けませんでした｡") + Eol + reason + Eol + Eol +
                  QStringLiteral("ブラウザで次のファイルを開いてください:") + Eol +
                  QDir::toNativeSeparators(manual));
    });
}
