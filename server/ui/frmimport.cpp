#include "server/ui/frmimport.h"

#include "platform/desktop.h"
#include "platform/dialogs.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QFormLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

namespace {

const QString ClassListFilter =
    QStringLiteral("履修者名簿 (*.csv *.txt *.tsv)|*.csv;*.txt;*.tsv|すべてのﾌｧｲﾙ (*)|*");
const QString RosterFilter = QStringLiteral("受講ﾌｧｲﾙ (*.cfg)|*.cfg");

QLineEdit *addField(QFormLayout &form, const char *name, const QString &label, const QString &text)
{
    auto *field = new QLineEdit(text);
    field->setObjectName(QLatin1String(name));
    form.addRow(label, field);
    return field;
}

QComboBox *addColumnBox(QFormLayout &form, const char *name, const QString &label)
{
    auto *box = new QComboBox;
    box->setObjectName(QLatin1String(name));
    form.addRow(label, box);
    return box;
}

} // namespace

FrmImport::FrmImport(QByteArray bytes, const RosterHeader &header, FileDialogs &dialogs,
                     MessageBox &messages, QWidget *parent)
    : QDialog(parent), m_bytes(std::move(bytes)), m_dialogs(dialogs), m_messages(messages)
{
    setObjectName(QStringLiteral("frmImport"));
    // A window of its own does not take the main window's font by itself.
    if (parent)
        setFont(parent->font());
    setWindowTitle(QStringLiteral("名簿の取り込み"));
    buildControls(header);
    fillColumnChoices();
    refresh();
    resize(640, 520);
}

void FrmImport::buildControls(const RosterHeader &header)
{
    auto *form = new QFormLayout;
    m_lecture = addField(*form, "lecture", QStringLiteral("講義名(&L)"), header.lecture);
    m_lecturer = addField(*form, "lecturer", QStringLiteral("担当者(&T)"), header.lecturer);
    m_folder = addField(*form, "folder", QStringLiteral("課題提出先(&F)"), header.folder);
    m_idColumn = addColumnBox(*form, "idColumn", QStringLiteral("ID の列(&D)"));
    m_nameColumn = addColumnBox(*form, "nameColumn", QStringLiteral("氏名の列(&N)"));
    for (QLineEdit *field : {m_lecture, m_lecturer, m_folder})
        connect(field, &QLineEdit::textChanged, this, &FrmImport::refresh);

    m_description = new QLabel(this);
    m_description->setObjectName(QStringLiteral("description"));
    m_description->setTextFormat(Qt::PlainText);
    m_description->setWordWrap(true);

    m_preview = new QTableWidget(0, 3, this);
    m_preview->setObjectName(QStringLiteral("preview"));
    m_preview->setHorizontalHeaderLabels(
        {QStringLiteral("行"), QStringLiteral("ユーザID"), QStringLiteral("ユーザ名")});
    m_preview->verticalHeader()->hide();
    m_preview->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_preview->horizontalHeader()->setStretchLastSection(true);

    m_problems = new QPlainTextEdit(this);
    m_problems->setObjectName(QStringLiteral("problems"));
    m_problems->setReadOnly(true);
    m_problems->setMaximumHeight(m_problems->fontMetrics().height() * 6 + 12);

    auto *buttons = new QDialogButtonBox(this);
    m_takeIn = buttons->addButton(QStringLiteral("取り込む(&I)..."), QDialogButtonBox::AcceptRole);
    m_takeIn->setObjectName(QStringLiteral("takeIn"));
    buttons->addButton(QStringLiteral("ｷｬﾝｾﾙ"), QDialogButtonBox::RejectRole)
        ->setObjectName(QStringLiteral("cancel"));
    // 取り込む closes the dialog only once the roster is written.
    connect(m_takeIn, &QPushButton::clicked, this, &FrmImport::takeIn);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto *layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(m_description);
    layout->addWidget(m_preview, 1);
    layout->addWidget(m_problems);
    layout->addWidget(buttons);
}

