#include "server/app/rostercommands.h"

#include "common/readvar.h"
#include "platform/dialogs.h"
#include "server/lecture/lecture.h"
#include "server/lecture/rosterfile.h"
#include "server/lecture/rostergrid.h"

namespace {

const QString RosterFilter = QStringLiteral("受講ﾌｧｲﾙ (*.cfg)|*.cfg");
const QString InvalidRoster = QStringLiteral("有効な受講者データではありません");

} // namespace

RosterCommands::RosterCommands(RosterGrid &grid, Lecture &lecture, FileDialogs &dialogs,
                               MessageBox &messages)
    : m_grid(grid), m_lecture(lecture), m_dialogs(dialogs), m_messages(messages)
{}

void RosterCommands::open()
{
    const QString path = m_dialogs.openFileName(RosterFilter);
    if (!path.isEmpty())
        load(path);
}

void RosterCommands::load(const QString &path)
{
    cutGrid();
    m_lecture.setRosterPath(QString());
    // Read once: the keys and the student block come from the same bytes.
    const SettingsText roster = SettingsText::read(path).valueOr({});
    m_lecture.setKougimei(roster.value(QStringLiteral("kougimei")));
    m_lecture.setTantousya(roster.value(QStringLiteral("tantousya")));
    m_lecture.setKadaidir(roster.value(QStringLiteral("kadaidir")));
    m_lecture.setHaifudir(roster.value(QStringLiteral("haifudir")));
    m_lecture.setHenkyakudir(roster.value(QStringLiteral("henkyakudir")));
    m_lecture.setRosterDeadline(roster.value(QStringLiteral("simekiri")),
                                roster.value(QStringLiteral("uketuke")));
    m_lecture.setAccepted({});
    m_lecture.setRosterStudentDeadlines({});
    if (m_lecture.kougimei().isEmpty() || m_lecture.tantousya().isEmpty()) {
        reject();
        return;
    }

    StudentBlock block = readStudentBlock(roster.text());
    switch (block.status) {
    case StudentBlock::NoBlock:
        return;
    case StudentBlock::Malformed:
        reject();
        return;
    case StudentBlock::Loaded:
        readAssignmentRules(roster, block);
        m_grid.replaceRowsFrom(1, std::move(block.rows));
        m_grid.setRosterCount(block.studentCount);
        m_lecture.setRosterPath(path);
        if (m_afterLoad)
            m_afterLoad();
        return;
    }
}

void RosterCommands::readAssignmentRules(const SettingsText &roster, const StudentBlock &block)
{
    const AcceptedFilesReading accepted = readAcceptedFiles(
        roster.value(QStringLiteral("kakutyousi")), roster.value(QStringLiteral("saidai")));
    tell(accepted.warnings);
    m_lecture.setAccepted(accepted.accepted);
    QSet<QString> ids;
    for (int row = 0; row < block.studentCount; ++row)
        ids.insert(block.rows[size_t(row)][RosterGrid::UserId]);
    const StudentDeadlineReading own =
        readStudentDeadlines(roster.lines(QStringLiteral("enchou")), ids);
    tell(own.warnings);
    m_lecture.setRosterStudentDeadlines(own.deadlines);
}

void RosterCommands::tell(const QStringList &warnings)
{
    for (const QString &warning : warnings) {
        if (m_log)
            m_log(warning);
    }
}

void RosterCommands::close()
{
    cutGrid();
    m_lecture.setKougimei(QString());
    m_lecture.setTantousya(QString());
    m_lecture.setRosterPath(QString());
}

void RosterCommands::cutGrid()
{
    // Row 1 is emptied too, so no cell of the previous roster (an attendance
    // time, an address) is left standing where a new student will appear.
    m_grid.replaceRowsFrom(1, {RosterGrid::Row{}});
}

void RosterCommands::reject()
{
    m_messages.show(InvalidRoster);
}
