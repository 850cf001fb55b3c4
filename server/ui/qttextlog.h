#pragma once

#include "platform/entryspool.h"
#include "platform/textlog.h"

#include <QPlainTextEdit>
#include <QTimer>
#include <deque>
#include <vector>

// The activity log as an editable multi-line text box. The lecturer may edit
// it; text() returns what the box holds. The box keeps the newest entries
// only; older ones move to a file on disk, so a server left running for days
// does not grow without bound, and the complete log can still be saved.
class QtTextLog : public QPlainTextEdit, public TextLog
{
    Q_OBJECT
public:
    static constexpr qsizetype MaxShownEntries = 10000;
    // Entries that arrive close together are put into the box together:
    // laying out and painting the box once an entry would, under a flood of
    // lines, take all of the server's time.
    static constexpr int ShowEveryMs = 100;

    explicit QtTextLog(QWidget *parent = nullptr, qsizetype maxShown = MaxShownEntries);
    void insertAtTop(const QString &block) override;
    // The entries still waiting to be shown come first.
    QString text() const override;
    bool writeComplete(const std::function<bool(const QByteArray &)> &write) const override;

private:
    // What identifies a shown entry at the end of the box, without keeping
    // its text a second time.
    struct ShownEntry
    {
        qsizetype length;
        size_t hash;
    };

    static size_t hashOf(const QString &shownText);
    void showPending();
    void moveOldestToDisk(qsizetype count);

    qsizetype m_maxShown;
    // Waiting entries, newest first (LF line ends), and how to know them
    // again, oldest first.
    QString m_pending;
    std::vector<ShownEntry> m_pendingEntries;
    QTimer m_showTimer;
    std::deque<ShownEntry> m_shown; // newest first
    EntrySpool m_older;
};
