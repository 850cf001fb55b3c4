#include "server/app/seatscommand.h"

#include "common/clock.h"
#include "common/cp932.h"
#include "common/csvtext.h"
#include "common/readvar.h"
#include "server/app/commandline.h"
#include "server/app/commandoutput.h"
#include "server/lecture/rosterfile.h"
#include "server/lecture/seatmap.h"
#include "server/records/durablefile.h"
#include "server/records/journalreader.h"
#include "server/records/lecturejournal.h"
#include "server/records/seatclaims.h"
#include "server/term/coursesettings.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <cstdio>
#include <optional>

namespace {

const char *const CommandWord = "--seats";
// A layout is a few lines per seat: anything larger is no layout.
constexpr qint64 MaxLayoutBytes = 1024 * 1024;

const QString Usage = QStringLiteral(
    "使い方: tavrelle --seats 受講ファイル.cfg [--layout 座席表.cfg] [--date YYYY-MM-DD] "
    "[--journals 記録フォルダ]... [--out 出力.csv]\n"
    "その日 (省略時は今日) の記録から、座席ごとに誰が出席したかを CSV で書き出します｡\n"
    "座席表は --layout、inivar.cfg の zaseki、起動したフォルダの zaseki.cfg の順に探します｡\n");

struct Options
{
    QString roster;
    QString layout;
    QDate date;
    QStringList journals;
    QString out;
};

using commandoutput::exitAfter;
using commandoutput::tell;
using commandoutput::writeOut;

Result<Options> parse(const QStringList &arguments, bool *help)
{
    const CommandLine::Syntax syntax{{QLatin1String(CommandWord), QStringLiteral("--layout"),
                                      QStringLiteral("--date"), QStringLiteral("--journals"),
                                      QStringLiteral("--out")},
                                     {QStringLiteral("--help"), QStringLiteral("-h")},
                                     QStringLiteral("｡")};
    const CommandLine line = CommandLine::parse(arguments.mid(1), syntax);
    *help = line.helpAsked();
    if (!line.refusal().isEmpty())
        return Result<Options>::failure(line.refusal());
    Options options;
    options.roster = line.value(QLatin1String(CommandWord));
    options.layout = line.value(QStringLiteral("--layout"));
    options.journals = line.values(QStringLiteral("--journals"));
    options.out = line.value(QStringLiteral("--out"));
    const QString date = line.value(QStringLiteral("--date"));
    options.date = date.isEmpty() ? Clock::now().date() : CourseSettings::dayOf(date);
    if (!options.date.isValid())
        return Result<Options>::failure(
            QStringLiteral("--date の値「%1」は YYYY-MM-DD の日付ではありません｡").arg(date));
    return options;
}

std::optional<int> lateAfterOf(const CourseSettings &course)
{
    if (!course.start())
        return std::nullopt;
    return course.start()->msecsSinceStartOfDay() / 1000 + course.onTimeMinutes() * 60;
}

struct Roster
{
    QString lecture;
    QList<SeatMap::Student> students;
    std::optional<int> lateAfter;
};

Result<Roster> readRoster(const Options &options)
{
    QFile file(options.roster);
    if (!file.open(QIODevice::ReadOnly))
        return Result<Roster>::failure(QStringLiteral("受講ファイル %1 を読み込めません: %2")
                                           .arg(options.roster, file.errorString()));
    const QString text = cp932::decode(file.readAll());
    const StudentBlock block = readStudentBlock(text);
    Roster roster;
    roster.lecture = SettingsText(text).value(QStringLiteral("kougimei"));
    if (block.status != StudentBlock::Loaded || roster.lecture.isEmpty())
        return Result<Roster>::failure(
            QStringLiteral("受講ファイル %1 は有効な受講者データではありません｡")
                .arg(options.roster));
    for (int row = 0; row < block.studentCount; ++row)
        roster.students.append({block.rows[size_t(row)][RosterGrid::UserId],
                                block.rows[size_t(row)][RosterGrid::UserName]});
    roster.lateAfter = lateAfterOf(CourseSettings::fromText(text, options.date));
    return roster;
}

Result<> readJournals(const Options &options, const QString &lecture, SeatMap &map)
{
    QStringList folders;
    if (QFileInfo(LectureJournal::folder()).isDir())
        folders << LectureJournal::folder();
    for (const QString &folder : options.journals) {
        if (!QFileInfo(folder).isDir() || !QFileInfo(folder).isReadable())
            return Result<>::failure(QStringLiteral("記録フォルダ %1 を読めません｡").arg(folder));
        folders << folder;
    }
    const LectureJournals found = findLectureJournals(lecture, folders, options.date, options.date);
    const auto day = found.byDate.find(options.date);
    for (const QString &path : day != found.byDate.end() ? day->second : QStringList()) {
        const Result<> read = readSeatClaims(path, lecture, map);
        if (!read)
            tell(QStringLiteral("tavrelle: %1: %2").arg(path, read.error()));
    }
    return Result<>::success();
}

} // namespace

