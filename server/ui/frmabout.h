#pragma once

#include <QDialog>

class MessageBox;
class ProcessStarter;
class QLabel;
class QPushButton;
class Registry;

// The about box: the program's title, version and support contact, and a
// button that starts the system's own system-information program. It is
// created for each showing and sets its texts every time it loads.
class frmAbout : public QDialog
{
    Q_OBJECT
public:
    frmAbout(Registry &registry, ProcessStarter &processes, MessageBox &messages,
             QWidget *owner = nullptr);

public Q_SLOTS:
    void cmdOK_Click();
    void cmdSysInfo_Click();

protected:
    void showEvent(QShowEvent *event) override;
    void paintEvent(QPaintEvent *event) override;

private:
    void Form_Load();
    QLabel *addLabel(const char *name, const QRect &rect);
    QPushButton *addButton(const char *name, const QString &caption, const QRect &rect);

    Registry &m_registry;
    ProcessStarter &m_processes;
    MessageBox &m_messages;
    QLabel *m_lblTitle = nullptr;
    QLabel *m_lblVersion = nullptr;
    QLabel *m_lblDescription = nullptr;
};
