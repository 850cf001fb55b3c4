#include "server/net/uploadgate.h"

#include "server/net/versionhistory.h"

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
