#include "server/net/connection.h"

#include "server/net/protocol.h"

void Connection::send(const QString &line) const
{
    if (socket)
        socket->sendData(line + protocol::Eol);
}
