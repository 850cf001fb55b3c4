#pragma once

#include <QByteArray>
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

    // False when the entry could not be stored (and every later one as well).
    bool append(const QByteArray &entry);
    bool isEmpty() const { return m_end == 0; }
    // Hands every entry to `take`, newest first. False when `take` says so or
    // the file cannot be read or lost an entry.
    bool readNewestFirst(const std::function<bool(const QByteArray &)> &take) const;

private:
    int m_fd = -1;
    qint64 m_end = 0;
    bool m_broken = false;
};
