#pragma once

#include <QString>

// The server's activity log: entries go in at the top, so the newest is the
// first line. Text uses CR LF between lines.
class TextLog
{
public:
    virtual ~TextLog() = default;
    // Puts `block` (normally ending in CR LF) in front of the current text.
    virtual void insertAtTop(const QString &block) = 0;
    virtual QString text() const = 0;
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
