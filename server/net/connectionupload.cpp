// The upload part of a student's conversation: the put line, the file's
// bytes and the receipt.
#include "server/net/connection.h"

#include "common/clock.h"
#include "platform/socket.h"

#include <QDir>
#include <QTimer>

void Connection::startUpload(const QString &body, const std::optional<wire::PutRequest> &request)
{
    // A client that has written its share of the records for this minute
    // gets no receipt it could not be given.
    if (!hasRoomForRecord()) {
        refusePut(body, QStringLiteral("記録の上限に達しました｡1分ほど待ってから送ってください｡"),
                  QStringLiteral("1分間に書ける記録の量を超えました"));
        return;
    }
    if (!request) {
        refusePut(body, QStringLiteral("putコマンドの形式が正しくありません｡"));
        return;
    }
    if (!wire::isSafeFileName(request->fileName)) {
        refusePut(body, QStringLiteral("このファイル名では保存できません｡"));
        return;
    }
    ClassDesk::PutDecision decision = m_desk.decidePut(m_userId, *request, m_keptVersions);
    if (const std::optional<PutRefusal> &refusal = decision.refusal) {
        if (refusal->journaled) {
            m_desk.refuse(m_userId, request->fileName, refusal->forStudent);
            // A refusal is a record too: a client repeating put lines after
            // the cut-off spends its share like one that uploads.
            chargeRecord();
        }
        refusePut(body, refusal->forStudent, refusal->detail);
        return;
    }
    auto upload = std::make_unique<Upload>();
    upload->file.setKeptVersions(m_keptVersions);
    if (m_hashes)
        upload->file.setHashCache(m_hashes);
    if (const Result<> opened = upload->file.open(decision.folder, request->fileName); !opened) {
        refusePut(body,
                  decision.folder.isEmpty() ? QStringLiteral("課題提出先が設定されていません｡")
                                            : QStringLiteral("課題ファイルを保存できません｡"),
                  opened.error());
        return;
    }
    m_upload = std::move(upload);
    m_upload->fileName = request->fileName;
    m_upload->expected = request->size;
    m_upload->decision = std::move(decision);
    if (m_upload->expected == 0) {
        completeUpload();
        return;
    }
    armUploadTimer();
    send(wire::ImageModeOk);
    log(QStringLiteral("接続Index:%1 イメージモード").arg(m_number));
}

void Connection::armUploadTimer()
{
    if (!m_uploadIdle) {
        m_uploadIdle = new QTimer(this);
        m_uploadIdle->setSingleShot(true);
        connect(m_uploadIdle, &QTimer::timeout, this, [this] {
            if (m_upload)
                endUpload(uploadlimits::stalledEnd());
        });
    }
    m_uploadIdle->start(uploadlimits::idleMs());
}

// Nothing is stored and the earlier file stays; the bytes still on their
// way cannot be told from lines any more, so the connection ends too.
void Connection::endUpload(const PutRefusal &why)
{
    const std::unique_ptr<Upload> ended = std::move(m_upload);
    log(QStringLiteral("接続番号:%1 %2ため %3 の受信を打ち切りました(%4/%5バイト)｡")
            .arg(m_number)
            .arg(why.detail, ended->fileName)
            .arg(ended->received)
            .arg(ended->expected));
    send(wire::refusalLine(why.forStudent));
    close();
}

qsizetype Connection::receiveUpload(QByteArrayView data)
{
    const ClassDesk::PutDecision &decided = m_upload->decision;
    if (uploadlimits::overdue(m_desk.deadlineFor(m_userId, decided.folder, decided.deadline),
                              Clock::now())) {
        endUpload(uploadlimits::overdueEnd());
        return data.size();
    }
    m_uploadIdle->start();
    const qint64 missing = m_upload->expected - m_upload->received;
    const QByteArrayView part = data.first(qsizetype(qMin<qint64>(missing, data.size())));
    if (const Result<> written = m_upload->file.write(part); !written) {
        storageFailed(written.error());
        return part.size();
    }
    m_upload->received += part.size();
    if (m_upload->received == m_upload->expected)
        completeUpload();
    return part.size();
}

void Connection::completeUpload()
{
    if (const Result<> committed = m_upload->file.commit(); !committed) {
        if (!m_upload->file.historyFailed()) {
            storageFailed(committed.error());
            return;
        }
        // The earlier version stays where it is; the student may try again.
        const std::unique_ptr<Upload> refused = std::move(m_upload);
        log(QStringLiteral("接続番号:%1 以前の版を残せないため %2 を受け取りませんでした: %3")
                .arg(m_number)
                .arg(refused->fileName, committed.error()));
        send(wire::refusalLine(QStringLiteral(
            "以前の提出を保存できないため受け取れませんでした｡講師に連絡してください｡")));
        return;
    }
    const std::unique_ptr<Upload> upload = std::move(m_upload);
    chargeRecord();
    const QByteArray sha256 = upload->file.sha256();
    log(QStringLiteral("接続:%1 受信完了").arg(m_number));
    // The receipt's beginning, to compare with the student's sha256sum.
    log(QStringLiteral("接続:%1 SHA-256:%2")
            .arg(m_number)
            .arg(QLatin1StringView(sha256.first(16))));
    const ClassDesk::PutDecision &decided = upload->decision;
    const ClassDesk::Receipt receipt = m_desk.receive(
        {m_userId, upload->fileName, upload->expected, sha256, upload->file.versions(),
         decided.folder, decided.lecture, decided.deadline});
    if (receipt.lateSeconds > 0)
        log(QStringLiteral("接続:%1 %2 の提出です (%3)")
                .arg(m_number)
                .arg(lateText(receipt.lateSeconds), upload->fileName));
    if (receipt.earlierLecture)
        log(QStringLiteral("接続:%1 の課題ファイルは講義「%2」の提出先 %3 に保存しました｡"
                           "その後に名簿が替わったため、表には記入していません｡")
                .arg(m_number)
                .arg(decided.lecture)
                .arg(QDir::toNativeSeparators(upload->file.targetPath())));
    send(receipt.reply);
}

void Connection::storageFailed(const QString &reason)
{
    log(QStringLiteral("接続番号:%1 課題ファイルを保存できません: %2").arg(m_number).arg(reason));
    close();
}
