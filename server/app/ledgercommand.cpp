#include "server/app/ledgercommand.h"

#include "common/clock.h"
#include "common/cp932.h"
#include "server/app/commandline.h"
#include "server/app/commandoutput.h"
#include "server/term/coursesettings.h"
#include "server/term/ledger.h"
#include "server/term/ledgercorrections.h"
#include "server/term/ledgercsv.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStringList>
#include <cstdio>

namespace {

constexpr int BadInput = 2;

const char Usage[] =
    "使い方: tavrelle --ledger 受講ファイル.cfg [オプション]\n"
    "講義の記録から学期の出席簿を作り、CSV (CP932、CR LF) で書き出します｡\n"
    "\n"
    "  --from YYYY-MM-DD   この日からの授業を数えます (既定: kikan の初日)\n"
    "  --to YYYY-MM-DD     この日までの授業を数えます (既定: kikan の最終日)\n"
    "  --journals DIR      ほかの機械の記録フォルダも読みます (何度でも指定できます)\n"
    "  --out FILE          FILE に書きます (既定: 標準出力)\n"
    "  --help              この説明を表示します\n";

struct Options
{
    QString roster;
    QDate from;
    QDate to;
    QStringList folders;
    QString out;
};

using commandoutput::exitAfter;
using commandoutput::tell;
using commandoutput::writeOut;

int refuse(const QString &text)
{
    tell(QStringLiteral("tavrelle: ") + text);
    tell(QStringLiteral("tavrelle --help で使い方を表示します｡"));
    return BadInput;
}

const CommandLine::Syntax Syntax{{QStringLiteral("--ledger"), QStringLiteral("--from"),
                                  QStringLiteral("--to"), QStringLiteral("--journals"),
                                  QStringLiteral("--out")},
                                 {QStringLiteral("--help")},
                                 QString()};

// Fills `options` from a parsed command line; the text of what is wrong, or
// nothing. The dates are checked in the order given, before a fault that
// stopped the reading further on.
QString parse(const CommandLine &line, Options &options)
{
    for (const CommandLine::Option &option : line.options()) {
        if (option.name != u"--from" && option.name != u"--to")
            continue;
        const QDate date = CourseSettings::dayOf(option.value);
        if (!date.isValid())
            return QStringLiteral("%1 の日付「%2」は YYYY-MM-DD ではありません")
                .arg(option.name, option.value);
        (option.name == u"--from" ? options.from : options.to) = date;
    }
    if (!line.refusal().isEmpty())
        return line.refusal();
    options.roster = line.value(QStringLiteral("--ledger"));
    options.folders = line.values(QStringLiteral("--journals"));
    options.out = line.value(QStringLiteral("--out"));
    if (options.roster.isEmpty())
        return QStringLiteral("受講ファイルを --ledger で指定してください");
    return {};
}

QString checkFolders(const QStringList &folders)
{
    for (const QString &folder : folders) {
        const QFileInfo info(folder);
        if (!info.isDir() || !info.isReadable() || !info.isExecutable())
            return QStringLiteral("記録フォルダ %1 を読めません").arg(folder);
    }
    return {};
}

} // namespace

bool isLedgerCommand(int argc, char *argv[])
{
    return hasArgument(argc, argv, "--ledger");
}

QString ledgerUsage()
{
    return QString::fromUtf8(Usage);
}

int runLedgerCommand(int argc, char *argv[])
{
    // No window: a core application gives the user's data folder its name.
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("Tavrelle"));
    const CommandLine line = CommandLine::parse(QCoreApplication::arguments().mid(1), Syntax);
    if (line.helpAsked()) {
        std::fputs(Usage, stdout);
        return 0;
    }
    Options options;
    if (const QString wrong = parse(line, options); !wrong.isEmpty())
        return refuse(wrong);
    if (const QString wrong = checkFolders(options.folders); !wrong.isEmpty())
        return refuse(wrong);
    Result<LedgerSource> read = readLedgerRoster(options.roster, Clock::today());
    if (!read)
        return refuse(read.error());
    LedgerSource source = *read;
    source.from = options.from.isValid() ? options.from : source.from;
    source.to = options.to.isValid() ? options.to : source.to;
    if (source.from > source.to)
        return refuse(QStringLiteral("--from の日付が --to の日付より後です"));
    source.journalFolders << options.folders;

    LedgerCorrections corrections;
    const Result<> loaded =
        corrections.load(LedgerCorrections::pathFor(source.lectureName), source.lectureName);
    QStringList problems = source.settings.problems();
    if (!loaded)
        problems << QStringLiteral("出席簿の訂正を読めません: ") + loaded.error();
    const Ledger ledger = buildLedger(source, corrections);
    for (const QString &problem :
         problems + corrections.problems() + ledger.problems + ledger.notes)
        tell(QStringLiteral("tavrelle: ") + problem);
    return exitAfter(writeOut(options.out, cp932::encode(ledgerCsv(ledger))));
}
