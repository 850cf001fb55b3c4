#include "platform/qttextlog.h"

#include <QTextCursor>

QtTextLog::QtTextLog(QWidget *parent, qsizetype maxShown)
    : QPlainTextEdit(parent), m_maxShown(qMax<qsizetype>(maxShown, 1))
{
    // A lecture produces many entries; an undo history of them only costs memory.
    setUndoRedoEnabled(false);
    setLineWrapMode(QPlainTextEdit::NoWrap);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
}

void QtTextLog::insertAtTop(const QString &block)
{
    QString lines = block;
    lines.replace(QStringLiteral("\r\n"), QStringLiteral("\n")).replace(u'\r', u'\n');
    QTextCursor cursor(document());
    cursor.movePosition(QTextCursor::Start);
    cursor.insertText(lines);
    m_shown.push_front(std::move(lines));
    if (qsizetype(m_shown.size()) > m_maxShown)
        moveOldestToDisk();
}

void QtTextLog::moveOldestToDisk()
{
    QString oldest = std::move(m_shown.back());
    m_shown.pop_back();
    // The oldest entry is the end of the text, unless the lecturer edited or
    // emptied the box; an end that differs is left as the lecturer made it.
    QTextCursor cursor(document());
    cursor.movePosition(QTextCursor::End);
    const int start = cursor.position() - int(oldest.size());
    if (start >= 0) {
        cursor.setPosition(start, QTextCursor::KeepAnchor);
        if (cursor.selectedText() == QString(oldest).replace(u'\n', QChar::ParagraphSeparator))
            cursor.removeSelectedText();
    }
    m_older.append(cp932::encode(oldest.replace(u'\n', QStringLiteral("\r\n"))));
}

QString QtTextLog::text() const
{
    return toPlainText().replace(u'\n', QStringLiteral("\r\n"));
}

bool QtTextLog::writeComplete(const std::function<bool(const QByteArray &)> &write) const
{
    return write(cp932::encode(text())) && m_older.readNewestFirst(write);
}
