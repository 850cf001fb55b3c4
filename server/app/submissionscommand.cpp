#include "server/app/submissionscommand.h"

#include "common/cp932.h"
#include "common/readvar.h"
#include "common/result.h"
#include "server/app/commandline.h"
#include "server/folders/handoutscan.h"
#include "server/lecture/deadlinekeeper.h"
#include "server/lecture/deadlinestore.h"
#include "server/lecture/rosterfile.h"
#include "server/lecture/studentdeadline.h"
#include "server/records/lecturejournal.h"
#include "server/term/submissionsindex.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QSet>
#include <cstdio>

namespace {

const char *const CommandWord = "--submissions";

const QString Usage = QStringLiteral(
    "使い方: tavrelle --submissions 受講ファイル.cfg [--folder 課題提出先] "
    "[--journals 記録フォルダ]... [--out 出力.csv]\n"
    "課題提出先 (省略時は受講ファイルの kadaidir) への提出を一人一行の CSV で書き出します｡\n"
    "記録はデータフォルダの journal と、--journals で挙げたフォルダから読みます｡\n");

struct Options
{
    QString roster;
    QString folder;
    QStringList journals;
    QString out;
    QString handouts; // the roster's haifudir
    bool help = false;
};

void tell(const QString &text)
{
    const QByteArray bytes = text.toLocal8Bit();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stderr);
}

Result<Options> parse(const QStringList &arguments)
{
    const CommandLine::Syntax syntax{{QLatin1String(CommandWord), QStringLiteral("--folder"),
                                      QStringLiteral("--journals"), QStringLiteral("--out")},
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
    options.roster = line.value(QLatin1String(CommandWord));
    options.folder = line.value(QStringLiteral("--folder"));
    options.journals = line.values(QStringLiteral("--journals"));
    options.out = line.value(QStringLiteral("--out"));
    return options;
}

// The roster's enchou lines, and over them what the lecturer set for the
// folder in this machine's window: the list says what the window says.
QHash<QString, QString> ownDeadlines(const SettingsText &keys, const QSet<QString> &ids,
                                     const QString &folder)
{
    QHash<QString, QString> own;
    for (const StudentDeadline &deadline :
         readStudentDeadlines(keys.lines(QStringLiteral("enchou")), ids).deadlines)
        own.insert(deadline.userId, deadline.text());
    const FolderDeadlines set = DeadlineStore(DeadlineKeeper::defaultStorePath())
                                    .load()
                                    .value(DeadlineStore::keyOf(folder));
    for (const StudentDeadline &deadline : set.students) {
        if (ids.contains(deadline.userId))
            own.insert(deadline.userId, deadline.text());
    }
    return own;
}

// The roster's students, and its assignment folder unless one was named.
Result<QList<SubmissionsIndex::Student>> readRoster(Options &options)
{
    using Students = Result<QList<SubmissionsIndex::Student>>;
    QFile file(options.roster);
    if (!file.open(QIODevice::ReadOnly))
        return Students::failure(QStringLiteral("受講ファイル %1 を読み込めません: %2")
                                     .arg(options.roster, file.errorString()));
    const QString text = cp932::decode(file.readAll());
    const StudentBlock block = readStudentBlock(text);
    if (block.status != StudentBlock::Loaded)
        return Students::failure(
            QStringLiteral("受講ファイル %1 は有効な受講者データではありません｡")
                .arg(options.roster));
    const SettingsText keys(text);
    QSet<QString> ids;
    for (int row = 0; row < block.studentCount; ++row)
        ids.insert(block.rows[size_t(row)][RosterGrid::UserId]);
    options.handouts = keys.value(QStringLiteral("haifudir"));
    if (options.folder.isEmpty())
        options.folder = keys.value(QStringLiteral("kadaidir"));
    const QHash<QString, QString> own = ownDeadlines(keys, ids, options.folder);
    QList<SubmissionsIndex::Student> students;
    for (int row = 0; row < block.studentCount; ++row) {
        const QString &id = block.rows[size_t(row)][RosterGrid::UserId];
        students.append({id, block.rows[size_t(row)][RosterGrid::UserName], own.value(id)});
    }
    if (options.folder.isEmpty())
        return Students::failure(
            QStringLiteral("課題提出先がありません｡受講ファイルの kadaidir か --folder "
                           "で指定してください｡"));
    if (!QFileInfo(options.folder).isDir())
        return Students::failure(QStringLiteral("課題提出先 %1 がありません｡").arg(options.folder));
    return students;
}

Result<> readJournals(const Options &options, SubmissionsIndex &index)
{
    // The data folder's own journals, when there are any, and the named ones.
    if (QFileInfo(LectureJournal::folder()).isDir())
        readReceiptsIn(LectureJournal::folder(),
                       [&index](const QList<Receipt> &receipts) { index.addReceipts(receipts); });
    for (const QString &folder : options.journals) {
        if (!QFileInfo(folder).isDir() || !QFileInfo(folder).isReadable())
            return Result<>::failure(QStringLiteral("記録フォルダ %1 を読めません｡").arg(folder));
        readReceiptsIn(folder,
                       [&index](const QList<Receipt> &receipts) { index.addReceipts(receipts); });
    }
    return Result<>::success();
}

// Copies of a handout are no sign of copying, as in the window.
QSet<QByteArray> handoutHashes(const QString &folder, HashCache &cache)
{
    QSet<QByteArray> hashes;
    if (folder.isEmpty())
        return hashes;
    const std::atomic_bool never{false};
    for (const Handout &handout : scanHandouts(folder, cache, never).handouts)
        hashes.insert(handout.sha256);
    return hashes;
}

Result<> writeOut(const QString &path, const QByteArray &csv)
{
    QFile out;
    const bool opened = path.isEmpty() ? out.open(stdout, QIODevice::WriteOnly)
                                       : (out.setFileName(path), out.open(QIODevice::WriteOnly));
    if (opened && out.write(csv) == csv.size() && out.flush())
        return Result<>::success();
    return Result<>::failure(
        QStringLiteral("%1 に書き込めません: %2")
            .arg(path.isEmpty() ? QStringLiteral("標準出力") : path, out.errorString()));
}

// The list for `options`, written where they say.
Result<> writeSubmissions(Options options)
{
    const Result<QList<SubmissionsIndex::Student>> students = readRoster(options);
    if (!students)
        return Result<>::failure(students.error());
    SubmissionsIndex index(options.folder, *students);
    HashCache cache;
    index.setExcludedHashes(handoutHashes(options.handouts, cache));
    if (const Result<> read = readJournals(options, index); !read)
        return read;
    return writeOut(options.out, submissionsCsv(index.build(cache)));
}

} // namespace

int submissionsCommand(const QStringList &arguments)
{
    const Result<Options> options = parse(arguments);
    if (options && options->help) {
        std::fputs(Usage.toLocal8Bit().constData(), stdout);
        return 0;
    }
    const Result<> written =
        options ? writeSubmissions(*options) : Result<>::failure(options.error());
    if (written)
        return 0;
    tell(written.error() + u'\n');
    if (!options)
        tell(Usage);
    return 2;
}

bool isSubmissionsCommand(int argc, char *argv[])
{
    return hasArgument(argc, argv, CommandWord);
}

int runSubmissionsCommand(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("Tavrelle"));
    return submissionsCommand(QCoreApplication::arguments());
}

QString submissionsUsage()
{
    return Usage;
}
