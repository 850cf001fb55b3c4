#pragma once

#include <QAbstractSocket>
#include <QString>

class QHostAddress;

// What the listener and the connections it hands out share: the error
// numbers the programs were written against (Winsock and its control), and
// the peer address as they show it.
namespace socketsupport {

constexpr int ErrBadState = 40006;
constexpr int ErrInvalidArg = 40014;

int winsockError(QAbstractSocket::SocketError error);

// Dotted IPv4 text for IPv4 peers, also those of a dual-stack listener
// (which shows them as ::ffff:a.b.c.d).
QString dottedIP(const QHostAddress &peer);

} // namespace socketsupport
