#pragma once

#include "common/cp932.h"
#include "platform/socket.h"
#include "server/net/uploadfile.h"

#include <QByteArray>
#include <QPointer>
#include <QString>
#include <memory>

// One client's conversation: its socket and the state the protocol keeps.
struct Connection
{
    qint64 number = 0;
    QPointer<Socket> socket;

    bool imageMode = false; // an upload is under way
    QString fileName;       // from the last put line
    QString userId;         // from the last user line
    qint64 expected = 0;    // bytes announced by the last put line
    qint64 received = 0;    // bytes of the current upload stored so far
    std::unique_ptr<UploadFile> upload;

    QByteArray partialLine; // text received after the last line end
    bool skippingLongLine = false;
    cp932::StreamDecoder logDecoder;

    void send(const QString &line) const;
};
