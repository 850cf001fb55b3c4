#include "server/ui/frmabout.h"

#include "platform/widgets/twips.h"
#include "server/app/sysinfo.h"
#include "server/ui/japanesefont.h"

#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QVersionNumber>

namespace {

const QString AppTitle = QStringLiteral("Tavrelle");
const QString SupportAddress = QStringLiteral("support@tavrelle.example");

// "Version " and the major, minor and revision numbers of `version`
// ("0.0.23"), each without leading zeros.
QString versionText(const QString &version)
{
    const QVersionNumber number = QVersionNumber::fromString(version);
    return QStringLiteral("Version %1.%2.%3")
        .arg(number.majorVersion())
        .arg(number.minorVersion())
        .arg(number.microVersion());
}

} // namespace

frmAbout::frmAbout(Registry &registry, ProcessStarter &processes, MessageBox &messages,
                   QWidget *owner)
    : QDialog(owner, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::CustomizeWindowHint |
                         Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                         Qt::WindowCloseButtonHint),
      m_registry(registry), m_processes(processes), m_messages(messages)
{
    setObjectName(QStringLiteral("frmAbout"));
    setWindowTitle(QStringLiteral("ﾊﾞｰｼﾞｮﾝ情報 quaymoor"));
    setFont(japaneseFont());
    setFixedSize(twipsToPixels(5676), twipsToPixels(3648));

    auto *picIcon = new QLabel(this);
    picIcon->setObjectName(QStringLiteral("picIcon"));
    picIcon->setGeometry(twipsToPixels(240), twipsToPixels(240), 32, 32);
    picIcon->setPixmap(QPixmap(QStringLiteral(":/images/tavrelle32.png")));

    m_lblTitle = addLabel("lblTitle", twipsRect(1050, 240, 3885, 480));
    m_lblTitle->setFont(japaneseFont(14));
    m_lblVersion = addLabel("lblVersion", twipsRect(1050, 780, 3885, 225));
    m_lblDescription = addLabel("lblDescription", twipsRect(1050, 1125, 3885, 1170));
    // At 9 points the first line needs a few pixels more than the label has.
    m_lblDescription->setFont(japaneseFont(8));
    m_lblDescription->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    QLabel *disclaimer = addLabel("lblDisclaimer", twipsRect(255, 2625, 3870, 825));
    disclaimer->setText(QStringLiteral("警告: ..."));
    disclaimer->setAlignment(Qt::AlignLeft | Qt::AlignTop);

    QPushButton *ok = addButton("cmdOK", QStringLiteral("OK"), twipsRect(4245, 2625, 1260, 345));
    QPushButton *sysInfo = addButton("cmdSysInfo", QStringLiteral("ｼｽﾃﾑ情報(&S)..."),
                                     twipsRect(4260, 3075, 1245, 345));
    // Enter presses OK wherever the focus is; Esc closes the box as QDialog
    // does by itself.
    ok->setDefault(true);
    sysInfo->setAutoDefault(false);
    setTabOrder(ok, sysInfo);
    ok->setFocus();
    connect(ok, &QPushButton::clicked, this, &frmAbout::cmdOK_Click);
    connect(sysInfo, &QPushButton::clicked, this, &frmAbout::cmdSysInfo_Click);

    Form_Load();
}

QLabel *frmAbout::addLabel(const char *name, const QRect &rect)
{
    auto *label = placed(new QLabel(this), name, rect);
    label->setWordWrap(true);
    return label;
}

QPushButton *frmAbout::addButton(const char *name, const QString &caption, const QRect &rect)
{
    return placed(new QPushButton(caption, this), name, rect);
}

void frmAbout::Form_Load()
{
    m_lblTitle->setText(AppTitle);
    m_lblVersion->setText(versionText(QStringLiteral(TAVRELLE_VERSION)));
    m_lblDescription->setText(QStringLiteral("出欠管理、課題提出のサポートを行うアプリケーション\n"
                                             "バグ、サポート連絡先: ") +
                              SupportAddress + QStringLiteral("\nまでお願いします｡"));
}

void frmAbout::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    // QDialog guesses the owner's frame and is off by the title bar without
    // a window manager: centre on the owner's frame directly.
    if (QWidget *owner = parentWidget()) {
        const QRect frame = owner->window()->frameGeometry();
        move(frame.center() - QRect(QPoint(), frameSize()).center());
    }
}

void frmAbout::paintEvent(QPaintEvent *event)
{
    QDialog::paintEvent(event);
    // The etched rule: a grey line with a white one of two pixels just
    // below it.
    QPainter painter(this);
    const int right = twipsToPixels(5450);
    const int greyLeft = twipsToPixels(225);
    const int greyY = twipsToPixels(2430);
    const int whiteLeft = twipsToPixels(240);
    const int whiteY = twipsToPixels(2445);
    painter.fillRect(QRect(QPoint(greyLeft, greyY), QPoint(right, greyY)), QColor(128, 128, 128));
    painter.fillRect(QRect(QPoint(whiteLeft, whiteY), QPoint(right, whiteY + 1)), Qt::white);
}

void frmAbout::cmdOK_Click()
{
    accept();
}

void frmAbout::cmdSysInfo_Click()
{
    StartSysInfo(m_registry, m_processes, m_messages);
}
