#include "server/net/connection.h"

#include "common/wire.h"

void Connection::send(const QString &line) const
{
    if (socket)
        socket->sendData(line + wire::Eol);
}
