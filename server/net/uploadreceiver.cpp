#include "server/net/uploadreceiver.h"

#include "platform/textlog.h"
#include "server/net/connection.h"
#include "common/wire.h"
#include "server/roster/lecture.h"
#include "server/roster/rostergrid.h"

namespace {

QString entry(const QString &text)
{
    return text + wire::Eol;
}

} // namespace

UploadReceiver::UploadReceiver(Lecture &lecture, RosterGrid &grid, TextLog &log)
    : m_lecture(lecture), m_grid(grid), m_log(log)
{}

void UploadReceiver::refuse(Connection &connection, const QString &body)
{
    m_log.insertAtTop(entry(QStringLiteral("接続番号:%1 受け付けられないputコマンドです: %2")
                                .arg(connection.number)
                                .arg(body)));
}

UploadReceiver::Outcome UploadReceiver::start(Connection &connection, const QString &body)
{
    const std::optional<wire::PutRequest> request = wire::parsePutLine(body);
    if (!request || !wire::isSafeFileName(request->fileName)) {
        refuse(connection, body);
        return Outcome::Continue;
    }
    connection.fileName = request->fileName;
    connection.expected = request->size;
    connection.received = 0;
    connection.upload = std::make_unique<UploadFile>();
    // The folder shown now receives the whole file, whatever is chosen later.
    if (!connection.upload->open(m_lecture.kadaidir(), connection.fileName))
        return storageFailed(connection);
    connection.imageMode = true;
    if (connection.expected == 0)
        return complete(connection);
    connection.send(wire::ImageModeOk);
    m_log.insertAtTop(entry(QStringLiteral("接続Index:%1 イメージモード").arg(connection.number)));
    return Outcome::Continue;
}

UploadReceiver::Outcome UploadReceiver::receive(Connection &connection, QByteArrayView data,
                                                qsizetype &used)
{
    const qint64 missing = connection.expected - connection.received;
    used = qsizetype(qMin<qint64>(missing, data.size()));
    if (!connection.upload->write(data.first(used)))
        return storageFailed(connection);
    connection.received += used;
    if (connection.received == connection.expected)
        return complete(connection);
    return Outcome::Continue;
}

UploadReceiver::Outcome UploadReceiver::complete(Connection &connection)
{
    if (!connection.upload->commit())
        return storageFailed(connection);
    connection.upload.reset();
    connection.received = 0;
    m_log.insertAtTop(entry(QStringLiteral("接続:%1 受信完了").arg(connection.number)));
    connection.send(wire::ReceiveComplete);
    if (const std::optional<int> row = m_grid.searchtext(connection.userId))
        m_grid.setText(*row, RosterGrid::Assignment, wire::timeOfDay());
    connection.imageMode = false;
    return Outcome::Continue;
}

UploadReceiver::Outcome UploadReceiver::storageFailed(Connection &connection)
{
    m_log.insertAtTop(
        entry(QStringLiteral("接続番号:%1 課題ファイルを保存できません: %2 (%3)")
                  .arg(connection.number)
                  .arg(connection.upload->failedPath(), connection.upload->errorString())));
    abandon(connection);
    return Outcome::CloseConnection;
}

void UploadReceiver::abandon(Connection &connection)
{
    connection.upload.reset();
    connection.imageMode = false;
    connection.received = 0;
}
