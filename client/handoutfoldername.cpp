#include "client/handoutfoldername.h"

#include "common/wire.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

namespace {

// Names a home folder holds for itself, in English and Japanese desktops.
const QStringList HomeEntries = {
    QStringLiteral("Desktop"),      QStringLiteral("デスクトップ"), QStringLiteral("Documents"),
    QStringLiteral("ドキュメント"), QStringLiteral("Downloads"),    QStringLiteral("ダウンロード"),
    QStringLiteral("Music"),        QStringLiteral("ミュージック"), QStringLiteral("Pictures"),
    QStringLiteral("画像"),         QStringLiteral("ピクチャ"),     QStringLiteral("Videos"),
    QStringLiteral("ビデオ"),       QStringLiteral("Templates"),    QStringLiteral("テンプレート"),
    QStringLiteral("Public"),       QStringLiteral("公開"),
};

bool isHomeEntry(const QString &name)
{
    if (name.startsWith(u'.'))
        return true;
    for (const QString &entry : HomeEntries)
        if (name.compare(entry, Qt::CaseInsensitive) == 0)
            return true;
    // The user dirs as this account has them named (XDG user-dirs.dirs).
    for (const auto location :
         {QStandardPaths::DesktopLocation, QStandardPaths::DocumentsLocation,
          QStandardPaths::DownloadLocation, QStandardPaths::MusicLocation,
          QStandardPaths::PicturesLocation, QStandardPaths::MoviesLocation,
          QStandardPaths::TemplatesLocation, QStandardPaths::PublicShareLocation}) {
        const QString path = QStandardPaths::writableLocation(location);
        if (!path.isEmpty() && QFileInfo(path).fileName().compare(name, Qt::CaseInsensitive) == 0)
            return true;
    }
    return false;
}

// Drops whole characters from the end until the name fits.
QString cutToFit(QString name)
{
    while (QFile::encodeName(name).size() > wire::MaxFileNameBytes) {
        const bool pair = name.size() >= 2 && name.back().isLowSurrogate() &&
                          name[name.size() - 2].isHighSurrogate();
        name.chop(pair ? 2 : 1);
    }
    return name;
}

QString trimmed(QString name)
{
    while (!name.isEmpty() && name.front() == u' ')
        name.remove(0, 1);
    while (!name.isEmpty() && (name.back() == u'.' || name.back() == u' '))
        name.chop(1);
    return name;
}

} // namespace

QString handoutFolderName(const QString &lectureName)
{
    static const QString forbidden = QStringLiteral("\\/:*?\"<>|");
    QString name;
    for (const QChar c : lectureName)
        name += (c.category() == QChar::Other_Control || forbidden.contains(c)) ? u'_' : c;
    // Cutting may end the name in a dot or a blank again.
    name = trimmed(cutToFit(trimmed(name)));
    if (name.isEmpty())
        return QStringLiteral("配布物");
    return isHomeEntry(name) ? trimmed(cutToFit(u'_' + name)) : name;
}

QString handoutFolderFor(const QString &override, const QString &lectureName)
{
    if (!override.isEmpty())
        return override;
    return QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation) + u'/' +
           handoutFolderName(lectureName);
}
