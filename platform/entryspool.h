#pragma once

#include "common/result.h"

#include <QByteArray>
#include <QString>
#include <functional>

// Log entries kept on disk instead of in memory: an unnamed temporary file
// that goes away with the program. Each entry is stored followed by its
// length, so they read back newest first without an index in memory.
class EntrySpool
{
public:
    EntrySpool() = default;
    EntrySpool(const EntrySpool &) = delete;
    EntrySpool &operator=(const EntrySpool &) = delete;
    ~EntrySpool();

    // Fails with the system's reason when the entry could not be stored;
    // every later one then fails as well, as the spool has a gap.
    Result<> append(const QByteArray &entry);
    bool isEmpty() const { return m_end == 0; }
    // Hands every entry to `take`, newest first. Fails when `take` says so or
    // the file cannot be read or lost an entry.
    Result<> readNewestFirst(const std::function<bool(const QByteArray &)> &take) const;

private:
    Result<> breakDown(const QString &reason);

    int m_fd = -1;
    qint64 m_end = 0;
    QString m_broken; // why entries were lost, once they were
};
