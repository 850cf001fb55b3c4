#pragma once

#include "common/result.h"

#include <QWidget>
#include <optional>

class AttendanceLedger;
class FolderChooser;
class LedgerModel;
class MessageBox;
class ProcessStarter;
class QDateEdit;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QTableView;
enum class SessionStatus : char;
struct Desktop;

// 表示 > 出席簿: the term's ledger of the lecture, students by sessions,
// with the totals and a summary. The lecturer corrects the selected cells
// (公, 出, 欠, or back to what was recorded), adds a session held without
// the server or drops a date, names other machines' journal folders, and
// saves or copies the ledger.
class FrmLedger : public QWidget
{
    Q_OBJECT
public:
    FrmLedger(const Desktop &desktop, FolderChooser &folders, QWidget *parent = nullptr);
    ~FrmLedger() override;

    AttendanceLedger &ledger() { return *m_ledger; }
    // Builds the ledger of the roster at `rosterPath`; fails, with the
    // message for the lecturer, when it cannot.
    Result<> open(const QString &rosterPath, const QString &clipboardDelimiter);
    // The ms-exceldir command that 表計算で開く starts.
    void setSpreadsheetCommand(const QString &command) { m_spreadsheetCommand = command; }

    // The commands of the buttons, by name.
    void correctSelected(std::optional<SessionStatus> status);
    void addSession();
    void dropSelectedSession();
    void addFolder();
    void openInSpreadsheet();

private:
    void buildControls();
    QWidget *buildCorrectionRow();
    QWidget *buildSessionRow();
    QWidget *buildOutputRow();
    void showLedger();
    QString settingsText() const;

    MessageBox &m_messages;
    FolderChooser &m_folders;
    ProcessStarter &m_processes;
    QString m_spreadsheetCommand;
    AttendanceLedger *m_ledger = nullptr;
    LedgerModel *m_model = nullptr;
    QLabel *m_settings = nullptr;
    QTableView *m_table = nullptr;
    QLabel *m_summary = nullptr;
    QLabel *m_offRoster = nullptr;
    QLineEdit *m_reason = nullptr;
    QDateEdit *m_newSession = nullptr;
    QPlainTextEdit *m_status = nullptr;
};