void FrmImport::fillColumnChoices()
{
    // The columns as the known headings find them; a list without headings
    // is read by number to learn its width.
    Result<ClassList> list = readClassList(m_bytes);
    if (!list)
        list = readClassList(m_bytes, {QStringLiteral("1")}, {QStringLiteral("2")});
    for (QComboBox *box : {m_idColumn, m_nameColumn}) {
        box->addItem(QStringLiteral("見出しから選ぶ"), QString());
        const int width = list ? list->width : 0;
        for (int column = 0; column < width; ++column) {
            const QString heading = list->headings.value(column);
            box->addItem(heading.isEmpty()
                             ? QStringLiteral("%1 列目").arg(column + 1)
                             : QStringLiteral("%1 列目「%2」").arg(column + 1).arg(heading),
                         QString::number(column + 1));
        }
        connect(box, &QComboBox::currentIndexChanged, this, &FrmImport::refresh);
    }
}

ColumnChoice FrmImport::choiceOf(const QComboBox &box)
{
    return {box.currentData().toString()};
}

RosterHeader FrmImport::header() const
{
    const QString folder = m_folder->text();
    return {m_lecture->text(), m_lecturer->text(),
            folder.isEmpty()
                ? folder
                : QDir::toNativeSeparators(QDir::cleanPath(QDir(folder).absolutePath()))};
}

void FrmImport::refresh()
{
    const Result<ClassList> list =
        readClassList(m_bytes, choiceOf(*m_idColumn), choiceOf(*m_nameColumn));
    m_listed = list ? listStudents(*list) : ListedStudents{};
    m_readable = list.ok();
    showPreview(m_listed);
    if (!list) {
        m_description->setText(list.error());
        m_problems->setPlainText(list.error());
        m_takeIn->setEnabled(false);
        return;
    }
    m_description->setText(describeClassList(*list) +
                           QStringLiteral("、受講者 %1 人").arg(m_listed.students.size()));
    const QStringList problems = rosterProblems(header(), m_listed.students);
    QStringList lines = problems;
    if (const QString skipped = describeSkipped(m_listed); !skipped.isEmpty())
        lines << skipped;
    if (m_listed.students.isEmpty())
        lines << QStringLiteral("受講者の行がありません｡");
    m_problems->setPlainText(lines.isEmpty() ? QStringLiteral("このまま取り込めます｡")
                                             : lines.join(u'\n'));
    m_takeIn->setEnabled(problems.isEmpty() && !m_listed.students.isEmpty());
}

void FrmImport::showPreview(const ListedStudents &listed)
{
    const qsizetype rows = qMin<qsizetype>(listed.students.size(), PreviewRows);
    m_preview->setRowCount(int(rows));
    for (int row = 0; row < rows; ++row) {
        const ListedStudent &student = listed.students[row];
        const QString cells[] = {QString::number(student.line), student.id, student.name};
        for (int column = 0; column < 3; ++column)
            m_preview->setItem(row, column, new QTableWidgetItem(cells[column]));
    }
    m_preview->resizeColumnToContents(0);
    m_preview->resizeColumnToContents(1);
}

void FrmImport::takeIn()
{
    const RosterHeader values = header();
    if (!m_readable || !rosterProblems(values, m_listed.students).isEmpty())
        return;
    const QString path =
        m_dialogs.saveFileName(values.lecture + QStringLiteral(".cfg"), RosterFilter);
    if (path.isEmpty())
        return;
    const Result<> written = writeRoster(path, values, m_listed.students);
    if (!written) {
        m_messages.show(QStringLiteral("%1 に書き込めません｡\r\n%2")
                            .arg(QDir::toNativeSeparators(path), written.error()));
        return;
    }
    m_rosterPath = path;
    accept();
}

QString importClassList(const Desktop &desktop, const RosterHeader &header, QWidget *parent)
{
    const QString path = desktop.dialogs.openFileName(ClassListFilter);
    if (path.isEmpty())
        return {};
    const Result<QByteArray> bytes = readClassListFile(path);
    if (!bytes) {
        desktop.messages.show(bytes.error());
        return {};
    }
    FrmImport dialog(*bytes, header, desktop.dialogs, desktop.messages, parent);
    dialog.setWindowTitle(
        QStringLiteral("名簿の取り込み - %1").arg(QDir::toNativeSeparators(path)));
    return dialog.exec() == QDialog::Accepted ? dialog.rosterPath() : QString();
}
