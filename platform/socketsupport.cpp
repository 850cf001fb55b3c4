#include "platform/socketsupport.h"

#include <QHostAddress>

#include <utility>

namespace socketsupport {

int winsockError(QAbstractSocket::SocketError error)
{
    static const std::pair<QAbstractSocket::SocketError, int> numbers[] = {
        {QAbstractSocket::ConnectionRefusedError, 10061},
        {QAbstractSocket::HostNotFoundError, 11001},
        {QAbstractSocket::SocketTimeoutError, 10060},
        {QAbstractSocket::NetworkError, 10065},
        {QAbstractSocket::SocketAccessError, 10013},
        {QAbstractSocket::AddressInUseError, 10048},
        {QAbstractSocket::SocketResourceError, 10055},
        {QAbstractSocket::SocketAddressNotAvailableError, 10049},
        {QAbstractSocket::RemoteHostClosedError, 10054},
    };
    for (const auto &[qtError, number] : numbers) {
        if (qtError == error)
            return number;
    }
    return 10053; // connection aborted: the closest catch-all
}

QString dottedIP(const QHostAddress &peer)
{
    bool isV4 = false;
    const quint32 v4 = peer.toIPv4Address(&isV4);
    return isV4 ? QHostAddress(v4).toString() : peer.toString();
}

} // namespace socketsupport
