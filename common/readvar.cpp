#include "common/readvar.h"

#include "common/cp932.h"
#include "common/lines.h"

#include <QFile>

namespace {

bool isIgnoredLine(QStringView line)
{
    return line.isEmpty() || line.front() == u'[' || line.front() == u'#';
}

} // namespace

Result<QString> readvar(const QString &key, const QString &fileName)
{
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly))
        return Result<QString>::failure(file.errorString());
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        return Result<QString>::failure(file.errorString());
    file.close();

    const QString text = cp932::decode(bytes);
    const QString wanted = key.toLower();
    for (QStringView line : splitLines(text)) {
        if (isIgnoredLine(line))
            continue;
        const qsizetype equals = line.indexOf(u'=');
        if (equals <= 0)
            continue;
        if (line.first(equals).toString().toLower() == wanted)
            return line.sliced(equals + 1).toString();
    }
    return QString();
}
