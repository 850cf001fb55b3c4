#pragma once

#include "common/result.h"

#include <QString>

// Keeps a lecture's journal to one running program. The lock is a file
// holding the owner's process id, locked with flock while the owner lives:
// the system lets go of it when the owner dies, so a lock file a crashed
// program left behind is simply taken over.
class JournalLock
{
public:
    JournalLock() = default;
    JournalLock(const JournalLock &) = delete;
    JournalLock &operator=(const JournalLock &) = delete;
    ~JournalLock();

    // True when this program may write the journal: it holds `path` now
    // (already held counts too), or no lock can be had there and the
    // journal reports its own failure; false when another program holds it.
    // Fails, with the reason ready to show, when the lock file is a link:
    // the journal then goes on without a lock.
    Result<bool> acquire(const QString &path);
    void release();
    bool isHeld() const { return m_fd >= 0; }
    const QString &path() const { return m_path; }

private:
    int m_fd = -1;
    QString m_path;
};
