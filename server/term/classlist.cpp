#include "server/term/classlist.h"

#include "common/cp932.h"

#include <QFile>

#include <QStringDecoder>
#include <algorithm>
#include <utility>

namespace classlist {
namespace {

QString decodeWith(QStringConverter::Encoding encoding, QByteArrayView bytes, bool *valid)
{
    QStringDecoder decoder(encoding, QStringConverter::Flag::Stateless);
    QString text = decoder.decode(bytes);
    if (valid)
        *valid = !decoder.hasError();
    return text;
}

// Ends a record at a line break; a CR LF pair is one break.
qsizetype skipBreak(QStringView text, qsizetype i)
{
    return text[i] == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n' ? i + 1 : i;
}

} // namespace

Decoded decode(QByteArrayView bytes)
{
    if (bytes.startsWith("\xEF\xBB\xBF"))
        return {decodeWith(QStringConverter::Utf8, bytes.sliced(3), nullptr),
                QStringLiteral("UTF-8 (BOM付き)")};
    if (bytes.startsWith("\xFF\xFE"))
        return {decodeWith(QStringConverter::Utf16LE, bytes.sliced(2), nullptr),
                QStringLiteral("UTF-16 (BOM付き)")};
    if (bytes.startsWith("\xFE\xFF"))
        return {decodeWith(QStringConverter::Utf16BE, bytes.sliced(2), nullptr),
                QStringLiteral("UTF-16BE (BOM付き)")};
    bool valid = false;
    QString text = decodeWith(QStringConverter::Utf8, bytes, &valid);
    // Japanese text in code page 932 is almost never valid UTF-8 as well;
    // plain ASCII is the same in both.
    if (valid)
        return {std::move(text), QStringLiteral("UTF-8")};
    return {cp932::decode(bytes), QStringLiteral("CP932")};
}

Result<QList<Record>> parse(QStringView text, QChar delimiter)
{
    QList<Record> records;
    Record record{1, {}};
    QString field;
    bool quoted = false;
    int line = 1;
    int quoteLine = 0;
    const auto endField = [&] { record.fields << std::exchange(field, QString()); };
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (quoted) {
            if (c == u'"' && i + 1 < text.size() && text[i + 1] == u'"') {
                field += u'"';
                ++i;
            } else if (c == u'"') {
                quoted = false;
            } else {
                field += c;
                if (c == u'\r' || c == u'\n') {
                    if (skipBreak(text, i) != i)
                        field += text[++i];
                    ++line;
                }
            }
        } else if (c == u'"' && field.isEmpty()) {
            quoted = true;
            quoteLine = line;
        } else if (c == delimiter) {
            endField();
        } else if (c == u'\r' || c == u'\n') {
            i = skipBreak(text, i);
            endField();
            records << std::exchange(record, Record{++line, {}});
        } else {
            field += c;
        }
    }
    if (quoted)
        return Result<QList<Record>>::failure(
            QStringLiteral("%1 行目で始まる「\"」が閉じられていません｡").arg(quoteLine));
    if (!field.isEmpty() || !record.fields.isEmpty()) {
        endField();
        records << record;
    }
    return records;
}

} // namespace classlist

