#include "server/lecture/studentdeadline.h"

#include "common/readvar.h"

#include <QHash>

namespace {

constexpr qsizetype ShownChars = 80;
constexpr qsizetype ReasonChars = 200;

// Only the full form: an extension runs over days, and "HH:MM" would be
// read on whatever day the roster is opened.
std::optional<QDateTime> fullTime(QStringView text)
{
    const QString trimmed = text.trimmed().toString();
    if (trimmed.size() != 16)
        return std::nullopt;
    return parseDeadlineTime(trimmed, QDate());
}

} // namespace

QString StudentDeadline::text() const
{
    QString shown = describeDeadline(deadline);
    if (!reason.isEmpty())
        shown += QStringLiteral(" (%1)").arg(reason);
    return shown;
}

QString plainReason(const QString &reason)
{
    QString plain;
    for (const QChar c : reason.left(ReasonChars))
        plain += c.category() == QChar::Other_Control ? u' ' : c;
    return plain.trimmed();
}

StudentDeadlineReading readStudentDeadlines(const std::vector<SettingLine> &lines,
                                            const QSet<QString> &rosterIds)
{
    StudentDeadlineReading reading;
    QHash<QString, int> lineOfId;
    for (const SettingLine &line : lines) {
        const QString where = QStringLiteral("受講ﾌｧｲﾙ %1行目 enchou=%2 ")
                                  .arg(line.number)
                                  .arg(line.value.left(ShownChars));
        const QList<QStringView> fields = QStringView(line.value).split(u',');
        const std::optional<QDateTime> due =
            fields.size() >= 2 ? fullTime(fields[1]) : std::nullopt;
        const std::optional<QDateTime> cutoff =
            fields.size() == 3 ? fullTime(fields[2]) : (fields.size() == 2 ? due : std::nullopt);
        const QString id = fields[0].toString();
        if (id.isEmpty() || !due || !cutoff || fields.size() > 3) {
            reading.warnings << where + QStringLiteral(
                                            "は読めないため使いません｡"
                                            "(enchou=ID,YYYY-MM-DD HH:MM[,YYYY-MM-DD HH:MM])");
        } else if (!rosterIds.contains(id)) {
            reading.warnings << where + QStringLiteral("の %1 は名簿にないため使いません｡").arg(id);
        } else if (*cutoff < *due) {
            reading.warnings << where + QStringLiteral("は受付締切が締切より前のため使いません｡");
        } else if (lineOfId.contains(id)) {
            reading.warnings << where + QStringLiteral("の %1 は %2行目にもあるため使いません｡")
                                            .arg(id)
                                            .arg(lineOfId.value(id));
        } else {
            lineOfId.insert(id, line.number);
            reading.deadlines.append({id, {*due, *cutoff}, QString(), true, QDate()});
        }
    }
    return reading;
}
