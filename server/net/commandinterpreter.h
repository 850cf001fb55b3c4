#pragma once

#include <QString>

struct Connection;
class RosterGrid;
class UploadReceiver;

// Acts on one line that a client sent in text mode: closing, attendance, or
// the start of an upload.
class CommandInterpreter
{
public:
    enum class Outcome { Continue, CloseConnection };

    CommandInterpreter(RosterGrid &grid, UploadReceiver &uploads);

    Outcome gettedAscii(Connection &connection, const QString &body);

private:
    void recordAttendance(Connection &connection, const QString &body);

    RosterGrid &m_grid;
    UploadReceiver &m_uploads;
};
