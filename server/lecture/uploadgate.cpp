#include "server/lecture/uploadgate.h"

#include "server/folders/versionhistory.h"
#include "server/lecture/attendancebook.h"

#include <QRegularExpression>

#include <algorithm>
#include <limits>

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

namespace {

// A reason the client shows whole.
constexpr qsizetype ListedChars = 60;

bool isSuffixText(const QString &text)
{
    for (const QChar c : text) {
        if (!(c.isLetterOrNumber() || c == u'.' || c == u'_' || c == u'-' || c == u'+'))
            return false;
    }
    return !text.isEmpty();
}

QString acceptedList(const QStringList &suffixes)
{
    QString list;
    for (const QString &suffix : suffixes) {
        if (!list.isEmpty() && list.size() + suffix.size() >= ListedChars)
            return list + QStringLiteral(" など");
        list += (list.isEmpty() ? QString() : QStringLiteral(" ")) + suffix;
    }
    return list;
}

} // namespace

AcceptedFilesReading readAcceptedFiles(const QString &kakutyousi, const QString &saidai)
{
    AcceptedFilesReading reading;
    static const QRegularExpression blanks(QStringLiteral("[ \t\u3000]+"));
    for (const QString &word : kakutyousi.split(blanks, Qt::SkipEmptyParts)) {
        QString suffix = word.toLower();
        while (suffix.startsWith(u'.'))
            suffix.remove(0, 1);
        if (!isSuffixText(suffix) || suffix.endsWith(u'.'))
            reading.warnings << QStringLiteral(
                                    "kakutyousi の %1 は拡張子として読めないため使いません｡")
                                    .arg(word.left(40));
        else if (!reading.accepted.suffixes.contains(QStringLiteral(".") + suffix))
            reading.accepted.suffixes << QStringLiteral(".") + suffix;
    }
    if (saidai.isEmpty())
        return reading;
    static const QRegularExpression form(QStringLiteral("^\\s*(\\d{1,10})\\s*([KkMmGg]?)\\s*$"));
    const QRegularExpressionMatch match = form.match(saidai);
    const qint64 number = match.hasMatch() ? match.captured(1).toLongLong() : 0;
    if (number < 1 || number > std::numeric_limits<qint32>::max()) {
        reading.warnings << QStringLiteral("saidai=%1 は大きさとして読めないため使いません｡"
                                           "(saidai=数[K|M|G])")
                                .arg(saidai.left(40));
        return reading;
    }
    const QString unit = match.captured(2).toUpper();
    const int shift = unit == u"K" ? 10 : unit == u"M" ? 20 : unit == u"G" ? 30 : 0;
    reading.accepted.maxBytes = number << shift;
    reading.accepted.maxText = QString::number(number) +
                               (unit.isEmpty() ? QStringLiteral(" バイト")
                                               : QStringLiteral(" ") + unit + QStringLiteral("B"));
    return reading;
}

std::optional<PutRefusal> acceptanceRefusal(const AcceptedFiles &accepted, const QString &fileName,
                                            qint64 size)
{
    const QString name = fileName.toLower();
    const bool typeAccepted =
        accepted.suffixes.isEmpty() ||
        std::any_of(accepted.suffixes.cbegin(), accepted.suffixes.cend(),
                    [&name](const QString &suffix) {
                        return name.size() > suffix.size() && name.endsWith(suffix);
                    });
    if (!typeAccepted)
        return PutRefusal{
            QStringLiteral("受け付ける形式は %1 です｡").arg(acceptedList(accepted.suffixes)),
            QStringLiteral("受け付けない形式のため保存しません"), false};
    if (accepted.maxBytes > 0 && size > accepted.maxBytes)
        return PutRefusal{QStringLiteral("%1 までです｡").arg(accepted.maxText),
                          QStringLiteral("%1 バイトは上限 %2 を超えるため保存しません")
                              .arg(size)
                              .arg(accepted.maxText),
                          false};
    return std::nullopt;
}

std::optional<PutRefusal> refusalBeforeUpload(const PutCheck &put, const QDateTime &now)
{
    if (put.deadline.closed(now))
        return PutRefusal{
            QStringLiteral("受付は締め切られました｡"),
            QStringLiteral("受付締切 %1 の後").arg(deadlineTimeText(put.deadline.cutoff)), true};
    if (std::optional<PutRefusal> refusal = acceptanceRefusal(put.accepted, put.fileName, put.size))
        return refusal;
    if (const Result<> keepable =
            VersionHistory::checkKeepable(put.folder, put.fileName, put.keptVersions);
        !keepable)
        return PutRefusal{
            QStringLiteral("以前の提出を保存できないため受け取れません｡講師に連絡してください｡"),
            QStringLiteral("以前の版を残せません: ") + keepable.error(), false};
    return std::nullopt;
}
