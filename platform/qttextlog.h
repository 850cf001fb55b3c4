#pragma once

#include "platform/entryspool.h"
#include "platform/textlog.h"

#include <QPlainTextEdit>
#include <deque>

// The activity log as an editable multi-line text box. The lecturer may edit
// it; text() returns what the box holds. The box keeps the newest entries
// only; older ones move to a file on disk, so a server left running for days
// does not grow without bound, and the complete log can still be saved.
class QtTextLog : public QPlainTextEdit, public TextLog
{
    Q_OBJECT
public:
    static constexpr qsizetype MaxShownEntries = 10000;

    explicit QtTextLog(QWidget *parent = nullptr, qsizetype maxShown = MaxShownEntries);
    void insertAtTop(const QString &block) override;
    QString text() const override;
    bool writeComplete(const std::function<bool(const QByteArray &)> &write) const override;

private:
    void moveOldestToDisk();

    qsizetype m_maxShown;
    // The shown entries as inserted (LF line ends), newest first.
    std::deque<QString> m_shown;
    EntrySpool m_older;
};
