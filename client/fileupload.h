#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>

// One chosen file on its way to the server, read piece by piece while the
// socket sends, so that memory stays small whatever the file's size. The
// size is the one announced when the file was chosen: a file that no longer
// has it cannot be sent honestly, and reading stops.
class FileUpload
{
public:
    enum class Problem { None, Unreadable, SizeChanged };

    FileUpload(const QString &path, qint64 announcedSize);

    // Opens the file; false when it cannot be read or its size has changed.
    bool open();
    // Up to `max` further bytes; empty, with problem() set, when the file no
    // longer matches its announcement.
    QByteArray nextPiece(qint64 max);

    bool allRead() const { return m_read == m_size; }
    qint64 size() const { return m_size; }
    Problem problem() const { return m_problem; }

private:
    bool fail(Problem problem);

    QFile m_file;
    qint64 m_size;
    qint64 m_read = 0;
    Problem m_problem = Problem::None;
};
