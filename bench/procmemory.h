#pragma once

#include <QByteArray>
#include <QFile>

// This process's memory as the kernel counts it, for the benchmarks' growth
// figures: a field of /proc/self/status in KiB ("VmRSS:", "VmHWM:"), -1 when
// it cannot be read.
inline qint64 statusKiB(const char *field)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith(field))
            return line.mid(qsizetype(qstrlen(field))).trimmed().split(' ').first().toLongLong();
    }
    return -1;
}

// Starts the peak ("VmHWM:") again from the memory in use now.
inline void resetPeak()
{
    QFile clear(QStringLiteral("/proc/self/clear_refs"));
    if (clear.open(QIODevice::WriteOnly))
        clear.write("5");
}
