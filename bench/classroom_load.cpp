// The classroom load benchmark: a whole lecture hall against the lecturer's
// program, in separate processes, over real loopback sockets. The host
// (bench_classroom_host) runs the real main window; the students are played
// from here, single-threaded on epoll. See bench/classroom/scenarios.h for
// the scenarios and `bench_classroom --help` for the options.
#include "bench/classroom/report.h"
#include "bench/classroom/scenarios.h"
#include "common/wire.h"

#include <QCommandLineParser>
#include <QCoreApplication>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <optional>
#include <sys/resource.h>

namespace {

enum Exit { Usage = 2 };

// Every upload's size goes over the wire, whose sizes are 32-bit.
constexpr long MaxUploadMiB = long(wire::MaxUploadSize >> 20);

struct NumberOption
{
    const char *name;
    const char *description;
    const char *defaultValue;
    long minimum;
    long maximum;
    void (*store)(Options &, long);
};

const NumberOption Numbers[] = {
    {"students", "attendance: students at once", "1000", 1, 1000000,
     [](Options &o, long v) { o.students = int(v); }},
    {"hall", "hall: students at once", "5000", 1, 1000000,
     [](Options &o, long v) { o.hall = int(v); }},
    {"crowd", "crowd: clients at once", "2000", 1, 1000000,
     [](Options &o, long v) { o.crowd = int(v); }},
    {"big-mib", "uploads: size of the single upload", "512", 1, MaxUploadMiB,
     [](Options &o, long v) { o.bigMiB = size_t(v); }},
    {"uploads", "uploads: simultaneous uploads", "50", 1, 100000,
     [](Options &o, long v) { o.uploads = int(v); }},
    {"upload-mib", "uploads: size of each simultaneous upload", "20", 1, MaxUploadMiB,
     [](Options &o, long v) { o.uploadMiB = size_t(v); }},
    {"repeat", "uploads: rounds, the best counts", "3", 1, 1000,
     [](Options &o, long v) { o.repeat = int(v); }},
    // Shorter, the load's own swing of a few MiB hides a slope of 1 MiB/min.
    {"soak-seconds", "soak: duration", "240", 1, 1000000,
     [](Options &o, long v) { o.soakSeconds = int(v); }},
    {"soak-students", "soak: students", "300", 1, 1000000,
     [](Options &o, long v) { o.soakStudents = int(v); }},
    {"soak-max-kib", "soak: largest upload", "1024", 1, MaxUploadMiB << 10,
     [](Options &o, long v) { o.soakMaxKiB = size_t(v); }},
    {"soak-clear", "soak: empty the activity log every N s, 0 never", "5", 0, 1000000,
     [](Options &o, long v) { o.soakClearSeconds = int(v); }},
    {"hostile-students", "hostile: students attending and uploading", "300", 1, 1000000,
     [](Options &o, long v) { o.hostileStudents = int(v); }},
    {"hostile-seconds", "hostile: duration of the storm and the flood", "10", 1, 3600,
     [](Options &o, long v) { o.hostileSeconds = int(v); }},
};

// The scenarios, in the order they run.
struct Scenario
{
    const char *name;
    void (Scenarios::*run)();
};

const Scenario AllScenarios[] = {
    {"attendance", &Scenarios::attendance},
    {"hall", &Scenarios::hall},
    {"crowd", &Scenarios::crowd},
    {"uploads", &Scenarios::uploads},
    {"soak", &Scenarios::soak},
    {"hostile", &Scenarios::hostile},
};

bool isScenario(const QString &name)
{
    return std::any_of(
        std::begin(AllScenarios), std::end(AllScenarios),
        [&](const Scenario &scenario) { return name == QLatin1String(scenario.name); });
}

QString scenarioNames()
{
    QStringList names;
    for (const Scenario &scenario : AllScenarios)
        names << QString::fromLatin1(scenario.name);
    return names.join(u',');
}

QCommandLineOption numberOption(const NumberOption &number)
{
    const QString description = QStringLiteral("%1 (%2)").arg(
        QString::fromUtf8(number.description), QString::fromLatin1(number.defaultValue));
    QCommandLineOption option(QString::fromLatin1(number.name), description, QStringLiteral("N"));
    option.setDefaultValue(QString::fromLatin1(number.defaultValue));
    return option;
}

class Arguments
{
public:
    Arguments()
    {
        m_parser.setApplicationDescription(QStringLiteral(
            "Plays a lecture hall against the lecturer's program.\n"
            "Exit status: 0 all goals met, 1 a reply or stored byte was wrong, 3 a goal missed."));
        m_parser.addHelpOption();
        m_parser.addOptions({m_host, m_work, m_only});
        for (const NumberOption &number : Numbers)
            m_parser.addOption(numberOption(number));
    }

