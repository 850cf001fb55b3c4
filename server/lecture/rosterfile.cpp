#include "server/lecture/rosterfile.h"

#include "common/lines.h"

namespace {

const QString StartMarker = QStringLiteral("<start data>");
const QString EndMarker = QStringLiteral("<end data>");

RosterGrid::Row totalLine(int studentCount)
{
    RosterGrid::Row row;
    row[RosterGrid::UserId] = RosterGrid::TotalLineId;
    row[RosterGrid::UserName] = QString::number(studentCount) + QStringLiteral(" 人");
    return row;
}

} // namespace

StudentBlock readStudentBlock(QStringView text)
{
    const QList<QStringView> lines = splitLines(text);
    qsizetype i = 0;
    while (i < lines.size() && lines[i] != StartMarker)
        ++i;
    if (i == lines.size())
        return {};

    StudentBlock block;
    block.status = StudentBlock::Malformed;
    for (++i; i < lines.size(); ++i) {
        const QStringView line = lines[i];
        if (line == EndMarker) {
            block.studentCount = int(block.rows.size());
            block.rows.push_back(totalLine(block.studentCount));
            block.status = StudentBlock::Loaded;
            return block; // only the first block counts
        }
        if (line.isEmpty())
            continue;
        const qsizetype comma = line.indexOf(u',');
        if (comma < 0)
            return {StudentBlock::Malformed, {}, 0};
        RosterGrid::Row row;
        row[RosterGrid::UserId] = line.first(comma).toString();
        row[RosterGrid::UserName] = line.sliced(comma + 1).toString();
        block.rows.push_back(std::move(row));
    }
    block.rows.clear(); // the file ended before the end marker
    return block;
}