namespace {

using classlist::Record;

const QStringList IdHeadings = {QStringLiteral("ユーザID"),   QStringLiteral("ログインID"),
                                QStringLiteral("アカウント"), QStringLiteral("ID"),
                                QStringLiteral("学籍番号"),   QStringLiteral("学生番号")};
const QStringList NameHeadings = {QStringLiteral("氏名"), QStringLiteral("学生氏名"),
                                  QStringLiteral("名前"), QStringLiteral("Name")};

// Headings compare as a person reads them: full-width and half-width
// forms alike, letter case and surrounding blanks ignored.
QString normalized(const QString &text)
{
    return text.normalized(QString::NormalizationForm_KC).trimmed().toCaseFolded();
}

// A 1-based column number, or 0 when the choice is no number.
int columnNumber(const ColumnChoice &choice)
{
    const QString text = normalized(choice.text);
    bool isNumber = !text.isEmpty();
    for (const QChar c : text)
        isNumber = isNumber && c >= u'0' && c <= u'9';
    if (!isNumber)
        return 0;
    // Column 0, or one beyond any int: no column, said as such.
    const int number = text.toInt();
    return number > 0 ? number : -1;
}

// The column of the first of `wanted` among `headings`, or -1.
int findHeading(const QStringList &headings, const QStringList &wanted)
{
    for (const QString &name : wanted) {
        const QString key = normalized(name);
        for (int column = 0; column < headings.size(); ++column) {
            if (normalized(headings[column]) == key)
                return column;
        }
    }
    return -1;
}

// The headings that mark the heading row, as normalized() gives them.
QStringList headingKeys(const ColumnChoice &id, const ColumnChoice &name)
{
    QStringList keys;
    for (const QString &heading : IdHeadings + NameHeadings)
        keys << normalized(heading);
    for (const ColumnChoice *choice : {&id, &name}) {
        if (!choice->text.isEmpty() && columnNumber(*choice) == 0)
            keys << normalized(choice->text);
    }
    return keys;
}

// The index of the first record with a known heading, or -1.
qsizetype headingRow(const QList<Record> &records, const QStringList &keys)
{
    for (qsizetype row = 0; row < records.size(); ++row) {
        for (const QString &field : records[row].fields) {
            if (!field.isEmpty() && keys.contains(normalized(field)))
                return row;
        }
    }
    return -1;
}

// The 0-based column for `choice`, or an error text.
Result<int> chooseColumn(const ClassList &list, const ColumnChoice &choice,
                         const QStringList &known, const QString &what)
{
    if (const int number = columnNumber(choice); number != 0) {
        if (number < 1 || number > list.width)
            return Result<int>::failure(
                QStringLiteral("%1の列 %2 はありません (列は 1 から %3 まで)｡")
                    .arg(what, choice.text)
                    .arg(list.width));
        return number - 1;
    }
    const bool automatic = choice.text.isEmpty();
    const int column = findHeading(list.headings, automatic ? known : QStringList{choice.text});
    if (column >= 0)
        return column;
    if (automatic)
        return Result<int>::failure(
            QStringLiteral(
                "%1の列が見つかりません｡見出し「%2」のどれかの列か、列の番号を選んでください｡")
                .arg(what, known.join(QStringLiteral("」「"))));
    return Result<int>::failure(
        QStringLiteral("見出し「%1」の列が見つかりません｡").arg(choice.text));
}

qsizetype widest(const QList<Record> &records)
{
    qsizetype most = 0;
    for (const Record &record : records)
        most = qMax(most, record.fields.size());
    return most;
}

struct Reading
{
    QChar delimiter;
    QList<Record> records;
    qsizetype heading = -1;
};

// Read both ways, the delimiter that gives the wider heading row wins; with
// no heading row, the one that gives the widest rows.
Result<Reading> readRecords(QStringView text, const QStringList &keys)
{
    QList<Reading> readings;
    QString firstError;
    for (const QChar delimiter : {QChar(u','), QChar(u'\t')}) {
        Result<QList<Record>> records = classlist::parse(text, delimiter);
        if (!records) {
            firstError = firstError.isEmpty() ? records.error() : firstError;
            continue;
        }
        readings << Reading{delimiter, *records, headingRow(*records, keys)};
    }
    // A quote left open under one delimiter is no quote under the other
    // only when the other finds the headings.
    const bool headed = std::any_of(readings.cbegin(), readings.cend(),
                                    [](const Reading &reading) { return reading.heading >= 0; });
    if (readings.isEmpty() || (!headed && !firstError.isEmpty()))
        return Result<Reading>::failure(firstError);
    const auto width = [](const Reading &reading) {
        return reading.heading >= 0 ? reading.records[reading.heading].fields.size() : 0;
    };
    if (readings.size() == 1 || width(readings[0]) > width(readings[1]))
        return readings[0];
    if (width(readings[1]) > width(readings[0]))
        return readings[1];
    return widest(readings[1].records) > widest(readings[0].records) ? readings[1] : readings[0];
}

} // namespace

