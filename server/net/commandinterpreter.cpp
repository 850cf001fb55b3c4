#include "server/net/commandinterpreter.h"

#include "server/net/connection.h"
#include "common/wire.h"
#include "server/net/uploadreceiver.h"
#include "server/roster/rostergrid.h"

CommandInterpreter::CommandInterpreter(RosterGrid &grid, UploadReceiver &uploads)
    : m_grid(grid), m_uploads(uploads)
{}

CommandInterpreter::Outcome CommandInterpreter::gettedAscii(Connection &connection,
                                                            const QString &body)
{
    switch (wire::commandOf(body)) {
    case wire::Command::Close:
        return Outcome::CloseConnection;
    case wire::Command::Put:
        return m_uploads.start(connection, body) == UploadReceiver::Outcome::Continue
                   ? Outcome::Continue
                   : Outcome::CloseConnection;
    case wire::Command::User:
        recordAttendance(connection, body);
        return Outcome::Continue;
    case wire::Command::None:
        return Outcome::Continue;
    }
    return Outcome::Continue;
}

void CommandInterpreter::recordAttendance(Connection &connection, const QString &body)
{
    connection.userId = wire::userIdOf(body);
    const std::optional<int> row = m_grid.searchtext(connection.userId);
    if (!row) {
        connection.send(wire::BadUserId);
        return;
    }
    if (RosterGrid::isTimeStamp(m_grid.text(*row, RosterGrid::Attendance))) {
        connection.send(wire::AttendanceAlready);
        return;
    }
    m_grid.setText(*row, RosterGrid::Attendance, wire::timeOfDay());
    m_grid.setText(*row, RosterGrid::Address, connection.socket->remoteHostIP());
    connection.send(wire::AttendanceTaken);
}
