#include "platform/systemregistry.h"

#ifdef Q_OS_WIN

#include <windows.h>

namespace {

HKEY rootKey(Registry::Root root)
{
    switch (root) {
    case Registry::Root::LocalMachine:
        return HKEY_LOCAL_MACHINE;
    }
    return HKEY_LOCAL_MACHINE;
}

} // namespace

bool SystemRegistry::openKey(Root root, const QString &path, quint32 access, Key *key)
{
    HKEY handle = nullptr;
    if (RegOpenKeyExA(rootKey(root), path.toLocal8Bit().constData(), 0, REGSAM(access), &handle) !=
        ERROR_SUCCESS)
        return false;
    *key = reinterpret_cast<Key>(handle);
    return true;
}

bool SystemRegistry::queryValue(Key key, const QString &name, qsizetype capacity, Value *value)
{
    QByteArray buffer(capacity, '\0');
    DWORD type = 0;
    DWORD size = DWORD(capacity);
    if (RegQueryValueExA(reinterpret_cast<HKEY>(key), name.toLocal8Bit().constData(), nullptr,
                         &type, reinterpret_cast<LPBYTE>(buffer.data()), &size) != ERROR_SUCCESS)
        return false;
    value->type = quint32(type);
    value->data = buffer;
    return true;
}

void SystemRegistry::closeKey(Key key)
{
    RegCloseKey(reinterpret_cast<HKEY>(key));
}

#else

#include <QStandardPaths>

namespace {

const QString InfoKey = QStringLiteral(R"(SOFTWARE\Microsoft\Shared Tools\MSINFO)");
constexpr Registry::Key InfoKeyHandle = 1;

QString systemInformationProgram()
{
    for (const char *name : {"hardinfo", "kinfocenter", "gnome-system-monitor"}) {
        const QString path = QStandardPaths::findExecutable(QString::fromLatin1(name));
        if (!path.isEmpty())
            return path;
    }
    return {};
}

} // namespace

bool SystemRegistry::openKey(Root root, const QString &path, quint32, Key *key)
{
    // Registry key names ignore letter case.
    if (root != Root::LocalMachine || path.compare(InfoKey, Qt::CaseInsensitive) != 0)
        return false;
    *key = InfoKeyHandle;
    return true;
}

bool SystemRegistry::queryValue(Key key, const QString &name, qsizetype capacity, Value *value)
{
    if (key != InfoKeyHandle || name.compare(u"PATH", Qt::CaseInsensitive) != 0)
        return false;
    const QString program = systemInformationProgram();
    if (program.isEmpty())
        return false;
    QByteArray data = program.toLocal8Bit();
    data.append('\0');
    if (data.size() > capacity)
        return false;
    *value = {TextType, data};
    return true;
}

void SystemRegistry::closeKey(Key)
{}

#endif
