#include "client/handoutfetch.h"

#include "platform/dialogs.h"

#include <QDir>
#include <QStandardPaths>
#include <QtConcurrent/QtConcurrentRun>

namespace {

// A lecture name as a folder name any file system takes.
QString folderName(const QString &lectureName)
{
    static const QString forbidden = QStringLiteral("\\/:*?\"<>|");
    QString name;
    for (const QChar c : lectureName)
        name += (c.category() == QChar::Other_Control || forbidden.contains(c)) ? u'_' : c;
    while (!name.isEmpty() && (name.front() == u'.' || name.front() == u' '))
        name.remove(0, 1);
    while (!name.isEmpty() && (name.back() == u'.' || name.back() == u' '))
        name.chop(1);
    return name.isEmpty() ? QStringLiteral("配布物") : name;
}

QList<HandoutNeed> needsOf(const QString &folder, const QList<wire::HandoutEntry> &entries)
{
    QList<HandoutNeed> needs;
    for (const wire::HandoutEntry &entry : entries)
        needs << handoutNeed(folder, entry);
    return needs;
}

} // namespace

QString handoutFolderFor(const QString &override, const QString &lectureName)
{
    if (!override.isEmpty())
        return override;
    return QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation) + u'/' +
           folderName(lectureName);
}

HandoutFetch::HandoutFetch(MessageBox &messages, SendLine sendGet, QObject *parent)
    : QObject(parent), m_messages(messages), m_sendGet(std::move(sendGet))
{
    connect(&m_checking, &QFutureWatcherBase::finished, this, &HandoutFetch::checked);
}

HandoutFetch::~HandoutFetch() = default;

bool HandoutFetch::start(const QString &folder)
{
    if (active())
        return false;
    m_folder = folder;
    m_entries.clear();
    m_toFetch.clear();
    m_saved.clear();
    m_alreadyThere.clear();
    m_failed.clear();
    if (!QDir().mkpath(folder)) {
        m_messages.show(QStringLiteral("配布物の保存先 %1 を作れません｡")
                            .arg(QDir::toNativeSeparators(folder)));
        return false;
    }
    setStep(Step::Listing);
    Q_EMIT statusChanged(QStringLiteral("配布物の一覧を取得中"));
    return true;
}

bool HandoutFetch::takeCount(const QString &line)
{
    const std::optional<qint64> count = wire::parseCountReply(line);
    if (!count) {
        finish(QStringLiteral("サーバの応答が正しくありません｡"));
        return false;
    }
    m_expectedEntries = qsizetype(*count);
    if (m_expectedEntries == 0) {
        finish();
        return true;
    }
    setStep(Step::Entries);
    return true;
}

void HandoutFetch::takeEntry(const QString &line)
{
    if (const std::optional<wire::HandoutEntry> entry = wire::parseHandoutEntry(line))
        m_entries << *entry;
    else
        m_failed << QStringLiteral("%1 (一覧の行が正しくありません)").arg(line.left(80));
    if (--m_expectedEntries == 0)
        check();
}

void HandoutFetch::check()
{
    setStep(Step::Checking);
    Q_EMIT statusChanged(QStringLiteral("配布物を確認中"));
    // Files already there are read to compare: away from the window's thread.
    m_checking.setFuture(QtConcurrent::run(needsOf, m_folder, m_entries));
}

void HandoutFetch::checked()
{
    if (m_step != Step::Checking)
        return; // the connection ended meanwhile
    const QList<HandoutNeed> needs = m_checking.result();
    for (qsizetype i = 0; i < m_entries.size() && i < needs.size(); ++i) {
        const wire::HandoutEntry &entry = m_entries[i];
        switch (needs[i]) {
        case HandoutNeed::Fetch:
            m_toFetch << entry;
            break;
        case HandoutNeed::AlreadyThere:
            m_alreadyThere << entry.fileName;
            break;
        case HandoutNeed::BadName:
            m_failed << QStringLiteral("%1 (この名前では保存できません)").arg(entry.fileName);
            break;
        }
    }
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

bool HandoutFetch::takeData(const QString &line)
{
    const std::optional<qint64> size = wire::parseCountReply(line);
    if (!size) {
        m_failed << QStringLiteral("%1 (サーバの応答が正しくありません)")
                        .arg(m_incoming->entry().fileName);
        finish();
        return false;
    }
    m_incoming->begin(*size);
    setStep(Step::Receiving);
    if (m_incoming->remaining() == 0)
        endFile();
    return true;
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
    if (saved)
        m_saved << *saved;
    else
        m_failed << QStringLiteral("%1 (%2)").arg(done->entry().fileName, saved.error());
    fetchNext();
}

void HandoutFetch::refused(const QString &reason)
{
    if (!m_incoming) {
        finish(QStringLiteral("配布物の一覧を受け取れませんでした: ") + reason);
        return;
    }
    m_failed << QStringLiteral("%1 (%2)").arg(m_incoming->entry().fileName, reason);
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
    if (m_incoming)
        m_failed
            << QStringLiteral("%1 (受信中に接続が切れました)").arg(m_incoming->entry().fileName);
    for (const wire::HandoutEntry &entry : std::as_const(m_toFetch))
        m_failed << QStringLiteral("%1 (接続が切れました)").arg(entry.fileName);
    m_toFetch.clear();
    m_incoming.reset();
    finish(m_step == Step::Listing || m_step == Step::Entries
               ? QStringLiteral("配布物の一覧を受け取る前に接続が切れました｡")
               : QString());
}

void HandoutFetch::finish(const QString &trouble)
{
    setStep(Step::Idle);
    Q_EMIT statusChanged(QString());
    QStringList lines;
    if (!trouble.isEmpty())
        lines << trouble;
    if (!m_saved.isEmpty())
        lines << QStringLiteral("保存しました: ") + m_saved.join(QStringLiteral(", "));
    if (!m_alreadyThere.isEmpty())
        lines << QStringLiteral("既にあります: ") + m_alreadyThere.join(QStringLiteral(", "));
    if (!m_failed.isEmpty())
        lines << QStringLiteral("保存できませんでした: ") + m_failed.join(QStringLiteral(", "));
    if (lines.isEmpty())
        lines << QStringLiteral("配布物はありません｡");
    lines << QStringLiteral("保存先: ") + QDir::toNativeSeparators(m_folder);
    m_messages.show(lines.join(wire::Eol));
}

void HandoutFetch::setStep(Step step)
{
    const bool wasActive = active();
    m_step = step;
    if (active() != wasActive)
        Q_EMIT activeChanged();
}
