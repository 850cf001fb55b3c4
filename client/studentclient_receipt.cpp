#include "client/studentclient.h"

#include "client/handoutfoldername.h"
#include "client/receiptfile.h"
#include "common/clock.h"
#include "platform/dialogs.h"

#include <QDir>
#include <QFileInfo>

// The receipt's share of the upload: after 302 the student program asks
// what the server stored and compares it with what it sent.

namespace {

const QString Confirmed = QStringLiteral("送信完了しました");

} // namespace

void StudentClient::askReceipt()
{
    m_confirmedAt = Clock::timeOfDay().toString(QStringLiteral("hh:mm:ss"));
    // The server has confirmed: that much stands whatever the receipt says.
    setStatus(QStringLiteral("提出完了 (%1)").arg(m_confirmedAt));
    sendLine(wire::hashLine(m_chosen.announcedName));
}

// Only a well-formed 403 is a receipt; any other answer (an older server's
// error line, a 499) leaves the upload confirmed as the 302 said.
bool StudentClient::takeReceipt(const QString &line)
{
    const std::optional<wire::ReceiptInfo> receipt = wire::parseReceiptLine(line);
    if (!receipt)
        return concludeUpload(Proof::None);
    const bool same = receipt->size == m_chosen.size && receipt->sha256 == m_sentSha256;
    return concludeUpload(same ? Proof::Matched : Proof::Different, receipt->storedAt);
}

void StudentClient::receiptMissing()
{
    m_talk.receiptAbsent();
    armDeadline();
    concludeUpload(Proof::None);
}

// False when the connection ended while the message was shown.
bool StudentClient::concludeUpload(Proof proof, const QString &storedAt)
{
    const QString confirmed = QStringLiteral("提出完了 (%1)").arg(m_confirmedAt);
    QString message = Confirmed;
    switch (proof) {
    case Proof::None:
        setStatus(confirmed);
        break;
    case Proof::Matched:
        setStatus(confirmed + QStringLiteral(" 控え一致"));
        message += keepReceipt(storedAt);
        break;
    case Proof::Different:
        setStatus(QStringLiteral("提出は済んでいません"));
        message = QStringLiteral("サーバに保存されたファイルは､送ったファイルと違っています｡\r\n"
                                 "提出は済んでいません｡もう一度送ってください｡");
        break;
    }
    if (!showMessage(message))
        return false;
    refreshButtons();
    return true;
}

// Empty when the line was added; else what the student is told besides.
QString StudentClient::keepReceipt(const QString &storedAt)
{
    const QString folder = handoutFolderFor(m_handoutFolder, m_kougimei);
    const Result<> kept =
        appendReceipt(folder, {storedAt, m_kougimei, m_chosen.announcedName,
                               QFileInfo(m_chosen.path).fileName(), m_chosen.size, m_sentSha256});
    if (kept)
        return {};
    return QStringLiteral("\r\n控えを %1 に書き込めませんでした (%2)｡")
        .arg(QDir::toNativeSeparators(QDir(folder).filePath(ReceiptFileName)), kept.error());
}
