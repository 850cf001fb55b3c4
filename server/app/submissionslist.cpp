#include "server/app/submissionslist.h"

#include "platform/clipboard.h"
#include "platform/dialogs.h"
#include "server/folders/versionnames.h"
#include "server/lecture/lecture.h"
#include "server/lecture/rostergrid.h"
#include "server/records/lecturejournal.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

namespace {

const QString CsvFilter = QStringLiteral("CSVﾌｧｲﾙ (*.csv)|*.csv");

} // namespace

SubmissionsList::SubmissionsList(const Lecture &lecture, const RosterGrid &grid,
                                 FileDialogs &dialogs, Clipboard &clipboard, MessageBox &messages)
    : m_lecture(lecture), m_grid(grid), m_dialogs(dialogs), m_clipboard(clipboard),
      m_messages(messages)
{}

const QList<SubmissionRow> &SubmissionsList::refresh()
{
    m_folder = m_lecture.kadaidir();
    QList<SubmissionsIndex::Student> students;
    for (int row = 1; row <= m_grid.studentRows(); ++row) {
        const QString id = m_grid.text(row, RosterGrid::UserId);
        const auto own = m_lecture.studentDeadlines().constFind(id);
        students.append({id, m_grid.text(row, RosterGrid::UserName),
                         own == m_lecture.studentDeadlines().cend() ? QString() : own->text()});
    }
    SubmissionsIndex index(m_folder, students);
    index.setLecture(m_lecture.kougimei());
    readReceiptsIn(LectureJournal::folder(),
                   [&index](const QList<Receipt> &receipts) { index.addReceipts(receipts); });
    index.setExcludedHashes(m_excluded);
    m_rows = index.build(m_cache);
    return m_rows;
}

void SubmissionsList::saveCsv()
{
    const QString path =
        m_dialogs.saveFileName(m_lecture.kougimei() + QStringLiteral("_提出一覧.csv"), CsvFilter);
    if (path.isEmpty())
        return;
    const QByteArray csv = submissionsCsv(m_rows);
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(csv) != csv.size() || !file.commit())
        m_messages.show(QStringLiteral("%1 に保存できません｡\r\n%2").arg(path, file.errorString()));
}

void SubmissionsList::copy()
{
    QString text = submissionsHeading().join(u'\t') + QStringLiteral("\r\n");
    for (const SubmissionRow &row : m_rows)
        text += exportedSubmissionCells(row).join(u'\t') + QStringLiteral("\r\n");
    m_clipboard.setText(text);
}

QList<SubmissionsList::Version> SubmissionsList::versionsOf(const SubmissionRow &row) const
{
    QList<Version> versions;
    if (row.check == SubmissionRow::NoReceipt || row.check == SubmissionRow::Refused)
        return versions;
    const QString current = m_folder + u'/' + row.receipt.fileName;
    if (QFileInfo(current).isFile())
        versions.append({QStringLiteral("現在の版  ") + QFileInfo(current).lastModified().toString(
                                                            QStringLiteral("MM/dd HH:mm:ss")),
                         current});
    const QString history = versionnames::historyFolder(m_folder, row.receipt.fileName);
    const QStringList names = versionnames::versionsIn(history);
    for (auto name = names.crbegin(); name != names.crend(); ++name) {
        const auto version = versionnames::parseVersionFileName(*name);
        versions.append({version->handedIn.toString(QStringLiteral("MM/dd HH:mm:ss")) +
                             QStringLiteral("  ") + version->sha8,
                         history + u'/' + *name});
    }
    return versions;
}
