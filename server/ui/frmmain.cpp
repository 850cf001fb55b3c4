#include "server/ui/frmmain.h"

#include "platform/qttextlog.h"
#include "platform/twips.h"
#include "server/app/lectureserver.h"

#include <QCoreApplication>
#include <QHeaderView>
#include <QLabel>
#include <QMenuBar>
#include <QTableView>

namespace {

const QString AppTitle = QStringLiteral("Tavrelle");

QFont gridFont(bool bold)
{
    QFont font(QStringLiteral("ＭＳ Ｐゴシック"), 9);
    font.setStyleHint(QFont::SansSerif);
    font.setBold(bold);
    return font;
}

} // namespace

FrmMain::FrmMain(QWidget *parent) : QMainWindow(parent), m_dialogs(this), m_messages(this, AppTitle)
{
    setObjectName(QStringLiteral("frmMain"));
    setWindowTitle(AppTitle);
    buildControls();
    m_server = std::make_unique<LectureServer>(m_dialogs, m_messages, *m_txtOutput);
    m_userInfoGrid->setModel(&m_server->grid());
    connect(&m_server->grid(), &RosterGrid::columnWidthChanged, this,
            [this](int column, int twips) {
                m_userInfoGrid->setColumnWidth(column, twipsToPixels(twips));
            });
    bindLecture();
    buildMenus();
    // A fixed-size window: nothing is laid out again at run time.
    setFixedSize(sizeHint());
}

FrmMain::~FrmMain() = default;

QLabel *FrmMain::addLabel(const char *name, const QString &text, const QRect &rect, bool bold)
{
    auto *label = new QLabel(text, m_client);
    label->setObjectName(QString::fromLatin1(name));
    label->setGeometry(rect);
    if (bold)
        label->setFont(gridFont(true));
    return label;
}

void FrmMain::buildControls()
{
    m_client = new QWidget(this);
    m_client->setFixedSize(twipsToPixels(6000), twipsToPixels(5172));
    setCentralWidget(m_client);

    addLabel("Label1", QStringLiteral("(講義名）"), twipsRect(120, 480, 2412, 252), false);
    m_kougimei = addLabel("kougimei", QString(), twipsRect(120, 720, 2412, 252), true);
    addLabel("Label2", QStringLiteral("(講義担当者)"), twipsRect(2760, 480, 2292, 252), false);
    m_tantousya = addLabel("tantousya", QString(), twipsRect(2760, 720, 2412, 252), true);
    addLabel("Label3", QStringLiteral("（課題提出先）"), twipsRect(120, 1080, 1092, 252), false);
    m_kadaidir = addLabel("kadaidir", QString(), twipsRect(1320, 1080, 3852, 252), true);

    m_userInfoGrid = new QTableView(m_client);
    m_userInfoGrid->setObjectName(QStringLiteral("UserInfoGrid"));
    m_userInfoGrid->setGeometry(twipsRect(120, 1440, 5772, 2244));
    m_userInfoGrid->setFont(gridFont(false));
    m_userInfoGrid->verticalHeader()->hide();
    m_userInfoGrid->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    m_userInfoGrid->verticalHeader()->setDefaultSectionSize(twipsToPixels(240));
    m_userInfoGrid->horizontalHeader()->setHighlightSections(false);
    m_userInfoGrid->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_userInfoGrid->setWordWrap(false);

    m_txtOutput = new QtTextLog(m_client);
    m_txtOutput->setObjectName(QStringLiteral("TxtOutput"));
    m_txtOutput->setGeometry(twipsRect(120, 3720, 5772, 1092));

    setTabOrder(m_txtOutput, m_userInfoGrid);
}

void FrmMain::bindLecture()
{
    Lecture &lecture = m_server->lecture();
    connect(&lecture, &Lecture::kougimeiChanged, m_kougimei, &QLabel::setText);
    connect(&lecture, &Lecture::tantousyaChanged, m_tantousya, &QLabel::setText);
    connect(&lecture, &Lecture::kadaidirChanged, m_kadaidir, &QLabel::setText);
}

void FrmMain::buildMenus()
{
    QMenu *mnuFile = menuBar()->addMenu(QStringLiteral("ﾌｧｲﾙ(&F)"));
    mnuFile->setObjectName(QStringLiteral("mnuFile"));
    QAction *open =
        mnuFile->addAction(QStringLiteral("開く(&O)"), this, &FrmMain::mnuFileOpen_Click);
    open->setObjectName(QStringLiteral("mnuFileOpen"));
    open->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_O));
    QAction *close =
        mnuFile->addAction(QStringLiteral("閉じる(&C)"), this, &FrmMain::mnuFileClose_Click);
    close->setObjectName(QStringLiteral("mnuFileClose"));
}

bool FrmMain::Form_Load(const QString &settingsPath)
{
    m_server->roster().open();
    QCoreApplication::processEvents();
    return m_server->start(settingsPath);
}

void FrmMain::mnuFileOpen_Click()
{
    m_server->roster().open();
}

void FrmMain::mnuFileClose_Click()
{
    m_server->roster().close();
}
