#include "client/ui/mainform.h"

#include "client/studentclient.h"
#include "platform/widgets/twips.h"

#include <QCloseEvent>
#include <QLabel>
#include <QPushButton>

namespace {

const QString AppTitle = QStringLiteral("Tavrelleクライアント");
constexpr int ClientWidth = 3960;
// The three buttons of old keep their places; the handout button sits below.
constexpr int ClientHeight = 2472;
constexpr int StatusHeight = 280;
constexpr int Panel1Width = 200;

} // namespace

MainForm::MainForm(MessageBox *messages, FileDialogs *dialogs, QWidget *parent)
    : QWidget(parent), m_qtMessages(this, AppTitle), m_assignmentDialog(this),
      m_messages(messages ? *messages : m_qtMessages),
      m_dialogs(dialogs ? *dialogs : m_assignmentDialog)
{
    setObjectName(QStringLiteral("MainForm"));
    setWindowTitle(AppTitle);
    setFixedSize(twipsToPixels(ClientWidth), twipsToPixels(ClientHeight));
    buildControls();
}

MainForm::~MainForm() = default;

QLabel *MainForm::addLabel(const char *name, const QString &text, const QRect &rect)
{
    auto *label = new QLabel(this);
    // Lecture names come from the network: shown as written, never as markup.
    label->setTextFormat(Qt::PlainText);
    label->setText(text);
    return placed(label, name, rect);
}

QPushButton *MainForm::addButton(const char *name, const QString &text, const QRect &rect)
{
    return placed(new QPushButton(text, this), name, rect);
}

void MainForm::buildControls()
{
    addLabel("Label1", QStringLiteral("講義名:"), twipsRect(120, 120, 732, 252));
    m_kougimei = addLabel("kougimei", QString(), twipsRect(840, 120, 2892, 252));
    addLabel("Label2", QStringLiteral("講義担当者:"), twipsRect(120, 480, 1092, 252));
    m_tantousya = addLabel("tantousya", QString(), twipsRect(1200, 480, 2532, 252));
    m_syukketuBtn = addButton("SYUKKETUBTN", QStringLiteral("出欠"), twipsRect(120, 960, 852, 492));
    m_btnSendData = addButton("btnSendData", QStringLiteral("課題"), twipsRect(960, 960, 972, 492));
    m_btnReConnect =
        addButton("btnReConnect", QStringLiteral("再接続"), twipsRect(1920, 960, 972, 492));
    m_btnHaifu = addButton("btnHaifu", QStringLiteral("配布物"), twipsRect(120, 1560, 852, 492));
    m_btnHaifu->setEnabled(false);
    setTabOrder(m_syukketuBtn, m_btnSendData);
    setTabOrder(m_btnSendData, m_btnReConnect);
    setTabOrder(m_btnReConnect, m_btnHaifu);

    // The status bar along the bottom edge: a narrow first panel that stays
    // empty and a second one for the upload texts.
    const int top = ClientHeight - StatusHeight;
    m_panel1 = addLabel("StatusBarPanel1", QString(), twipsRect(0, top, Panel1Width, StatusHeight));
    m_panel2 = addLabel("StatusBarPanel2", QString(),
                        twipsRect(Panel1Width, top, ClientWidth - Panel1Width, StatusHeight));
    for (QLabel *panel : {m_panel1, m_panel2})
        panel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
}

bool MainForm::Form_Load(const std::optional<QString> &userName, const QString &folder)
{
    const Result<ClientSettings> settings = prepareClient(userName, folder);
    if (!settings) {
        m_messages.show(settings.error());
        return false;
    }
    m_client = std::make_unique<StudentClient>(settings->userName, settings->serverAddress,
                                               settings->serverPort, m_messages, m_dialogs);
    m_client->setHandoutFolder(settings->handoutFolder);
    bindClient();
    setWindowTitle(windowTitle() + QStringLiteral(" - ") + settings->userName);
    if (const Result<> started = m_client->start(); !started) {
        m_messages.show(started.error());
        return false;
    }
    return true;
}

void MainForm::bindClient()
{
    StudentClient *client = m_client.get();
    connect(m_syukketuBtn, &QPushButton::clicked, client, &StudentClient::SYUKKETUBTN_Click);
    connect(m_btnSendData, &QPushButton::clicked, client, &StudentClient::btnSendData_Click);
    connect(m_btnReConnect, &QPushButton::clicked, client, &StudentClient::btnReConnect_Click);
    connect(m_btnHaifu, &QPushButton::clicked, client, &StudentClient::btnHandouts_Click);
    connect(client, &StudentClient::buttonsChanged, this, &MainForm::showButtons);
    connect(client, &StudentClient::lectureChanged, this, &MainForm::showLecture);
    connect(client, &StudentClient::statusChanged, this,
            [this, client] { m_panel2->setText(client->statusText()); });
    showButtons();
}

void MainForm::showButtons()
{
    const StudentClient::Buttons &buttons = m_client->buttons();
    m_syukketuBtn->setEnabled(buttons.attendance);
    m_btnSendData->setEnabled(buttons.upload);
    m_btnReConnect->setEnabled(buttons.reconnect);
    m_btnHaifu->setEnabled(buttons.handouts);
}

void MainForm::showLecture()
{
    m_kougimei->setText(m_client->kougimei());
    m_tantousya->setText(m_client->tantousya());
}

void MainForm::closeEvent(QCloseEvent *event)
{
    if (m_client && !m_client->mayClose()) {
        event->ignore();
        return;
    }
    // The server sees the connection close; nothing is sent before.
    if (m_client)
        m_client->closeForExit();
    event->accept();
}
