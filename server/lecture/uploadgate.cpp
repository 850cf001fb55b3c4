#include "server/lecture/uploadgate.h"

#include "server/folders/versionhistory.h"
#include "server/lecture/attendancebook.h"

namespace {

int g_idleMs = uploadlimits::IdleMs;

} // namespace

std::optional<PutRefusal> ownershipRefusal(const AttendanceBook &book, const QString &attendedId,
                                           const QString &fileName)
{
    const QString owner = book.ownerOf(fileName);
    if (!attendedId.isEmpty() && (fileName == attendedId || owner == attendedId))
        return std::nullopt;
    if (attendedId.isEmpty())
        return PutRefusal{QStringLiteral("出席を登録してから提出してください｡"),
                          QStringLiteral("出席を登録していない接続です"), false};
    if (!owner.isEmpty())
        return PutRefusal{QStringLiteral("ほかの学生のファイルは提出できません｡"),
                          QStringLiteral("%1 のファイルです").arg(owner), false};
    return PutRefusal{QStringLiteral("ファイル名はユーザIDと｢.｣で始めてください｡"),
                      QStringLiteral("%1 のファイル名ではありません").arg(attendedId), false};
}

namespace uploadlimits {

int idleMs()
{
    return g_idleMs;
}

void setIdleMsForTests(int ms)
{
    g_idleMs = ms > 0 ? ms : IdleMs;
}

bool overdue(const AssignmentDeadline &deadline, const QDateTime &now)
{
    return deadline.cutoff.isValid() && now > deadline.cutoff.addSecs(AfterCutoffSeconds);
}

PutRefusal stalledEnd()
{
    return {QStringLiteral("データが届かないため受信を打ち切りました｡もう一度送ってください｡"),
            QStringLiteral("%1秒間データが届かなかった").arg(g_idleMs / 1000.0)};
}

PutRefusal overdueEnd()
{
    return {
        QStringLiteral("受付締切を過ぎたため受け取れませんでした｡"),
        QStringLiteral("受付締切から%1分を過ぎても終わらなかった").arg(AfterCutoffSeconds / 60)};
}

} // namespace uploadlimits

std::optional<PutRefusal> refusalBeforeUpload(const AssignmentDeadline &deadline,
                                              const QDateTime &now, const QString &folder,
                                              const QString &fileName, int keptVersions)
{
    if (deadline.closed(now))
        return PutRefusal{QStringLiteral("受付は締め切られました｡"),
                          QStringLiteral("受付締切 %1 の後").arg(deadlineTimeText(deadline.cutoff)),
                          true};
    if (const Result<> keepable = VersionHistory::checkKeepable(folder, fileName, keptVersions);
        !keepable)
        return PutRefusal{
            QStringLiteral("以前の提出を保存できないため受け取れません｡講師に連絡してください｡"),
            QStringLiteral("以前の版を残せません: ") + keepable.error(), false};
    return std::nullopt;
}
