#pragma once

#include "platform/textlog.h"
#include "server/records/journalfile.h"

#include <QDate>
#include <QObject>

// The activity log as the server writes it: every entry goes to the log the
// lecturer sees and is appended to the day's log journal beside the lecture
// journals, oldest first, each entry after the time it was made.
class JournaledLog : public QObject, public TextLog
{
    Q_OBJECT
public:
    explicit JournaledLog(TextLog &shown, QObject *parent = nullptr);

    static QString pathFor(QDate day);

    void insertAtTop(const QString &block) override;
    QString text() const override { return m_shown.text(); }
    bool writeComplete(const std::function<bool(const QByteArray &)> &write) const override
    {
        return m_shown.writeComplete(write);
    }

Q_SIGNALS:
    // The day's log cannot be written: sent once until writing works again.
    void failed(const QString &text);

private:
    void report(const Result<> &outcome);

    TextLog &m_shown;
    JournalFile m_file;
    QDate m_day; // of the open file
    bool m_failing = false;
};
