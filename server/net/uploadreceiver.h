#pragma once

#include <QByteArrayView>
#include <QString>

struct Connection;
class Lecture;
class RosterGrid;
class TextLog;

// Receives assignment files: a put line opens an upload, the bytes that
// follow are stored until the announced count is reached.
class UploadReceiver
{
public:
    enum class Outcome { Continue, CloseConnection };

    UploadReceiver(Lecture &lecture, RosterGrid &grid, TextLog &log);

    Outcome start(Connection &connection, const QString &body);

    // Stores what belongs to the upload from `data`; sets `used` to the
    // number of bytes taken. What follows a completed upload is the
    // caller's again.
    Outcome receive(Connection &connection, QByteArrayView data, qsizetype &used);

    // The connection ended: an unfinished upload leaves no trace.
    static void abandon(Connection &connection);

private:
    Outcome complete(Connection &connection);
    Outcome storageFailed(Connection &connection);
    void refuse(Connection &connection, const QString &body);

    Lecture &m_lecture;
    RosterGrid &m_grid;
    TextLog &m_log;
};
