#include "client/handoutfetch.h"

#include "client/conversation.h"
#include "platform/dialogs.h"

#include <QDir>
#include <QtConcurrent/QtConcurrentRun>

namespace {

// Checks every entry against the folder, away from the window's thread;
// stops soon after `stop` is set.
QList<HandoutPlan> plansOf(std::shared_ptr<HandoutFolder> folder, const HandoutRecord &record,
                           const QList<wire::HandoutEntry> &entries,
                           std::shared_ptr<std::atomic_bool> stop)
{
    QList<HandoutPlan> plans;
    for (const wire::HandoutEntry &entry : entries) {
        plans << handoutPlan(*folder, record, entry, *stop);
        if (plans.back().need == HandoutNeed::Stopped)
            break;
    }
    return plans;
}

QString retiredShown(const QString &name, Retired retired)
{
    return retired == Retired::ToTrash ? QStringLiteral("%1 (前の版はごみ箱へ)").arg(name)
                                       : QStringLiteral("%1 (前の版は .old へ)").arg(name);
}

QString folderShown(const std::shared_ptr<HandoutFolder> &folder)
{
    return QDir::toNativeSeparators(folder ? folder->path() : QString());
}

} // namespace

void NameList::add(const QString &name)
{
    if (m_first.size() < Shown)
        m_first << name;
    ++m_count;
}

QString NameList::text() const
{
    QString text = m_first.join(QStringLiteral(", "));
    if (m_count > m_first.size())
        text += QStringLiteral(" ほか%1件").arg(m_count - m_first.size());
    return text;
}

HandoutFetch::HandoutFetch(MessageBox &messages, SendLine sendGet, QObject *parent)
    : QObject(parent), m_messages(messages), m_sendGet(std::move(sendGet))
{
    connect(&m_checking, &QFutureWatcherBase::finished, this, &HandoutFetch::checked);
}

HandoutFetch::~HandoutFetch()
{
    stopChecking();
}

Result<> HandoutFetch::start(const QString &folder)
{
    if (active())
        return Result<>::failure(QString()); // the one under way tells how it went
    m_entries.clear();
    m_names.clear();
    m_toFetch.clear();
    m_saved = {};
    m_replaced = {};
    m_alreadyThere = {};
    m_failed = {};
    m_protocolError.clear();
    m_folder.reset();
    const Result<std::shared_ptr<HandoutFolder>> opened =
        QDir().mkpath(folder) ? HandoutFolder::open(folder)
                              : Result<std::shared_ptr<HandoutFolder>>::failure(QString());
    if (!opened)
        return Result<>::failure(QStringLiteral("配布物の保存先 %1 を作れません｡")
                                     .arg(QDir::toNativeSeparators(folder)));
    m_folder = *opened;
    m_record = HandoutRecord::read(m_folder->fd());
    m_recordChanged = false;
    setStep(Step::Listing);
    Q_EMIT statusChanged(QStringLiteral("配布物の一覧を取得中"));
    return Result<>::success();
}

// Keeps why the server's data is wrong for the message abandon() shows.
Result<> HandoutFetch::fail(const QString &what)
{
    if (m_protocolError.isEmpty())
        m_protocolError = QStringLiteral("サーバから正しくないデータが届いたため､接続を切りました｡"
                                         "\r\n(%1)\r\n再接続ボタンを押してください｡")
                              .arg(what);
    return Result<>::failure(m_protocolError);
}

Result<> HandoutFetch::takeCount(const QString &line)
{
    const std::optional<qint64> count = wire::parseCountReply(line);
    if (!count)
        return fail(QStringLiteral("配布物の一覧の件数がありません"));
    if (*count > MaxEntries)
        return fail(QStringLiteral("配布物の一覧が%1件を超えています").arg(MaxEntries));
    m_expectedEntries = qsizetype(*count);
    if (m_expectedEntries == 0) {
        finish();
        return Result<>::success();
    }
    setStep(Step::Entries);
    return Result<>::success();
}

