#include "server/app/processlimits.h"

#include "server/app/heaptuning.h"

#include <QByteArray>
#include <QtGlobal>

#include <csignal>
#include <sys/resource.h>

long raiseOpenFileLimit()
{
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0)
        return -1;
    if (limit.rlim_cur < limit.rlim_max) {
        rlimit raised = limit;
        raised.rlim_cur = limit.rlim_max;
        if (::setrlimit(RLIMIT_NOFILE, &raised) == 0)
            limit = raised;
    }
    return long(limit.rlim_cur);
}

void ignoreFileSizeSignal()
{
    // A file that reaches the size limit fails its write (EFBIG) instead of
    // ending the program: a full journal must not end the lecture.
    ::signal(SIGXFSZ, SIG_IGN);
}

void prepareServerProcess()
{
    ignoreFileSizeSignal();
    keepFreedMemoryForUploads();
    raiseOpenFileLimit();
    // glib's event dispatcher spends longer on every socket the more are
    // open: a student connecting and closing in a loop starved the whole
    // class. Qt's own dispatcher keeps the cost per socket flat.
    if (!qEnvironmentVariableIsSet("QT_NO_GLIB"))
        qputenv("QT_NO_GLIB", "1");
    // Without TZ the C library looks at /etc/localtime again for every time
    // of day asked, and the server asks for one per log entry. Named once,
    // the zone is read once.
    if (!qEnvironmentVariableIsSet("TZ"))
        qputenv("TZ", ":/etc/localtime");
}
