#pragma once

#include "common/cp932.h"

#include <QByteArray>
#include <QString>
#include <functional>

// The server's activity log: entries go in at the top, so the newest is the
// first line. Text uses CR LF between lines.
class TextLog
{
public:
    virtual ~TextLog() = default;
    // Puts `block` (normally ending in CR LF) in front of the current text.
    virtual void insertAtTop(const QString &block) = 0;
    // What the log shows.
    virtual QString text() const = 0;
    // The complete log of the run in code page 932, newest first: text()
    // followed by the older entries that are no longer shown. It is handed
    // to `write` in pieces; false when a piece was not written or was lost.
    virtual bool writeComplete(const std::function<bool(const QByteArray &)> &write) const
    {
        return write(cp932::encode(text()));
    }
};

// A log kept in memory: for tests and for code that runs without a window.
class MemoryTextLog : public TextLog
{
public:
    void insertAtTop(const QString &block) override { m_text.prepend(block); }
    QString text() const override { return m_text; }

private:
    QString m_text;
};
