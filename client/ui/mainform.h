#pragma once

#include "client/clientstartup.h"
#include "client/ui/assignmentdialog.h"
#include "platform/widgets/qtdialogs.h"

#include <QWidget>
#include <memory>

class QLabel;
class QPushButton;
class StudentClient;

// The student's window: lecture labels, the four buttons and the status
// bar. It displays what StudentClient holds and passes clicks on to it; the
// connection, from the first attempt to the close, is StudentClient's.
class MainForm : public QWidget
{
    Q_OBJECT
public:
    // The message box and file dialog default to the window system's; tests
    // hand in their own.
    explicit MainForm(MessageBox *messages = nullptr, FileDialogs *dialogs = nullptr,
                      QWidget *parent = nullptr);
    ~MainForm() override;

    // The start-up before the window is shown. False when the program has
    // to end; the student has been told why.
    bool Form_Load(const std::optional<QString> &userName, const QString &folder);

    StudentClient *client() const { return m_client.get(); }

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void buildControls();
    void bindClient();
    void showButtons();
    void showLecture();
    QLabel *addLabel(const char *name, const QString &text, const QRect &twips);
    QPushButton *addButton(const char *name, const QString &text, const QRect &twips);

    QLabel *m_kougimei = nullptr;
    QLabel *m_tantousya = nullptr;
    QPushButton *m_syukketuBtn = nullptr;
    QPushButton *m_btnSendData = nullptr;
    QPushButton *m_btnReConnect = nullptr;
    QPushButton *m_btnHaifu = nullptr;
    QLabel *m_panel1 = nullptr;
    QLabel *m_panel2 = nullptr;
    QtMessageBox m_qtMessages;
    AssignmentFileDialog m_assignmentDialog;
    MessageBox &m_messages;
    FileDialogs &m_dialogs;
    std::unique_ptr<StudentClient> m_client;
};
