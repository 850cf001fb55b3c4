#include "server/ui/frmledger.h"

#include "common/clock.h"
#include "platform/desktop.h"
#include "platform/dialogs.h"
#include "platform/folderchooser.h"
#include "server/app/attendanceledger.h"
#include "server/app/spreadsheetlaunch.h"
#include "server/ui/ledgermodel.h"

#include <QDateEdit>
#include <QDir>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSet>
#include <QTableView>
#include <QVBoxLayout>

namespace {

QPushButton *addButton(QLayout &layout, const char *name, const QString &caption)
{
    auto *button = new QPushButton(caption);
    button->setObjectName(QLatin1String(name));
    layout.addWidget(button);
    return button;
}

QString fractionText(int numerator, int denominator)
{
    // 80, 66.7% and 0.8 are percentages: shown so.
    for (int power = 10; power <= 100000; power *= 10)
        if (denominator == power)
            return QString::number(numerator * 100.0 / denominator, 'g', 6) + u'%';
    return QStringLiteral("%1/%2").arg(numerator).arg(denominator);
}

// IDs the roster does not hold that have marks: the first ones named.
QString offRosterText(const Ledger &ledger)
{
    constexpr qsizetype Shown = 60;
    QStringList ids;
    for (size_t i = size_t(ledger.rosterRows); i < ledger.rows.size(); ++i)
        ids << ledger.rows[i].userId;
    QString text = QStringLiteral("名簿外 (%1): ").arg(ids.size()) +
                   ids.mid(0, Shown).join(QStringLiteral("、"));
    if (ids.size() > Shown)
        text += QStringLiteral(" ほか %1 人").arg(ids.size() - Shown);
    return text;
}

} // namespace

FrmLedger::FrmLedger(const Desktop &desktop, FolderChooser &folders, QWidget *parent)
    : QWidget(parent, Qt::Window), m_messages(desktop.messages), m_folders(folders),
      m_processes(desktop.processes),
      m_ledger(new AttendanceLedger(desktop.dialogs, desktop.messages, desktop.clipboard, this))
{
    setObjectName(QStringLiteral("frmLedger"));
    // A window of its own does not take the main window's font by itself.
    if (parent)
        setFont(parent->font());
    m_model = new LedgerModel(*m_ledger, this);
    buildControls();
    connect(m_ledger, &AttendanceLedger::changed, this, &FrmLedger::showLedger);
    resize(1100, 600);
}

FrmLedger::~FrmLedger() = default;

Result<> FrmLedger::open(const QString &rosterPath, const QString &clipboardDelimiter)
{
    m_ledger->setClipboardDelimiter(clipboardDelimiter);
    if (const Result<> opened = m_ledger->open(rosterPath); !opened)
        return opened;
    setWindowTitle(QStringLiteral("出席簿 - %1").arg(m_ledger->source().lectureName));
    return Result<>::success();
}

void FrmLedger::buildControls()
{
    auto *layout = new QVBoxLayout(this);
    m_settings = new QLabel(this);
    m_settings->setObjectName(QStringLiteral("settings"));
    m_settings->setTextFormat(Qt::PlainText);
    layout->addWidget(m_settings);

    m_table = new QTableView(this);
    m_table->setObjectName(QStringLiteral("ledgerTable"));
    m_table->setModel(m_model);
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_table->setWordWrap(false);
    m_table->verticalHeader()->setDefaultSectionSize(m_table->fontMetrics().height() + 6);
    m_table->horizontalHeader()->setDefaultSectionSize(44);
    // Widths from the first rows only: a class of a thousand opens at once.
    m_table->horizontalHeader()->setResizeContentsPrecision(100);
    layout->addWidget(m_table, 1);

    m_summary = new QLabel(this);
    m_summary->setObjectName(QStringLiteral("summary"));
    QFont bold = m_summary->font();
    bold.setBold(true);
    m_summary->setFont(bold);
    layout->addWidget(m_summary);
    m_offRoster = new QLabel(this);
    m_offRoster->setObjectName(QStringLiteral("offRosterList"));
    m_offRoster->setTextFormat(Qt::PlainText);
    m_offRoster->setWordWrap(true);
    layout->addWidget(m_offRoster);

    layout->addWidget(buildCorrectionRow());
    layout->addWidget(buildSessionRow());
    layout->addWidget(buildOutputRow());

    m_status = new QPlainTextEdit(this);
    m_status->setObjectName(QStringLiteral("status"));
    m_status->setReadOnly(true);
    m_status->setMaximumHeight(m_status->fontMetrics().height() * 4 + 12);
    layout->addWidget(m_status);
}