Result<> HandoutFetch::takeEntry(const QString &line)
{
    const std::optional<wire::HandoutEntry> entry = wire::parseHandoutEntry(line);
    if (!entry) {
        m_failed.add(QStringLiteral("%1 (一覧の行が正しくありません)").arg(shownText(line, 80)));
    } else if (!isPlainHandoutName(entry->fileName)) {
        m_failed.add(
            QStringLiteral("%1 (この名前では保存できません)").arg(shownText(entry->fileName)));
    } else {
        const QString folded = entry->fileName.toCaseFolded();
        if (m_names.contains(folded))
            return fail(QStringLiteral("%1 が一覧に2度あります").arg(shownText(entry->fileName)));
        m_names.insert(folded);
        m_entries << *entry;
    }
    if (--m_expectedEntries == 0)
        check();
    return Result<>::success();
}

void HandoutFetch::lineTooLong()
{
    fail(QStringLiteral("%1バイトを超える行がありました").arg(wire::MaxLineBytes));
}

void HandoutFetch::check()
{
    m_names.clear();
    setStep(Step::Checking);
    Q_EMIT statusChanged(QStringLiteral("配布物を確認中"));
    // Files already there are read to compare: away from the window's thread.
    m_stopChecking = std::make_shared<std::atomic_bool>(false);
    m_checking.setFuture(QtConcurrent::run(plansOf, m_folder, m_record, m_entries, m_stopChecking));
}

void HandoutFetch::stopChecking()
{
    if (m_stopChecking)
        *m_stopChecking = true;
    m_stopChecking.reset();
}

void HandoutFetch::checked()
{
    if (m_step != Step::Checking)
        return; // the connection ended meanwhile
    const QList<HandoutPlan> plans = m_checking.result();
    for (qsizetype i = 0; i < m_entries.size() && i < plans.size(); ++i) {
        const wire::HandoutEntry &entry = m_entries[i];
        switch (plans[i].need) {
        case HandoutNeed::Fetch:
        case HandoutNeed::Replace:
            m_toFetch << plans[i];
            break;
        case HandoutNeed::AlreadyThere:
            // The lecturer's file, whoever put it there: a newer one may replace it.
            m_alreadyThere.add(entry.fileName);
            remember({plans[i].there, entry.size, entry.sha256});
            break;
        case HandoutNeed::BadName:
        case HandoutNeed::Stopped:
            m_failed.add(QStringLiteral("%1 (この名前では保存できません)").arg(entry.fileName));
            break;
        }
    }
    m_entries.clear();
    fetchNext();
}

void HandoutFetch::fetchNext()
{
    if (m_toFetch.isEmpty()) {
        finish();
        return;
    }
    m_incoming = std::make_unique<IncomingHandout>(m_folder, m_toFetch.takeFirst());
    setStep(Step::Requesting);
    m_lastPercent = -1;
    showProgress();
    m_sendGet(wire::getLine(m_incoming->entry().fileName));
}

// A size other than the listed one is refused before any byte is written;
// its bytes cannot be told from lines, so the connection ends.
Result<> HandoutFetch::takeData(const QString &line)
{
    const wire::HandoutEntry &entry = m_incoming->entry();
    const std::optional<qint64> size = wire::parseCountReply(line);
    if (!size)
        return fail(QStringLiteral("%1 の大きさがありません").arg(entry.fileName));
    if (*size != entry.size)
        return fail(QStringLiteral("%1 の大きさ %2 バイトが一覧の %3 バイトと違います")
                        .arg(entry.fileName)
                        .arg(*size)
                        .arg(entry.size));
    (void)m_incoming->begin(); // finish() tells why, once the bytes are taken
    setStep(Step::Receiving);
    if (m_incoming->remaining() == 0)
        endFile();
    return Result<>::success();
}

void HandoutFetch::takeBytes(QByteArrayView &data)
{
    if (!wantsBytes())
        return;
    m_incoming->take(data);
    if (m_incoming->remaining() == 0)
        endFile();
    else
        showProgress();
}

