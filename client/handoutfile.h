#pragma once

#include "client/handoutrecord.h"
#include "client/handoutretire.h"
#include "common/filehash.h"
#include "common/result.h"
#include "common/sha256.h"
#include "common/wire.h"

#include <QString>

#include <atomic>
#include <functional>
#include <memory>

// The folder handouts are saved in, held open for the whole fetch. Every
// later step goes through this descriptor: a folder others may write to can
// be renamed or swapped for a link meanwhile without moving anything.
class HandoutFolder
{
public:
    // Opens `path`, which must be a folder and not a link to one.
    static Result<std::shared_ptr<HandoutFolder>> open(const QString &path);
    explicit HandoutFolder(int fd, QString path) : m_fd(fd), m_path(std::move(path)) {}
    ~HandoutFolder();
    HandoutFolder(const HandoutFolder &) = delete;
    HandoutFolder &operator=(const HandoutFolder &) = delete;

    int fd() const { return m_fd; }
    const QString &path() const { return m_path; }

private:
    int m_fd;
    QString m_path;
};

// What to do with one listed handout, given what the student's folder holds.
enum class HandoutNeed {
    Fetch,        // not there under its name or a numbered one
    Replace,      // an older version the student has not changed makes way
    AlreadyThere, // a file with the same SHA-256 is there
    BadName,      // the name would leave the folder or is no file name here
    Stopped,      // `stop` was set before the answer was known
};
struct HandoutPlan
{
    HandoutNeed need = HandoutNeed::Fetch;
    wire::HandoutEntry entry;
    QString there;        // AlreadyThere: the file that holds it; Replace: the one to replace
    FileIdentity version; // Replace: that file as it was checked
};
// A name the folder takes as it is: a safe file name not starting with ".".
bool isPlainHandoutName(const QString &name);
// Reads the files under the handout's name and its numbered names that
// may hold it, or hold what `record` says was saved there, in pieces,
// giving up soon after `stop` is set.
HandoutPlan handoutPlan(const HandoutFolder &folder, const HandoutRecord &record,
                        const wire::HandoutEntry &entry, const std::atomic_bool &stop);

// "name.ext" as "name (2).ext" for number 2; number 1 is the name itself.
QString numberedName(const QString &name, int number);

// One handout arriving: written to a file without a name in the target
// folder while its SHA-256 is computed, and given a name (its own, or the
// first free "name (n).ext", so that the student's own file of that name is
// kept) only when its size and hash are the listed ones. An older version
// the plan replaces is moved out of the way first.
class IncomingHandout
{
public:
    IncomingHandout(std::shared_ptr<HandoutFolder> folder, HandoutPlan plan);
    ~IncomingHandout();
    IncomingHandout(const IncomingHandout &) = delete;
    IncomingHandout &operator=(const IncomingHandout &) = delete;

    // Once its 402 line came with the listed size: fails when no file can
    // be made, and finish() then tells the same; the bytes must still be
    // taken (and are dropped).
    Result<> begin();
    // Takes up to remaining() bytes from the front of `data`.
    void take(QByteArrayView &data);
    qint64 remaining() const { return m_plan.entry.size - m_received; }
    qint64 received() const { return m_received; }
    const wire::HandoutEntry &entry() const { return m_plan.entry; }
    // Once remaining() is 0: the name it was saved under, or why not.
    Result<QString> finish();
    // After finish(): what became of the older version it replaces.
    Retired retired() const { return m_retired; }

    // Tests: runs after the file was checked, before it is given its name.
    static std::function<void()> beforeNaming;

private:
    Result<QString> putInPlace();
    // True once named `name`, false when that name is taken.
    Result<bool> nameAs(const QString &name);

    std::shared_ptr<HandoutFolder> m_folder;
    HandoutPlan m_plan;
    Retired m_retired = Retired::Failed;
    int m_fd = -1;
    QByteArray m_tempName; // empty: the file has no name yet (O_TMPFILE)
    Sha256 m_hash;
    qint64 m_received = 0;
    QString m_problem;
};
