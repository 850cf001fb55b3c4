// The settings reader on any file: it reads every key the programs ask for,
// case-blind, and never returns more than one line.
#include "common/readvar.h"
#include "fuzz/fuzzsupport.h"
#include "server/app/serversettings.h"

#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString path = writeInput("inivar.cfg", data, size);
    for (const char *key :
         {"port", "kugiri", "ms-exceldir", "daihen", "serveraddress", "kadaidir"}) {
        const QString name = QString::fromLatin1(key);
        const Result<QString> value = readvar(name, path);
        FUZZ_CHECK(value.ok());
        FUZZ_CHECK(!value->contains(u'\r') && !value->contains(u'\n'));
        const Result<QString> upper = readvar(name.toUpper(), path);
        FUZZ_CHECK(upper.ok() == value.ok() && upper.valueOr({}) == value.valueOr({}));
    }
    const ServerSettings settings = readServerSettings(path);
    FUZZ_CHECK(settings.fileRead);
    FUZZ_CHECK(settings.delimiter == QStringLiteral(",") ||
               settings.delimiter == QStringLiteral("\t"));
    leadingNumber(*readvar(QStringLiteral("port"), path));
    return 0;
}