void HandoutFetch::endFile()
{
    const std::unique_ptr<IncomingHandout> done = std::move(m_incoming);
    const Result<QString> saved = done->finish();
    if (saved) {
        remember({*saved, done->entry().size, done->entry().sha256});
        // At once, not when the fetch ends: a program killed in the middle
        // of a fetch still knows the files it saved as its own.
        writeRecord();
        if (done->retired() == Retired::ToTrash || done->retired() == Retired::ToOldFolder)
            m_replaced.add(retiredShown(*saved, done->retired()));
        else
            m_saved.add(*saved);
    } else
        m_failed.add(QStringLiteral("%1 (%2)").arg(done->entry().fileName, saved.error()));
    fetchNext();
}

void HandoutFetch::refused(const QString &reason)
{
    if (!m_incoming) {
        finish(QStringLiteral("配布物の一覧を受け取れませんでした: ") + shownText(reason));
        return;
    }
    m_failed.add(QStringLiteral("%1 (%2)").arg(m_incoming->entry().fileName, shownText(reason)));
    m_incoming.reset();
    fetchNext();
}

void HandoutFetch::showProgress()
{
    const qint64 size = m_incoming->entry().size;
    const int percent = size > 0 ? int(m_incoming->received() * 100 / size) : 0;
    if (percent == m_lastPercent)
        return;
    m_lastPercent = percent;
    Q_EMIT statusChanged(
        QStringLiteral("配布物を受信中: %1 %2%").arg(m_incoming->entry().fileName).arg(percent));
}

void HandoutFetch::abandon()
{
    if (!active())
        return;
    stopChecking();
    const QString lost = m_protocolError.isEmpty() ? QStringLiteral("受信中に接続が切れました")
                                                   : QStringLiteral("受け取りを取りやめました");
    if (m_step == Step::Checking)
        for (const wire::HandoutEntry &entry : std::as_const(m_entries))
            m_failed.add(QStringLiteral("%1 (確認中に接続が切れました)").arg(entry.fileName));
    if (m_incoming)
        m_failed.add(QStringLiteral("%1 (%2)").arg(m_incoming->entry().fileName, lost));
    for (const HandoutPlan &plan : std::as_const(m_toFetch))
        m_failed.add(QStringLiteral("%1 (接続が切れました)").arg(plan.entry.fileName));
    m_toFetch.clear();
    m_incoming.reset();
    if (!m_protocolError.isEmpty())
        finish(m_protocolError);
    else
        finish(m_step == Step::Listing || m_step == Step::Entries
                   ? QStringLiteral("配布物の一覧を受け取る前に接続が切れました｡")
                   : QString());
}

void HandoutFetch::remember(const wire::HandoutEntry &file)
{
    if (m_record.saved(file.fileName) == file)
        return;
    m_record.remember(file);
    m_recordChanged = true;
}

// Without the record, files saved in this fetch would count as the
// student's at the next one.
void HandoutFetch::writeRecord()
{
    if (m_folder && std::exchange(m_recordChanged, false))
        (void)m_record.write(m_folder->fd());
}

void HandoutFetch::stop()
{
    writeRecord();
    stopChecking();
    m_incoming.reset();
    m_toFetch.clear();
    m_entries.clear();
    setStep(Step::Idle);
}

void HandoutFetch::finish(const QString &trouble)
{
    writeRecord();
    m_entries.clear();
    m_names.clear();
    setStep(Step::Idle);
    Q_EMIT statusChanged(QString());
    QStringList lines;
    if (!trouble.isEmpty())
        lines << trouble;
    if (!m_saved.isEmpty())
        lines << QStringLiteral("保存しました: ") + m_saved.text();
    if (!m_replaced.isEmpty())
        lines << QStringLiteral("新しい版に置き換えました: ") + m_replaced.text();
    if (!m_alreadyThere.isEmpty())
        lines << QStringLiteral("既にあります: ") + m_alreadyThere.text();
    if (!m_failed.isEmpty())
        lines << QStringLiteral("保存できませんでした: ") + m_failed.text();
    if (lines.isEmpty())
        lines << QStringLiteral("配布物はありません｡");
    lines << QStringLiteral("保存先: ") + folderShown(m_folder);
    m_messages.show(lines.join(wire::Eol));
}

void HandoutFetch::setStep(Step step)
{
    const bool wasActive = active();
    m_step = step;
    if (active() != wasActive)
        Q_EMIT activeChanged();
}
