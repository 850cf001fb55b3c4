#pragma once

#include "common/result.h"

#include <QByteArrayView>
#include <QList>
#include <QString>
#include <QStringList>
#include <QStringView>

// A registrar's class list (履修者名簿) as a spreadsheet saves it: CSV or
// TSV in UTF-8 (with or without a byte-order mark), UTF-16 with a mark, or
// code page 932; RFC 4180 quoting. It is read into its heading row and the
// rows after it, with the columns of the login ID and of the name.
namespace classlist {

// The largest class list read: far beyond any real one, small enough to hold.
constexpr qint64 MaxBytes = 16 * 1024 * 1024;

struct Decoded
{
    QString text;
    QString encoding; // as shown to the lecturer: "UTF-8 (BOM付き)", "CP932", ...
};
// The encoding is told by the bytes: a byte-order mark, else whether they
// are valid UTF-8, else code page 932.
Decoded decode(QByteArrayView bytes);

// One record of the file and the line it begins on (1-based; a quoted line
// break moves the next record's line on).
struct Record
{
    int line = 0;
    QStringList fields;
};
// RFC 4180 records; a quote inside an unquoted field is taken as it is. A
// quote left open to the end of the text is an error naming its line.
Result<QList<Record>> parse(QStringView text, QChar delimiter);

} // namespace classlist

// Which column holds a value: empty for the known headings, a 1-based
// number, or a heading of the file.
struct ColumnChoice
{
    QString text;
};

struct ClassList
{
    QString encoding;
    QChar delimiter;
    int headingLine = 0; // 0: the file has no heading row
    QStringList headings;
    int idColumn = -1; // 0-based
    int nameColumn = -1;
    int width = 0;                    // the most fields of any row read
    QList<classlist::Record> records; // after the heading row

    QString idHeading() const { return headings.value(idColumn); }
    QString nameHeading() const { return headings.value(nameColumn); }
};

// Reads `bytes`; fails with the reason when no heading row or column can be
// found for what was asked.
Result<ClassList> readClassList(QByteArrayView bytes, const ColumnChoice &id = {},
                                const ColumnChoice &name = {});
// The same from a file, read up to classlist::MaxBytes.
Result<QByteArray> readClassListFile(const QString &path);

// A student as the class list gives one.
struct ListedStudent
{
    int line = 0;
    QString id;
    QString name; // line breaks and other control characters made blanks
};

struct ListedStudents
{
    QList<ListedStudent> students; // in file order; an ID may be empty
    int emptyRows = 0;
    int trailingRows = 0; // rows after the last student (totals, notes)
};

// The students of the data rows. Empty rows are skipped; so are the rows
// after the last one with both an ID and a name (totals, notes), which lack
// one of them. A row without an ID before that stays in, to be refused.
ListedStudents listStudents(const ClassList &list);

// For the lecturer: how the file was read ("UTF-8 (BOM付き)、区切り「,」、
// 見出し 3 行目、ID「学籍番号」(1 列目)、氏名「氏名」(2 列目)").
QString describeClassList(const ClassList &list);
// The rows passed over, or an empty text when there were none.
QString describeSkipped(const ListedStudents &listed);