QWidget *FrmLedger::buildCorrectionRow()
{
    auto *row = new QWidget(this);
    auto *layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(new QLabel(QStringLiteral("選んだ欄を:"), row));
    const std::pair<const char *, std::optional<SessionStatus>> commands[] = {
        {"excuse", SessionStatus::Excused},
        {"present", SessionStatus::Present},
        {"absent", SessionStatus::Absent},
        {"asRecorded", std::nullopt}};
    const QString captions[] = {QStringLiteral("公欠"), QStringLiteral("出席"),
                                QStringLiteral("欠席"), QStringLiteral("記録どおり")};
    for (int i = 0; i < 4; ++i)
        connect(addButton(*layout, commands[i].first, captions[i]), &QPushButton::clicked, this,
                [this, status = commands[i].second] { correctSelected(status); });
    m_reason = new QLineEdit(row);
    m_reason->setObjectName(QStringLiteral("reason"));
    m_reason->setPlaceholderText(QStringLiteral("理由 (任意)"));
    layout->addWidget(m_reason, 1);
    return row;
}

QWidget *FrmLedger::buildSessionRow()
{
    auto *row = new QWidget(this);
    auto *layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    m_newSession = new QDateEdit(Clock::today(), row);
    m_newSession->setObjectName(QStringLiteral("newSession"));
    m_newSession->setDisplayFormat(QStringLiteral("yyyy/MM/dd"));
    m_newSession->setCalendarPopup(true);
    layout->addWidget(m_newSession);
    connect(addButton(*layout, "addSession", QStringLiteral("授業日を追加")), &QPushButton::clicked,
            this, &FrmLedger::addSession);
    connect(addButton(*layout, "dropSession", QStringLiteral("選んだ日を除く")),
            &QPushButton::clicked, this, &FrmLedger::dropSelectedSession);
    layout->addStretch(1);
    return row;
}

QWidget *FrmLedger::buildOutputRow()
{
    auto *row = new QWidget(this);
    auto *layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    connect(addButton(*layout, "addFolder", QStringLiteral("記録フォルダを追加...")),
            &QPushButton::clicked, this, &FrmLedger::addFolder);
    connect(addButton(*layout, "reload", QStringLiteral("読み直す")), &QPushButton::clicked,
            m_ledger, &AttendanceLedger::rebuild);
    layout->addStretch(1);
    connect(addButton(*layout, "saveCsv", QStringLiteral("CSV保存...")), &QPushButton::clicked,
            m_ledger, &AttendanceLedger::saveCsv);
    connect(addButton(*layout, "copy", QStringLiteral("ｺﾋﾟｰ")), &QPushButton::clicked, m_ledger,
            &AttendanceLedger::copy);
    connect(addButton(*layout, "openSpreadsheet", QStringLiteral("表計算で開く")),
            &QPushButton::clicked, this, &FrmLedger::openInSpreadsheet);
    return row;
}

QString FrmLedger::settingsText() const
{
    const CourseSettings &settings = m_ledger->source().settings;
    QStringList parts{QStringLiteral("期間 %1〜%2")
                          .arg(m_ledger->source().from.toString(QStringLiteral("yyyy/MM/dd")),
                               m_ledger->source().to.toString(QStringLiteral("yyyy/MM/dd")))};
    if (settings.start())
        parts << QStringLiteral("開始 %1  %2分まで出席  %3分を過ぎて欠席")
                     .arg(settings.start()->toString(QStringLiteral("HH:mm")))
                     .arg(settings.onTimeMinutes())
                     .arg(settings.absentAfterMinutes());
    else
        parts << QStringLiteral("開始時刻なし (印があれば出席)");
    parts << QStringLiteral("予定 %1 回  必要 %2  欠席可 %3 回")
                 .arg(settings.plannedSessions())
                 .arg(fractionText(settings.requiredNumerator(), settings.requiredDenominator()))
                 .arg(settings.allowedAbsences());
    if (settings.latesPerAbsence() > 0)
        parts << QStringLiteral("遅刻 %1 回で欠席 1 回").arg(settings.latesPerAbsence());
    return parts.join(QStringLiteral("   "));
}