    // The options; nothing when they are wrong (the reason is printed) or
    // after --help.
    std::optional<Options> parse(const QStringList &arguments)
    {
        if (!m_parser.parse(arguments))
            return refuse(m_parser.errorText());
        if (m_parser.isSet(QStringLiteral("help"))) {
            std::printf("%s", qPrintable(m_parser.helpText()));
            m_helpShown = true;
            return std::nullopt;
        }
        Options options;
        options.host = m_parser.value(m_host).toStdString();
        options.work = m_parser.value(m_work).toStdString();
        if (options.host.empty() || options.work.empty())
            return refuse(QStringLiteral("--host and --work are required"));
        for (const QString &scenario : m_parser.value(m_only).split(u',', Qt::SkipEmptyParts)) {
            // A misspelt name would otherwise run nothing and pass.
            if (!isScenario(scenario))
                return refuse(QStringLiteral("--only: no scenario \"%1\"").arg(scenario));
            options.only.insert(scenario.toStdString());
        }
        for (const NumberOption &number : Numbers) {
            bool ok = false;
            const long value = m_parser.value(QString::fromLatin1(number.name)).toLong(&ok);
            if (!ok || value < number.minimum || value > number.maximum)
                return refuse(QStringLiteral("--%1 takes a number from %2 to %3")
                                  .arg(QString::fromLatin1(number.name))
                                  .arg(number.minimum)
                                  .arg(number.maximum));
            number.store(options, value);
        }
        return options;
    }

    bool helpShown() const { return m_helpShown; }

private:
    std::nullopt_t refuse(const QString &why)
    {
        std::fprintf(stderr, "bench_classroom: %s (see --help)\n", qPrintable(why));
        return std::nullopt;
    }

    QCommandLineParser m_parser;
    QCommandLineOption m_host{QStringLiteral("host"),
                              QStringLiteral("bench_classroom_host program"),
                              QStringLiteral("PATH")};
    QCommandLineOption m_work{QStringLiteral("work"),
                              QStringLiteral("folder for the roster and the assignments"),
                              QStringLiteral("DIR")};
    QCommandLineOption m_only{QStringLiteral("only"),
                              QStringLiteral("scenarios to run, comma separated: ") +
                                  scenarioNames(),
                              QStringLiteral("LIST")};
    bool m_helpShown = false;
};

// Every student is a socket here: take all the descriptors the system allows.
void raiseOpenFileLimit()
{
    rlimit files{};
    ::getrlimit(RLIMIT_NOFILE, &files);
    files.rlim_cur = files.rlim_max;
    ::setrlimit(RLIMIT_NOFILE, &files);
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    Arguments arguments;
    const std::optional<Options> options = arguments.parse(QCoreApplication::arguments());
    if (!options)
        return arguments.helpShown() ? 0 : Usage;
    std::signal(SIGPIPE, SIG_IGN);
    raiseOpenFileLimit();

    Scenarios scenarios(*options);
    for (const Scenario &scenario : AllScenarios) {
        if (options->only.empty() || options->only.count(scenario.name) > 0)
            (scenarios.*scenario.run)();
    }
    return finishReport();
}
