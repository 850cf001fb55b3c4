#include "server/app/commandoutput.h"

#include <QSaveFile>
#include <cstdio>

namespace commandoutput {

void tell(const QString &text)
{
    const QByteArray bytes = (text + u'\n').toLocal8Bit();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stderr);
}

Result<> writeOut(const QString &path, const QByteArray &bytes)
{
    if (path.isEmpty())
        return std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout) ==
                           size_t(bytes.size()) &&
                       std::fflush(stdout) == 0
                   ? Result<>::success()
                   : Result<>::failure(QString());
    QSaveFile file(path);
    // Unbuffered: QSaveFile commits even when its closing flush fails.
    if (file.open(QIODevice::WriteOnly | QIODevice::Unbuffered) &&
        file.write(bytes) == bytes.size() && file.commit())
        return Result<>::success();
    return Result<>::failure(
        QStringLiteral("tavrelle: %1 に書き込めません: %2").arg(path, file.errorString()));
}

int exitAfter(const Result<> &written)
{
    if (written)
        return 0;
    if (!written.error().isEmpty())
        tell(written.error());
    return 1;
}

} // namespace commandoutput