void FrmLedger::showLedger()
{
    const Ledger &ledger = m_ledger->ledger();
    m_settings->setText(settingsText());
    m_summary->setText(
        QStringLiteral("授業 %1 回   平均出席率 %2%   受験資格なし %3 人   あと1回以下 %4 人")
            .arg(ledger.sessions.size())
            .arg(ledger.averageRate())
            .arg(ledger.notEligible())
            .arg(ledger.atRisk()));
    m_offRoster->setText(offRosterText(ledger));
    m_table->resizeColumnsToContents();
    const QStringList problems = m_ledger->problems() + ledger.notes;
    QStringList folders;
    for (const QString &folder : m_ledger->source().journalFolders)
        folders << QDir::toNativeSeparators(folder);
    m_status->setPlainText(
        QStringLiteral("記録フォルダ: %1\n").arg(folders.join(QStringLiteral(", "))) +
        (problems.isEmpty() ? QStringLiteral("読み飛ばしたものはありません")
                            : problems.join(u'\n')));
}

void FrmLedger::correctSelected(std::optional<SessionStatus> status)
{
    // Cells of one session at a time: a column chosen for a whole class, or
    // single students.
    QHash<int, QStringList> bySession;
    const auto &rows = m_ledger->ledger().rows;
    const QModelIndexList chosen = m_table->selectionModel()->selectedIndexes();
    for (const QModelIndex &index : chosen) {
        const int session = m_model->sessionOf(index.column());
        if (session >= 0 && size_t(index.row()) < rows.size())
            bySession[session] << rows[size_t(index.row())].userId;
    }
    if (bySession.isEmpty()) {
        m_messages.show(QStringLiteral("訂正する授業日の欄を選んでください｡"));
        return;
    }
    const QList<QDate> sessions = m_ledger->ledger().sessions;
    QList<std::pair<int, int>> cells;
    for (const QModelIndex &index : chosen)
        cells.append({index.row(), index.column()});
    for (auto it = bySession.cbegin(); it != bySession.cend(); ++it)
        m_ledger->correct(sessions[it.key()], it.value(), status, m_reason->text());
    // The ledger was built again: the same cells stay chosen for the next step.
    for (const auto &[row, column] : cells)
        m_table->selectionModel()->select(m_model->index(row, column), QItemSelectionModel::Select);
}

void FrmLedger::addSession()
{
    const QDate date = m_newSession->date();
    const LedgerSource &source = m_ledger->source();
    if (date < source.from || date > source.to) {
        m_messages.show(
            QStringLiteral("%1 は期間の外です｡").arg(date.toString(QStringLiteral("yyyy/MM/dd"))));
        return;
    }
    m_ledger->addSession(date);
}

void FrmLedger::dropSelectedSession()
{
    const int session = m_model->sessionOf(m_table->currentIndex().column());
    if (session < 0) {
        m_messages.show(QStringLiteral("除く授業日の欄を選んでください｡"));
        return;
    }
    const QDate date = m_ledger->ledger().sessions[session];
    if (m_messages.ask(QStringLiteral("%1 を出席簿から除きますか?\r\n記録そのものは消しません｡")
                           .arg(date.toString(QStringLiteral("yyyy/MM/dd")))))
        m_ledger->dropSession(date);
}

void FrmLedger::addFolder()
{
    const FolderChoice choice =
        m_folders.chooseFolder(QStringLiteral("ほかの機械の記録フォルダを選んでください"));
    if (choice.outcome == FolderChoice::Chosen)
        m_ledger->addFolder(choice.path);
}

void FrmLedger::openInSpreadsheet()
{
    const Result<QString> opened = openCsvInSpreadsheet(
        m_processes, m_spreadsheetCommand, QStringLiteral("出席簿.csv"), m_ledger->csv());
    if (!opened)
        m_messages.show(opened.error());
}
