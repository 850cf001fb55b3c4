#pragma once

#include "common/result.h"
#include "server/term/ledger.h"
#include "server/term/ledgercorrections.h"

#include <QObject>
#include <optional>

class Clipboard;
class FileDialogs;
class MessageBox;

// The lecturer's commands on the term's ledger: build it from a roster and
// the journals, correct cells, add or drop sessions (each correction kept at
// once in the corrections file), name other machines' journal folders, and
// hand the ledger out as a CSV file or on the clipboard.
class AttendanceLedger : public QObject
{
    Q_OBJECT
public:
    AttendanceLedger(FileDialogs &dialogs, MessageBox &messages, Clipboard &clipboard,
                     QObject *parent = nullptr);

    // Builds the ledger of the roster at `rosterPath`; fails, with the
    // message for the lecturer, when the roster cannot be used. What was
    // passed over is in problems(), which follows every rebuild.
    Result<> open(const QString &rosterPath);

    const Ledger &ledger() const { return m_ledger; }
    const LedgerSource &source() const { return m_source; }
    const LedgerCorrections &corrections() const { return m_corrections; }
    // Everything passed over: course keys, corrections, journals.
    QStringList problems() const;

    // Reads the journals of another machine as well.
    void addFolder(const QString &folder);
    void rebuild();

    // Sets the status of the students `userIds` at session `date`, or takes
    // the correction back (no status).
    void correct(QDate date, const QStringList &userIds, std::optional<SessionStatus> status,
                 const QString &reason);
    void addSession(QDate date);
    void dropSession(QDate date);

    void saveCsv();
    // The ledger as saveCsv() writes it: CSV in code page 932.
    QByteArray csv() const;
    // On the clipboard with the table's delimiter, for a spreadsheet.
    void copy();
    void setClipboardDelimiter(const QString &delimiter) { m_delimiter = delimiter; }

Q_SIGNALS:
    void changed();

private:
    void keep();

    FileDialogs &m_dialogs;
    MessageBox &m_messages;
    Clipboard &m_clipboard;
    LedgerSource m_source;
    LedgerCorrections m_corrections;
    QString m_correctionsProblem;
    Ledger m_ledger;
    QString m_delimiter = QStringLiteral(",");
};
