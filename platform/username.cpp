#include "platform/username.h"

#ifdef Q_OS_WIN
#include <QtGlobal>
#include <windows.h>

std::optional<QString> loggedInUserName()
{
    wchar_t buffer[257];
    DWORD size = 257;
    if (!GetUserNameW(buffer, &size))
        return std::nullopt;
    return QString::fromWCharArray(buffer, int(size) - 1);
}
#else
#include <pwd.h>
#include <unistd.h>

#include <vector>

std::optional<QString> loggedInUserName()
{
    long bufferSize = sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(size_t(bufferSize > 0 ? bufferSize : 16384));
    passwd entry{};
    passwd *found = nullptr;
    if (getpwuid_r(geteuid(), &entry, buffer.data(), buffer.size(), &found) != 0 || !found ||
        !found->pw_name)
        return std::nullopt;
    return QString::fromLocal8Bit(found->pw_name);
}
#endif
