#pragma once

#include "common/result.h"
#include "common/wire.h"

#include <QCryptographicHash>
#include <QString>
#include <QTemporaryFile>
#include <memory>

// What to do with one listed handout, given what the student's folder holds.
enum class HandoutNeed {
    Fetch,        // not there under its name or a numbered one
    AlreadyThere, // a file with the same SHA-256 is there
    BadName,      // the name would leave the folder or is no file name here
};
// Reads files of the listed size that are there: may take a while.
HandoutNeed handoutNeed(const QString &folder, const wire::HandoutEntry &entry);

// "name.ext" as "name (2).ext" for number 2; number 1 is the name itself.
QString numberedName(const QString &name, int number);

// One handout arriving: written to a hidden temporary file in the target
// folder while its SHA-256 is computed, and put in place under its name (or
// the first free "name (n).ext", so that the student's own file of that
// name is kept) only when its size and hash are the listed ones.
class IncomingHandout
{
public:
    IncomingHandout(QString folder, wire::HandoutEntry entry);

    // After "402 " + size: false, with problem(), when no temporary file can
    // be made; the bytes must still be taken (and are dropped).
    bool begin(qint64 announcedSize);
    // Takes up to remaining() bytes from the front of `data`.
    void take(QByteArrayView &data);
    qint64 remaining() const { return m_announced - m_received; }
    qint64 received() const { return m_received; }
    const wire::HandoutEntry &entry() const { return m_entry; }
    // Once remaining() is 0: the name it was saved under, or why not.
    Result<QString> finish();

private:
    Result<QString> putInPlace();

    QString m_folder;
    wire::HandoutEntry m_entry;
    std::unique_ptr<QTemporaryFile> m_file;
    QCryptographicHash m_hash{QCryptographicHash::Sha256};
    qint64 m_announced = 0;
    qint64 m_received = 0;
    QString m_problem;
};
