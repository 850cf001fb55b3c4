#pragma once

#include "server/term/classlist.h"
#include "server/term/rosterwriter.h"

#include <QByteArray>
#include <QDialog>

class FileDialogs;
class MessageBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QTableWidget;
struct Desktop;

// ﾌｧｲﾙ > 名簿の取り込み: the registrar's class list shown as it will be
// read (encoding, heading row, the ID and name columns, the first students)
// with what keeps it from being a roster. 取り込む asks where to save the
// roster and writes it.
class FrmImport : public QDialog
{
    Q_OBJECT
public:
    // Number of students the preview shows.
    static constexpr int PreviewRows = 10;

    FrmImport(QByteArray bytes, const RosterHeader &header, FileDialogs &dialogs,
              MessageBox &messages, QWidget *parent = nullptr);

    // The roster written, once the dialog was accepted.
    const QString &rosterPath() const { return m_rosterPath; }

    void takeIn();

private:
    void buildControls(const RosterHeader &header);
    void fillColumnChoices();
    void refresh();
    void showPreview(const ListedStudents &listed);
    RosterHeader header() const;
    static ColumnChoice choiceOf(const QComboBox &box);

    const QByteArray m_bytes;
    FileDialogs &m_dialogs;
    MessageBox &m_messages;
    QLineEdit *m_lecture = nullptr;
    QLineEdit *m_lecturer = nullptr;
    QLineEdit *m_folder = nullptr;
    QComboBox *m_idColumn = nullptr;
    QComboBox *m_nameColumn = nullptr;
    QLabel *m_description = nullptr;
    QTableWidget *m_preview = nullptr;
    QPlainTextEdit *m_problems = nullptr;
    QPushButton *m_takeIn = nullptr;
    ListedStudents m_listed;
    bool m_readable = false;
    QString m_rosterPath;
};

// The whole command: the open-file dialog for the class list, the preview,
// the roster written. The roster's path, or an empty text when nothing was
// written. `header` fills the fields at first.
QString importClassList(const Desktop &desktop, const RosterHeader &header, QWidget *parent);
