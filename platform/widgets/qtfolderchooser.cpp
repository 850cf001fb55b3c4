#include "platform/widgets/qtfolderchooser.h"

#include "platform/widgets/filedialog.h"

#include <QDir>
#include <QFile>

#include <climits>

namespace {

// A path the system cannot open files under is of no use as a folder.
#ifdef Q_OS_WIN
constexpr qsizetype MaxPathBytes = 260;
#else
constexpr qsizetype MaxPathBytes = PATH_MAX;
#endif
constexpr int PathFileAccessError = 75;

} // namespace

FolderChoice QtFolderChooser::chooseFolder(const QString &prompt)
{
    // Qt's own dialog: it looks the same everywhere and takes no desktop
    // theme's dialog in its place. It starts in the home folder, the nearest
    // thing to a desktop root.
    const QString chosen = chooseExistingFolder(m_owner, prompt, QDir::homePath());
    if (chosen.isEmpty())
        return {};
    const QString path = QDir::toNativeSeparators(chosen);
    if (QFile::encodeName(path).size() >= MaxPathBytes) {
        return {FolderChoice::Failed,
                {},
                PathFileAccessError,
                QStringLiteral("パスが長すぎます (%1 バイト未満にしてください)").arg(MaxPathBytes)};
    }
    return {FolderChoice::Chosen, path, 0, {}};
}
