#include "server/app/rostercommands.h"

#include "common/cp932.h"
#include "common/readvar.h"
#include "platform/dialogs.h"
#include "server/lecture/lecture.h"
#include "server/lecture/rosterfile.h"
#include "server/lecture/rostergrid.h"

#include <QFile>

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
    m_lecture.setKougimei(readvar(QStringLiteral("kougimei"), path).valueOr({}));
    m_lecture.setTantousya(readvar(QStringLiteral("tantousya"), path).valueOr({}));
    m_lecture.setKadaidir(readvar(QStringLiteral("kadaidir"), path).valueOr({}));
    m_lecture.setHaifudir(readvar(QStringLiteral("haifudir"), path).valueOr({}));
    m_lecture.setRosterDeadline(readvar(QStringLiteral("simekiri"), path).valueOr({}),
                                readvar(QStringLiteral("uketuke"), path).valueOr({}));
    if (m_lecture.kougimei().isEmpty() || m_lecture.tantousya().isEmpty()) {
        reject();
        return;
    }

    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        reject();
        return;
    }
    const QByteArray bytes = file.readAll();
    const bool readFailed = file.error() != QFileDevice::NoError;
    file.close();
    if (readFailed) {
        reject();
        return;
    }

    StudentBlock block = readStudentBlock(cp932::decode(bytes));
    switch (block.status) {
    case StudentBlock::NoBlock:
        return;
    case StudentBlock::Malformed:
        reject();
        return;
    case StudentBlock::Loaded:
        m_grid.replaceRowsFrom(1, std::move(block.rows));
        m_grid.setRosterCount(block.studentCount);
        m_lecture.setRosterPath(path);
        if (m_afterLoad)
            m_afterLoad();
        return;
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
