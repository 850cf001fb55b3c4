#include "server/ui/qttextlog.h"

#include <QTextCursor>

QtTextLog::QtTextLog(QWidget *parent, qsizetype maxShown)
    : QPlainTextEdit(parent), m_maxShown(qMax<qsizetype>(maxShown, 1))
{
    // A lecture produces many entries; an undo history of them only costs memory.
    setUndoRedoEnabled(false);
    setLineWrapMode(QPlainTextEdit::NoWrap);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    m_showTimer.setSingleShot(true);
    m_showTimer.setInterval(ShowEveryMs);
    connect(&m_showTimer, &QTimer::timeout, this, &QtTextLog::showPending);
}

// The box's own selections separate lines with U+2029.
size_t QtTextLog::hashOf(const QString &shownText)
{
    return qHash(QString(shownText).replace(u'\n', QChar::ParagraphSeparator));
}

void QtTextLog::insertAtTop(const QString &block)
{
    QString lines = block;
    lines.replace(QStringLiteral("\r\n"), QStringLiteral("\n")).replace(u'\r', u'\n');
    m_pendingEntries.push_back({lines.size(), hashOf(lines)});
    m_pending.prepend(lines);
    if (!m_showTimer.isActive())
        m_showTimer.start();
}

void QtTextLog::showPending()
{
    QTextCursor cursor(document());
    cursor.movePosition(QTextCursor::Start);
    cursor.insertText(m_pending);
    m_pending.clear();
    for (const ShownEntry &entry : m_pendingEntries)
        m_shown.push_front(entry);
    m_pendingEntries.clear();
    if (qsizetype(m_shown.size()) > m_maxShown)
        moveOldestToDisk(qsizetype(m_shown.size()) - m_maxShown);
}

// Takes the oldest `count` entries off the end of the box in one edit and
// keeps them on disk. The end is read once: placing a cursor lays out its
// block, and one edit or one read per entry laid out the box again and again.
void QtTextLog::moveOldestToDisk(qsizetype count)
{
    qsizetype candidates = 0;
    for (auto entry = m_shown.end() - count; entry != m_shown.end(); ++entry)
        candidates += entry->length;
    QTextCursor cursor(document());
    cursor.movePosition(QTextCursor::End);
    const int end = cursor.position();
    cursor.setPosition(qMax(0, end - int(candidates)), QTextCursor::KeepAnchor);
    const QString tail = cursor.selectedText();
    qsizetype start = tail.size(); // where the entries taken so far begin
    std::vector<QString> moved;    // oldest first
    for (; count > 0; --count) {
        const ShownEntry oldest = m_shown.back();
        m_shown.pop_back();
        // The oldest entry is the end of the text, unless the lecturer edited
        // or emptied the box; an end that differs is left as the lecturer
        // made it.
        const qsizetype from = start - oldest.length;
        if (from < 0 || qHash(tail.sliced(from, oldest.length)) != oldest.hash)
            continue;
        moved.push_back(tail.sliced(from, oldest.length));
        start = from;
    }
    if (start == tail.size())
        return;
    cursor.setPosition(end - int(tail.size() - start));
    cursor.setPosition(end, QTextCursor::KeepAnchor);
    cursor.removeSelectedText();
    for (QString &text : moved)
        m_older.append(
            cp932::encode(text.replace(QChar::ParagraphSeparator, QStringLiteral("\r\n"))));
}

QString QtTextLog::text() const
{
    QString shown = m_pending + toPlainText();
    return shown.replace(u'\n', QStringLiteral("\r\n"));
}

bool QtTextLog::writeComplete(const std::function<bool(const QByteArray &)> &write) const
{
    return write(cp932::encode(text())) && m_older.readNewestFirst(write).ok();
}