std::optional<int> rosterLateAfter(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    return lateAfterOf(
        CourseSettings::fromText(cp932::decode(file.readAll()), Clock::now().date()));
}

namespace {

QString zasekiKey(const QString &startFolder)
{
    const Result<SettingsText> settings =
        SettingsText::read(QDir(startFolder).absoluteFilePath(QStringLiteral("inivar.cfg")));
    return settings ? settings->value(QStringLiteral("zaseki")) : QString();
}

} // namespace

QString seatLayoutPath(const QString &startFolder, const QString &named)
{
    if (!named.isEmpty())
        return named;
    if (const QString key = zasekiKey(startFolder); !key.isEmpty())
        return key;
    const QString own = QDir(startFolder).absoluteFilePath(QStringLiteral("zaseki.cfg"));
    return QFileInfo::exists(own) ? own : QString();
}

QString seatLayoutSavePath(const QString &startFolder)
{
    const QString key = zasekiKey(startFolder);
    return key.isEmpty() ? QDir(startFolder).absoluteFilePath(QStringLiteral("zaseki.cfg")) : key;
}

Result<> writeSeatLayoutFile(const QString &path, const SeatLayout &layout)
{
    return replaceFileDurably(path, cp932::encode(layout.text()));
}

Result<SeatLayout> readSeatLayoutFile(const QString &path)
{
    if (path.isEmpty())
        return SeatLayout::inArrivalOrder({});
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || file.size() > MaxLayoutBytes)
        return Result<SeatLayout>::failure(
            QStringLiteral("座席表 %1 を読み込めません: %2")
                .arg(path, file.isOpen() ? QStringLiteral("大きすぎます") : file.errorString()));
    return SeatLayout::parse(cp932::decode(file.read(MaxLayoutBytes)));
}

QByteArray seatsCsv(const SeatMap &map)
{
    QString text = QStringLiteral("座席,行,列,アドレス,ユーザID,ユーザ名,状態,出席時刻\r\n");
    for (const SeatMap::Line &line : map.lines()) {
        QStringList cells;
        if (line.seat >= 0) {
            const Seat &seat = map.layout().seats[line.seat];
            cells << csvField(textCell(seat.label)) << QString::number(seat.row)
                  << QString::number(seat.column);
        } else {
            cells << QString() << QString() << QString();
        }
        cells << csvField(textCell(line.address)) << csvField(textCell(line.userId))
              << csvField(textCell(line.name)) << SeatMap::stateText(line.state) << line.time;
        text += cells.join(u',') + QStringLiteral("\r\n");
    }
    return cp932::encode(text);
}

namespace {

// The CSV of the seats for `options`: the exit status once it is written.
Result<int> writeSeats(const Options &options)
{
    const Result<Roster> roster = readRoster(options);
    if (!roster)
        return Result<int>::failure(roster.error());
    const Result<SeatLayout> layout =
        readSeatLayoutFile(seatLayoutPath(QDir::currentPath(), options.layout));
    if (!layout)
        return Result<int>::failure(layout.error());
    for (const QString &problem : layout->problems)
        tell(QStringLiteral("tavrelle: ") + problem);
    SeatMap map(*layout, roster->students, roster->lateAfter);
    if (const Result<> read = readJournals(options, roster->lecture, map); !read)
        return Result<int>::failure(read.error());
    return exitAfter(writeOut(options.out, seatsCsv(map)));
}

} // namespace

int seatsCommand(const QStringList &arguments)
{
    bool help = false;
    const Result<Options> options = parse(arguments, &help);
    if (help) {
        std::fputs(Usage.toLocal8Bit().constData(), stdout);
        return 0;
    }
    const Result<int> written =
        options ? writeSeats(*options) : Result<int>::failure(options.error());
    if (written)
        return *written;
    tell(QStringLiteral("tavrelle: ") + written.error());
    if (!options)
        tell(Usage);
    return 2;
}

bool isSeatsCommand(int argc, char *argv[])
{
    return hasArgument(argc, argv, CommandWord);
}

int runSeatsCommand(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("Tavrelle"));
    return seatsCommand(QCoreApplication::arguments());
}

QString seatsUsage()
{
    return Usage;
}
