#include "server/app/importcommand.h"

#include "common/result.h"
#include "server/app/commandline.h"
#include "server/term/classlist.h"
#include "server/term/rosterwriter.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <cstdio>
#include <optional>

namespace {

const char *const CommandWord = "--import-roster";
constexpr int BadInput = 2;
constexpr int NotWritten = 1;

const QString Usage = QStringLiteral(
    "使い方: tavrelle --import-roster 名簿.csv --lecture 講義名 --lecturer 担当者 "
    "[--folder 課題提出先] [--id-column 見出し|列番号] [--name-column 見出し|列番号] "
    "[--out 受講ファイル.cfg]\n"
    "教務システムの履修者名簿 (CSV・TSV、UTF-8・UTF-16・CP932) から受講ファイルを作ります｡\n"
    "ID "
    "は見出し「ユーザID」「ログインID」「アカウント」「ID」の列、なければ「学籍番号」「学生番号」"
    "の列、氏名は「氏名」「学生氏名」「名前」「Name」の列から読みます｡\n"
    "--out がなければ名簿と同じフォルダに拡張子 .cfg で書きます｡\n");

struct Options
{
    QString classList;
    RosterHeader header;
    ColumnChoice id;
    ColumnChoice name;
    QString out;
    bool help = false;
};

void tell(FILE *stream, const QString &text)
{
    const QByteArray bytes = (text + u'\n').toLocal8Bit();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream);
}

Result<Options> parse(const QStringList &arguments)
{
    const CommandLine::Syntax syntax{{QLatin1String(CommandWord), QStringLiteral("--lecture"),
                                      QStringLiteral("--lecturer"), QStringLiteral("--folder"),
                                      QStringLiteral("--id-column"),
                                      QStringLiteral("--name-column"), QStringLiteral("--out")},
                                     {QStringLiteral("--help"), QStringLiteral("-h")},
                                     QStringLiteral("｡")};
    const CommandLine line = CommandLine::parse(arguments.mid(1), syntax);
    Options options;
    if (line.helpAsked()) {
        options.help = true;
        return options;
    }
    if (!line.refusal().isEmpty())
        return Result<Options>::failure(line.refusal());
    options.classList = line.value(QLatin1String(CommandWord));
    options.header.lecture = line.value(QStringLiteral("--lecture"));
    options.header.lecturer = line.value(QStringLiteral("--lecturer"));
    options.header.folder = line.value(QStringLiteral("--folder"));
    options.id.text = line.value(QStringLiteral("--id-column"));
    options.name.text = line.value(QStringLiteral("--name-column"));
    options.out = line.value(QStringLiteral("--out"));
    if (options.classList.isEmpty())
        return Result<Options>::failure(
            QStringLiteral("名簿のファイルを --import-roster で指定してください｡"));
    if (options.header.lecture.isEmpty() || options.header.lecturer.isEmpty())
        return Result<Options>::failure(
            QStringLiteral("講義名を --lecture で、担当者を --lecturer で指定してください｡"));
    return options;
}

// The roster's path: --out, else the class list's with ".cfg".
QString outPath(const Options &options)
{
    if (!options.out.isEmpty())
        return options.out;
    const QFileInfo source(options.classList);
    return source.dir().filePath(source.completeBaseName() + QStringLiteral(".cfg"));
}

int refuseRows(const QString &classList, const QStringList &problems, const QString &skipped)
{
    tell(stderr, QStringLiteral("tavrelle: 名簿 %1 を取り込めません｡何も書き込んでいません｡")
                     .arg(classList));
    for (const QString &problem : problems)
        tell(stderr, QStringLiteral("  ") + problem);
    if (!skipped.isEmpty())
        tell(stderr, QStringLiteral("  (") + skipped + u')');
    return BadInput;
}

int run(Options &options)
{
    if (!options.header.folder.isEmpty())
        options.header.folder = QDir::toNativeSeparators(
            QDir::cleanPath(QFileInfo(options.header.folder).absoluteFilePath()));
    const QString out = outPath(options);
    if (QFileInfo(out).absoluteFilePath() == QFileInfo(options.classList).absoluteFilePath()) {
        tell(stderr, QStringLiteral("tavrelle: 受講ファイルを名簿と同じ %1 には書けません｡--out "
                                    "で別のファイルを指定してください｡")
                         .arg(out));
        return BadInput;
    }
    const Result<QByteArray> bytes = readClassListFile(options.classList);
    const Result<ClassList> list = bytes ? readClassList(*bytes, options.id, options.name)
                                         : Result<ClassList>::failure(bytes.error());
    if (!list) {
        tell(stderr, QStringLiteral("tavrelle: ") + list.error());
        return BadInput;
    }
    const ListedStudents listed = listStudents(*list);
    const QStringList problems = rosterProblems(options.header, listed.students);
    if (!problems.isEmpty())
        return refuseRows(options.classList, problems, describeSkipped(listed));
    const Result<> written = writeRoster(out, options.header, listed.students);
    if (!written) {
        tell(stderr, QStringLiteral("tavrelle: %1 に書き込めません: %2").arg(out, written.error()));
        return NotWritten;
    }
    tell(stdout, QStringLiteral("受講者 %1 人の受講ファイルを %2 に書きました｡")
                     .arg(listed.students.size())
                     .arg(out));
    tell(stdout, QStringLiteral("  ") + describeClassList(*list));
    if (const QString skipped = describeSkipped(listed); !skipped.isEmpty())
        tell(stdout, QStringLiteral("  ") + skipped);
    return 0;
}

} // namespace

int importCommand(const QStringList &arguments)
{
    const Result<Options> options = parse(arguments);
    if (options && options->help) {
        std::fputs(Usage.toLocal8Bit().constData(), stdout);
        return 0;
    }
    if (!options) {
        tell(stderr, QStringLiteral("tavrelle: ") + options.error());
        tell(stderr, Usage);
        return BadInput;
    }
    Options chosen = *options; // run() writes the cleaned folder into it
    return run(chosen);
}

bool isImportCommand(int argc, char *argv[])
{
    return hasArgument(argc, argv, CommandWord);
}

int runImportCommand(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("Tavrelle"));
    return importCommand(QCoreApplication::arguments());
}

QString importRosterUsage()
{
    return Usage;
}
