#include "server/app/commandoutput.h"

#include <QSaveFile>
#include <cstdio>

namespace commandoutput {

void tell(const QString &text)
{
    const QByteArray bytes = (text + u'\n').toLocal8Bit();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stderr);
}

bool writeOut(const QString &path, const QByteArray &bytes)
{
    if (path.isEmpty())
        return std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout) ==
                   size_t(bytes.size()) &&
               std::fflush(stdout) == 0;
    QSaveFile file(path);
    // Unbuffered: QSaveFile commits even when its closing flush fails.
    if (file.open(QIODevice::WriteOnly | QIODevice::Unbuffered) &&
        file.write(bytes) == bytes.size() && file.commit())
        return true;
    tell(QStringLiteral("tavrelle: %1 に書き込めません: %2").arg(path, file.errorString()));
    return false;
}

} // namespace commandoutput
