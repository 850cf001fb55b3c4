// The roster file reader: the student block on its own, and a whole load
// into the grid with its header lookups.
#include "common/cp932.h"
#include "fuzz/fuzzsupport.h"
#include "server/app/rostercommands.h"
#include "server/lecture/lecture.h"
#include "server/lecture/rosterfile.h"
#include "server/lecture/rostergrid.h"
#include "support/fakedialogs.h"

#include <cstdint>

namespace {

bool isOneLine(const QString &text)
{
    return !text.contains(u'\r') && !text.contains(u'\n');
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArrayView bytes(data, qsizetype(size));
    const StudentBlock block = readStudentBlock(cp932::decode(bytes));
    if (block.status == StudentBlock::Loaded) {
        FUZZ_CHECK(block.rows.size() == size_t(block.studentCount) + 1);
        FUZZ_CHECK(block.rows.back()[RosterGrid::UserId] == QStringLiteral("計"));
        for (int i = 0; i < block.studentCount; ++i) {
            const RosterGrid::Row &row = block.rows[size_t(i)];
            FUZZ_CHECK(!row[RosterGrid::UserId].contains(u','));
            FUZZ_CHECK(isOneLine(row[RosterGrid::UserId]) && isOneLine(row[RosterGrid::UserName]));
        }
    } else {
        FUZZ_CHECK(block.rows.empty() && block.studentCount == 0);
    }

    const QString path = writeInput("roster.cfg", data, size);
    RosterGrid grid;
    Lecture lecture;
    FakeFileDialogs dialogs;
    FakeMessageBox messages;
    RosterCommands(grid, lecture, dialogs, messages).load(path);
    FUZZ_CHECK(isOneLine(lecture.kougimei()) && isOneLine(lecture.tantousya()) &&
               isOneLine(lecture.kadaidir()));
    if (!messages.shown.isEmpty())
        return 0;
    FUZZ_CHECK(!lecture.kougimei().isEmpty() && !lecture.tantousya().isEmpty());
    // Attendance finds every student, at the first row with that ID.
    const int students = grid.studentRows();
    FUZZ_CHECK(students == block.studentCount);
    FUZZ_CHECK(block.status != StudentBlock::Malformed);
    for (int row = 1; row <= students; ++row) {
        const std::optional<int> found = grid.searchtext(grid.text(row, RosterGrid::UserId));
        FUZZ_CHECK(found && *found <= row);
        FUZZ_CHECK(grid.text(*found, RosterGrid::UserId) == grid.text(row, RosterGrid::UserId));
    }
    return 0;
}