Result<ClassList> readClassList(QByteArrayView bytes, const ColumnChoice &id,
                                const ColumnChoice &name)
{
    const classlist::Decoded decoded = classlist::decode(bytes);
    Result<Reading> reading = readRecords(decoded.text, headingKeys(id, name));
    if (!reading)
        return Result<ClassList>::failure(reading.error());
    ClassList list;
    list.encoding = decoded.encoding;
    list.delimiter = reading->delimiter;
    QList<Record> records = reading->records;
    if (const qsizetype first = reading->heading; first >= 0) {
        list.headingLine = records[first].line;
        list.headings = records[first].fields;
        records.remove(0, first + 1);
    } else if (columnNumber(id) == 0 || columnNumber(name) == 0) {
        return Result<ClassList>::failure(
            QStringLiteral("見出しの行が見つかりません｡「ユーザID」「学籍番号」「氏名」などの"
                           "見出しがない名簿では、列を番号で選んでください｡"));
    }
    for (const Record &record : std::as_const(records))
        list.width = qMax(list.width, int(record.fields.size()));
    list.width = qMax(list.width, int(list.headings.size()));
    list.records = std::move(records);

    const Result<int> idColumn = chooseColumn(list, id, IdHeadings, QStringLiteral("ID "));
    if (!idColumn)
        return Result<ClassList>::failure(idColumn.error());
    const Result<int> nameColumn = chooseColumn(list, name, NameHeadings, QStringLiteral("氏名"));
    if (!nameColumn)
        return Result<ClassList>::failure(nameColumn.error());
    if (*idColumn == *nameColumn)
        return Result<ClassList>::failure(
            QStringLiteral("ID と氏名に同じ列 (%1 列目) が選ばれています｡").arg(*idColumn + 1));
    list.idColumn = *idColumn;
    list.nameColumn = *nameColumn;
    return list;
}

Result<QByteArray> readClassListFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return Result<QByteArray>::failure(
            QStringLiteral("%1 を読めません: %2").arg(path, file.errorString()));
    if (file.isSequential())
        return Result<QByteArray>::failure(
            QStringLiteral("%1 はファイルではありません｡").arg(path));
    QByteArray bytes = file.read(classlist::MaxBytes + 1);
    if (file.error() != QFileDevice::NoError)
        return Result<QByteArray>::failure(
            QStringLiteral("%1 を読めません: %2").arg(path, file.errorString()));
    if (bytes.size() > classlist::MaxBytes)
        return Result<QByteArray>::failure(
            QStringLiteral("%1 は名簿として大きすぎます (%2 MiB まで)｡")
                .arg(path)
                .arg(classlist::MaxBytes / (1024 * 1024)));
    return bytes;
}

namespace {

bool isBlank(const Record &record)
{
    for (const QString &field : record.fields) {
        if (!field.trimmed().isEmpty())
            return false;
    }
    return true;
}

// A name is one line of the roster: a line break (CR LF, CR or LF) or any
// other control character becomes one blank.
QString oneLine(const QString &text)
{
    QString line;
    line.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n')
            continue;
        line += c.category() == QChar::Other_Control ? QChar(u' ') : c;
    }
    return line;
}

} // namespace

ListedStudents listStudents(const ClassList &list)
{
    ListedStudents listed;
    int incomplete = 0; // rows without an ID or a name since the last with both
    for (const Record &record : list.records) {
        if (isBlank(record)) {
            ++listed.emptyRows;
            continue;
        }
        ListedStudent student{record.line, record.fields.value(list.idColumn),
                              oneLine(record.fields.value(list.nameColumn))};
        const bool complete = !student.id.trimmed().isEmpty() && !student.name.trimmed().isEmpty();
        incomplete = complete ? 0 : incomplete + 1;
        listed.students << std::move(student);
    }
    listed.students.resize(listed.students.size() - incomplete);
    listed.trailingRows = incomplete;
    return listed;
}

namespace {

QString columnText(const QString &heading, int column)
{
    const QString number = QStringLiteral("(%1 列目)").arg(column + 1);
    return heading.isEmpty() ? number : QStringLiteral("「%1」").arg(heading) + number;
}

} // namespace

QString describeClassList(const ClassList &list)
{
    const QString heading = list.headingLine > 0
                                ? QStringLiteral("見出し %1 行目").arg(list.headingLine)
                                : QStringLiteral("見出しなし");
    return QStringLiteral("%1、区切り%2、%3、ID%4、氏名%5")
        .arg(list.encoding,
             list.delimiter == u'\t' ? QStringLiteral("タブ") : QStringLiteral("「,」"), heading,
             columnText(list.idHeading(), list.idColumn),
             columnText(list.nameHeading(), list.nameColumn));
}

QString describeSkipped(const ListedStudents &listed)
{
    QStringList parts;
    if (listed.emptyRows > 0)
        parts << QStringLiteral("空の行 %1 行").arg(listed.emptyRows);
    if (listed.trailingRows > 0)
        parts << QStringLiteral("データの後の合計・注記の行 %1 行").arg(listed.trailingRows);
    if (parts.isEmpty())
        return {};
    return parts.join(QStringLiteral("と、")) + QStringLiteral("を読み飛ばしました｡");
}
