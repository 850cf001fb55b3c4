#include "server/net/commandinterpreter.h"

#include "server/net/connection.h"
#include "server/net/protocol.h"
#include "server/net/uploadreceiver.h"
#include "server/roster/rostergrid.h"

CommandInterpreter::CommandInterpreter(RosterGrid &grid, UploadReceiver &uploads)
    : m_grid(grid), m_uploads(uploads)
{}

CommandInterpreter::Outcome CommandInterpreter::gettedAscii(Connection &connection,
                                                            const QString &body)
{
    switch (protocol::commandOf(body)) {
    case protocol::Command::Close:
        return Outcome::CloseConnection;
    case protocol::Command::Put:
        return m_uploads.start(connection, body) == UploadReceiver::Outcome::Continue
                   ? Outcome::Continue
                   : Outcome::CloseConnection;
    case protocol::Command::User:
        recordAttendance(connection, body);
        return Outcome::Continue;
    case protocol::Command::None:
        return Outcome::Continue;
    }
    return Outcome::Continue;
}

void CommandInterpreter::recordAttendance(Connection &connection, const QString &body)
{
    connection.userId = protocol::userIdOf(body);
    const std::optional<int> row = m_grid.searchtext(connection.userId);
    if (!row) {
        connection.send(protocol::BadUserId);
        return;
    }
    if (RosterGrid::isTimeStamp(m_grid.text(*row, RosterGrid::Attendance))) {
        connection.send(protocol::AttendanceAlready);
        return;
    }
    m_grid.setText(*row, RosterGrid::Attendance, protocol::timeOfDay());
    m_grid.setText(*row, RosterGrid::Address, connection.socket->remoteHostIP());
    connection.send(protocol::AttendanceTaken);
}
