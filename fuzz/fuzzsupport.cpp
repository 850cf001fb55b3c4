#include "fuzz/fuzzsupport.h"

#include <QFile>

QString writeInput(const char *name, const unsigned char *data, size_t size)
{
    const QString path = fuzzFolder() + u'/' + QString::fromLatin1(name);
    QFile file(path);
    FUZZ_CHECK(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    FUZZ_CHECK(file.write(reinterpret_cast<const char *>(data), qint64(size)) == qint64(size));
    return path;
}
