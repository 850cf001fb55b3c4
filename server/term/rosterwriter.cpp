#include "server/term/rosterwriter.h"

#include "common/cp932.h"
#include "server/records/durablefile.h"

#include <QHash>

namespace {

const QString Eol = QStringLiteral("\r\n");

// The first character code page 932 does not give back as itself, or an
// empty text: one without a code, or a JIS form such as 〜, written to the
// code of its Windows twin (a folder named with it would be read back as
// another folder).
QString unwritable(const QString &text)
{
    const auto same = [](const QString &part) {
        return cp932::decode(cp932::encode(part)) == part;
    };
    if (same(text))
        return {};
    for (qsizetype i = 0; i < text.size(); ++i) {
        const qsizetype length = text[i].isHighSurrogate() && i + 1 < text.size() ? 2 : 1;
        const QString character = text.mid(i, length);
        if (!same(character))
            return character;
        i += length - 1;
    }
    return {};
}

bool hasControl(const QString &text)
{
    for (const QChar c : text) {
        if (c.category() == QChar::Other_Control)
            return true;
    }
    return false;
}

bool hasBlank(const QString &text)
{
    for (const QChar c : text) {
        if (c.isSpace() || c.category() == QChar::Other_Control)
            return true;
    }
    return false;
}

void checkHeaderValue(QStringList &problems, const QString &what, const QString &value,
                      bool required)
{
    if (required && value.isEmpty())
        problems << QStringLiteral("%1がありません｡").arg(what);
    else if (hasControl(value))
        problems << QStringLiteral("%1に改行や制御文字は使えません｡").arg(what);
    else if (const QString c = unwritable(value); !c.isEmpty())
        problems << QStringLiteral("%1に CP932 (Shift_JIS) で書けない文字「%2」があります｡")
                        .arg(what, c);
}

// What is wrong with one student row, or an empty text.
QString studentProblem(const ListedStudent &student, const QHash<QString, int> &firstLines)
{
    if (student.id.isEmpty() || student.id.trimmed().isEmpty())
        return QStringLiteral("ID が空です｡");
    if (student.id.contains(u','))
        return QStringLiteral("ID に「,」があります｡");
    if (hasBlank(student.id))
        return QStringLiteral("ID に空白があります｡");
    // The student's program announces its login name in code page 932: an
    // ID it cannot write can never be marked.
    if (const QString c = unwritable(student.id); !c.isEmpty())
        return QStringLiteral("ID に CP932 (Shift_JIS) で書けない文字「%1」があります｡").arg(c);
    if (const int first = firstLines.value(student.id); first != student.line)
        return QStringLiteral("%1 行目と同じ ID です｡").arg(first);
    if (const QString c = unwritable(student.name); !c.isEmpty())
        return QStringLiteral("氏名「%1」に CP932 (Shift_JIS) で書けない文字「%2」があります｡")
            .arg(student.name, c);
    return {};
}

} // namespace

QStringList rosterProblems(const RosterHeader &header, const QList<ListedStudent> &students)
{
    QStringList problems;
    checkHeaderValue(problems, QStringLiteral("講義名"), header.lecture, true);
    checkHeaderValue(problems, QStringLiteral("担当者"), header.lecturer, true);
    checkHeaderValue(problems, QStringLiteral("課題提出先"), header.folder, false);

    QHash<QString, int> firstLines;
    for (const ListedStudent &student : students) {
        if (!firstLines.contains(student.id))
            firstLines.insert(student.id, student.line);
    }
    for (const ListedStudent &student : students) {
        if (const QString problem = studentProblem(student, firstLines); !problem.isEmpty()) {
            const QString id = student.id.isEmpty() ? QStringLiteral("ID なし")
                                                    : QStringLiteral("ID「%1」").arg(student.id);
            problems << QStringLiteral("%1 行目 (%2): %3").arg(student.line).arg(id, problem);
        }
    }
    return problems;
}

QByteArray rosterBytes(const RosterHeader &header, const QList<ListedStudent> &students)
{
    QString text = QStringLiteral("kougimei=") + header.lecture + Eol +
                   QStringLiteral("tantousya=") + header.lecturer + Eol +
                   QStringLiteral("kadaidir=") + header.folder + Eol +
                   QStringLiteral("<start data>") + Eol;
    for (const ListedStudent &student : students)
        text += student.id + u',' + student.name + Eol;
    text += QStringLiteral("<end data>") + Eol;
    return cp932::encode(text);
}

Result<> writeRoster(const QString &path, const RosterHeader &header,
                     const QList<ListedStudent> &students)
{
    const QStringList problems = rosterProblems(header, students);
    if (!problems.isEmpty())
        return Result<>::failure(problems.join(Eol));
    return replaceFileDurably(path, rosterBytes(header, students));
}
