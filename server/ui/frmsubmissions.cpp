#include "server/ui/frmsubmissions.h"

#include "platform/dialogs.h"
#include "platform/documentopener.h"
#include "server/app/spreadsheetlaunch.h"
#include "server/app/submissionslist.h"
#include "server/lecture/assignmentdeadline.h"

#include <QDir>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QSet>
#include <QStandardItemModel>
#include <QTableView>
#include <QVBoxLayout>

namespace {

enum Column {
    Id,
    Name,
    File,
    Time,
    Size,
    Hash,
    Late,
    Versions,
    Identical,
    Check,
    Own,
    Returned,
    ColumnCount
};

const QColor LateColour(0xff, 0xb4, 0xb4);
const QColor IdenticalColour(0xff, 0xe0, 0x8c);
const QColor ChangedColour(0xc8, 0xc8, 0xff);

QPushButton *addButton(QHBoxLayout &row, const char *name, const QString &caption)
{
    auto *button = new QPushButton(caption);
    button->setObjectName(QLatin1String(name));
    row.addWidget(button);
    return button;
}

QList<QStandardItem *> itemsOf(const SubmissionRow &row)
{
    QStringList cells = submissionCells(row);
    cells[Hash] = cells[Hash].left(16);
    // Shown here only: the CSV keeps its columns.
    cells.insert(Returned, row.returned ? QStringLiteral("済") : QStringLiteral("未"));
    if (row.receipt.lateSeconds > 0)
        cells[Late] = lateText(row.receipt.lateSeconds).mid(4);
    QList<QStandardItem *> items;
    for (const QString &cell : cells) {
        auto *item = new QStandardItem(cell);
        item->setEditable(false);
        items << item;
    }
    if (row.receipt.lateSeconds > 0)
        items[Late]->setBackground(LateColour);
    if (!row.identical.isEmpty())
        items[Identical]->setBackground(IdenticalColour);
    if (row.check == SubmissionRow::Changed || row.check == SubmissionRow::Missing ||
        row.check == SubmissionRow::Refused)
        items[Check]->setBackground(ChangedColour);
    if (!row.inRoster)
        items[Name]->setText(QStringLiteral("(名簿外)"));
    items[Hash]->setToolTip(QString::fromLatin1(row.receipt.sha256));
    return items;
}

} // namespace

FrmSubmissions::FrmSubmissions(SubmissionsList &list, DocumentOpener &documents,
                               MessageBox &messages, ProcessStarter &processes,
                               const QString &spreadsheetCommand, QWidget *parent)
    : QWidget(parent, Qt::Window), m_list(list), m_documents(documents), m_messages(messages),
      m_processes(processes), m_spreadsheetCommand(spreadsheetCommand), m_summary(new QLabel(this)),
      m_table(new QTableView(this)), m_model(new QStandardItemModel(0, ColumnCount, this))
{
    setObjectName(QStringLiteral("frmSubmissions"));
    setWindowTitle(QStringLiteral("提出一覧"));
    m_summary->setObjectName(QStringLiteral("summary"));
    m_summary->setTextFormat(Qt::PlainText);
    m_table->setObjectName(QStringLiteral("submissions"));
    m_table->setModel(m_model);
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->setSelectionMode(QAbstractItemView::SingleSelection);
    m_table->verticalHeader()->hide();
    m_table->verticalHeader()->setDefaultSectionSize(m_table->fontMetrics().height() + 6);
    m_table->setWordWrap(false);
    QStringList heading = submissionsHeading();
    heading[Late] = QStringLiteral("締切後");
    heading.insert(Returned, QStringLiteral("返却"));
    m_model->setHorizontalHeaderLabels(heading);
    connect(m_table, &QTableView::doubleClicked, this,
            [this](const QModelIndex &) { chooseVersion(QCursor::pos()); });

    auto *buttons = new QHBoxLayout;
    connect(addButton(*buttons, "verify", QStringLiteral("照合(&R)")), &QPushButton::clicked, this,
            &FrmSubmissions::refresh);
    QPushButton *versions = addButton(*buttons, "versions", QStringLiteral("版を開く(&V)..."));
    connect(versions, &QPushButton::clicked, this, [this, versions] {
        chooseVersion(versions->mapToGlobal(QPoint(0, versions->height())));
    });
    connect(addButton(*buttons, "saveCsv", QStringLiteral("CSV保存(&S)...")), &QPushButton::clicked,
            this, [this] { m_list.saveCsv(); });
    connect(addButton(*buttons, "copy", QStringLiteral("ｺﾋﾟｰ(&C)")), &QPushButton::clicked, this,
            [this] { m_list.copy(); });
    connect(addButton(*buttons, "openSpreadsheet", QStringLiteral("表計算で開く")),
            &QPushButton::clicked, this, &FrmSubmissions::openInSpreadsheet);
    buttons->addStretch();
    connect(addButton(*buttons, "close", QStringLiteral("閉じる")), &QPushButton::clicked, this,
            &QWidget::close);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(m_summary);
    layout->addWidget(m_table, 1);
    layout->addLayout(buttons);
    resize(860, 420);
}

void FrmSubmissions::refresh()
{
    m_list.refresh();
    fill();
}

void FrmSubmissions::fill()
{
    m_model->removeRows(0, m_model->rowCount());
    // A student with two files, or a refusal, is one student.
    QSet<QString> handedIn, late, identical;
    for (const SubmissionRow &row : m_list.rows()) {
        m_model->appendRow(itemsOf(row));
        if (row.check != SubmissionRow::NoReceipt && row.check != SubmissionRow::Refused)
            handedIn.insert(row.userId);
        if (row.receipt.lateSeconds > 0 && row.check != SubmissionRow::Refused)
            late.insert(row.userId);
        if (!row.identical.isEmpty())
            identical.insert(row.userId);
    }
    m_summary->setText(QStringLiteral("%1   提出 %2 人、締切後 %3 人、同一ファイル %4 人")
                           .arg(QDir::toNativeSeparators(m_list.folder()))
                           .arg(handedIn.size())
                           .arg(late.size())
                           .arg(identical.size()));
    m_table->resizeColumnsToContents();
}

void FrmSubmissions::chooseVersion(const QPoint &where)
{
    const int row = m_table->currentIndex().row();
    if (row < 0 || row >= m_list.rows().size())
        return;
    const QList<SubmissionsList::Version> versions = m_list.versionsOf(m_list.rows()[row]);
    if (versions.isEmpty())
        return;
    QMenu menu(this);
    for (int index = 0; index < versions.size(); ++index)
        menu.addAction(versions[index].label, this,
                       [this, row, index] { openVersion(row, index); });
    menu.exec(where);
}

void FrmSubmissions::openVersion(int row, int index)
{
    if (row < 0 || row >= m_list.rows().size())
        return;
    const QList<SubmissionsList::Version> versions = m_list.versionsOf(m_list.rows()[row]);
    if (index < 0 || index >= versions.size())
        return;
    const QString folder = QFileInfo(versions[index].path).absolutePath();
    m_documents.open(folder, [this, folder](const QString &reason) {
        m_messages.show(
            QStringLiteral("%1 を開けません｡\r\n%2").arg(QDir::toNativeSeparators(folder), reason));
    });
}

void FrmSubmissions::openInSpreadsheet()
{
    const Result<QString> opened =
        openCsvInSpreadsheet(m_processes, m_spreadsheetCommand, QStringLiteral("提出一覧.csv"),
                             submissionsCsv(m_list.rows()));
    if (!opened)
        m_messages.show(opened.error());
}
