#include "platform/qttextlog.h"

#include <QTextCursor>

QtTextLog::QtTextLog(QWidget *parent) : QPlainTextEdit(parent)
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
}

QString QtTextLog::text() const
{
    return toPlainText().replace(u'\n', QStringLiteral("\r\n"));
}
