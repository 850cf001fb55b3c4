#include "server/records/journalsummary.h"

#include "server/records/journalcodec.h"

#include <cstring>

namespace {

using journalcodec::isDigits;

bool isDottedAddress(QByteArrayView field)
{
    int dots = 0;
    qsizetype start = 0;
    for (;; ++dots) {
        const qsizetype dot = field.indexOf('.', start);
        const QByteArrayView part = field.sliced(start, (dot < 0 ? field.size() : dot) - start);
        if (!isDigits(part, 3) || part.toInt() > 255)
            return false;
        if (dot < 0)
            break;
        start = dot + 1;
    }
    return dots == 3;
}

bool isId(QByteArrayView field)
{
    return !field.isEmpty() && field.size() <= JournalSummary::MaxIdBytes;
}

// Looks `view` up without copying it.
QByteArray keyOf(QByteArrayView view)
{
    return QByteArray::fromRawData(view.data(), view.size());
}

} // namespace

Result<> JournalSummary::read(const QString &path, qint64 from)
{
    return m_scanner.scanFile(path, *this, from);
}

QList<qint64> JournalSummary::namedSkips() const
{
    QList<qint64> lines;
    for (const JournalScanner::BadLine &line : m_scanner.namedBadLines())
        lines << line.number;
    return lines;
}

bool JournalSummary::minds(JournalKind kind) const
{
    // The lecture line, handouts, refusals and the kinds of later versions
    // say nothing about attendance or submissions.
    return kind == JournalKind::Mark || kind == JournalKind::ClaimAgain ||
           kind == JournalKind::Submission || kind == JournalKind::Blank;
}

bool JournalSummary::take(const JournalEvent &event, qint64)
{
    switch (event.kind) {
    case JournalKind::Mark:
    case JournalKind::ClaimAgain:
        if (!isId(event.userId) || !isDottedAddress(event.address))
            return false;
        event.kind == JournalKind::Mark ? takeMark(event) : takeClaim(event);
        return true;
    case JournalKind::Submission:
        if (!isId(event.userId))
            return false;
        takeSubmission(event);
        return true;
    case JournalKind::OffRoster:
        // Not minded: a broken one is passed over, as before these were read.
        if (isId(event.userId))
            takeOffRoster(event);
        return true;
    default:
        return true;
    }
}

bool JournalSummary::roomFor(const QByteArray &id)
{
    if (m_ids.contains(keyOf(id)))
        return true;
    if (m_ids.size() >= MaxIds) {
        ++m_idsLeftOut;
        return false;
    }
    m_ids.insert(id);
    return true;
}

void JournalSummary::takeMark(const JournalEvent &event)
{
    const auto known = m_marks.constFind(keyOf(event.userId));
    if (known != m_marks.cend()) {
        // Marked again after the table was emptied: a fact about addresses.
        if (known->address != event.address)
            takeClaim(event);
        return;
    }
    const QByteArray id = event.userId.toByteArray();
    if (!roomFor(id))
        return;
    m_marks.insert(id, {event.time.toByteArray(), event.address.toByteArray()});
    m_markOrder << id;
}

void JournalSummary::takeClaim(const JournalEvent &event)
{
    const QByteArray id = event.userId.toByteArray();
    const QByteArray key = id + ',' + event.address.toByteArray();
    if (!roomFor(id) || m_othersSeen.contains(key) || m_othersSeen.size() >= MaxIds)
        return;
    m_othersSeen.insert(key);
    m_others.append({id, event.address.toByteArray()});
}

void JournalSummary::takeSubmission(const JournalEvent &event)
{
    // Most lines of a long journal are later receipts of IDs already seen.
    if (const auto stamp = m_stamps.find(keyOf(event.userId)); stamp != m_stamps.end()) {
        std::memcpy(stamp->time.data(), event.time.data(), size_t(event.time.size()));
        stamp->lateSeconds = event.lateSeconds;
        return;
    }
    const QByteArray id = event.userId.toByteArray();
    if (!roomFor(id))
        return;
    m_stamps.insert(id, {event.time.toByteArray(), event.lateSeconds});
    m_stampOrder << id;
}

void JournalSummary::takeOffRoster(const JournalEvent &event)
{
    if (m_offRoster.contains(keyOf(event.userId)))
        return;
    const QByteArray id = event.userId.toByteArray();
    if (!roomFor(id))
        return;
    m_offRoster.insert(id, {event.time.toByteArray(), event.address.toByteArray()});
    m_offRosterOrder << id;
}
