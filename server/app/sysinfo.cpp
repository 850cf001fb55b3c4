#include "server/app/sysinfo.h"

#include "platform/dialogs.h"
#include "platform/processstarter.h"

#include <QDir>
#include <QFileInfo>
#include <QtEndian>

namespace {

const QString InfoKey = QStringLiteral(R"(SOFTWARE\Microsoft\Shared Tools\MSINFO)");
const QString InfoPathValue = QStringLiteral("PATH");
const QString LocationKey = QStringLiteral(R"(SOFTWARE\Microsoft\Shared Tools Location)");
const QString LocationValue = QStringLiteral("MSINFO");
const QString ProgramFile = QStringLiteral("MSINFO32.EXE");
const QString Unavailable = QStringLiteral("現時点ではｼｽﾃﾑ情報を使用できません");
constexpr qsizetype ValueCapacity = 1024;

bool startProgram(ProcessStarter &processes, const QString &path)
{
    if (path.isEmpty())
        return false;
    // Quoted, so that a path with blanks stays one program name.
    return processes.startDetached(u'"' + path + u'"');
}

} // namespace

bool GetKeyValue(Registry &registry, Registry::Root root, const QString &path, const QString &name,
                 QString *value)
{
    Registry::Key key = 0;
    if (!registry.openKey(root, path, Registry::AllAccess, &key)) {
        value->clear();
        return false;
    }
    Registry::Value found;
    if (!registry.queryValue(key, name, ValueCapacity, &found)) {
        value->clear();
        registry.closeKey(key);
        return false;
    }
    if (found.type == Registry::TextType) {
        const qsizetype nul = found.data.indexOf('\0');
        *value = QString::fromLocal8Bit(nul < 0 ? found.data : found.data.first(nul));
    } else if (found.type == Registry::NumberType && found.data.size() >= 4) {
        *value = QString::number(qFromLittleEndian<quint32>(found.data.constData()));
    }
    registry.closeKey(key);
    return true;
}

void StartSysInfo(Registry &registry, ProcessStarter &processes, MessageBox &messages)
{
    QString program;
    if (GetKeyValue(registry, Registry::Root::LocalMachine, InfoKey, InfoPathValue, &program)) {
        if (!startProgram(processes, program))
            messages.show(Unavailable);
        return;
    }
    QString folder;
    if (GetKeyValue(registry, Registry::Root::LocalMachine, LocationKey, LocationValue, &folder)) {
        program = folder + QDir::separator() + ProgramFile;
        if (QFileInfo(program).isFile() && startProgram(processes, program))
            return;
    }
    messages.show(Unavailable);
}
