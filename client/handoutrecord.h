#pragma once

#include "common/result.h"
#include "common/wire.h"

#include <QByteArray>
#include <QHash>
#include <QString>

#include <optional>

// What the student program saved in a handout folder: the SHA-256 of each
// file as it was saved. A file that still has it is the lecturer's, not
// the student's, and a newer version may replace it. Kept in the folder
// as a hidden CP932 text, a line per file as the listing has it
// ("<name>,<size>,<SHA-256>"); the student can write there, so it is read
// only when small and only as far as it makes sense.
class HandoutRecord
{
public:
    static const QByteArray FileName;
    static constexpr qint64 MaxBytes = 4 * 1024 * 1024;
    static constexpr qsizetype MaxEntries = 20000;

    // The record in the open folder `dirFd`; empty when there is none or it
    // is no regular file of at most MaxBytes.
    static HandoutRecord read(int dirFd);
    // Writes it back through `dirFd`, leaving out names no longer there.
    Result<> write(int dirFd) const;

    // The file `name` as it was saved; nothing if it was not.
    std::optional<wire::HandoutEntry> saved(const QString &name) const;
    void remember(const wire::HandoutEntry &file);
    bool isEmpty() const { return m_files.isEmpty(); }

private:
    QHash<QString, wire::HandoutEntry> m_files; // by name
};
