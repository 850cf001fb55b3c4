#pragma once

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

    // True when this program holds `path` now (already held counts too);
    // false when another program does.
    bool acquire(const QString &path);
    void release();
    bool isHeld() const { return m_fd >= 0; }
    const QString &path() const { return m_path; }
    // Why the last acquire could not lock at all (the lock file is a link);
    // empty otherwise.
    const QString &problem() const { return m_problem; }

private:
    int m_fd = -1;
    QString m_path;
    QString m_problem;
};
