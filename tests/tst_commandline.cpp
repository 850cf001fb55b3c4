#include "server/app/commandline.h"

#include <QProcess>
#include <QTest>

namespace {

const CommandLine::Syntax Syntax{{"--roster", "--journals", "--out"}, {"--help", "-h"}, "｡"};

CommandLine parse(const QStringList &arguments)
{
    return CommandLine::parse(arguments, Syntax);
}

// The real program without a display: its exit code, what it printed.
int runProgram(const QStringList &arguments, QString *out)
{
    QProcess program;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove("DISPLAY");
    environment.remove("WAYLAND_DISPLAY");
    environment.remove("QT_QPA_PLATFORM");
    program.setProcessEnvironment(environment);
    program.start(TAVRELLE_PROGRAM, arguments);
    if (!program.waitForFinished(20000) || program.exitStatus() != QProcess::NormalExit)
        return -1;
    *out = QString::fromUtf8(program.readAllStandardOutput());
    return program.exitCode();
}

} // namespace

class TestCommandLine : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void valuesRepeatedAndLast()
    {
        const CommandLine line = parse({"--roster", "a.cfg", "--journals", "j1", "--out", "x.csv",
                                        "--journals", "j2", "--out", "y.csv"});
        QVERIFY(line.refusal().isEmpty());
        QVERIFY(!line.helpAsked());
        QCOMPARE(line.value("--roster"), QStringLiteral("a.cfg"));
        QCOMPARE(line.values("--journals"), (QStringList{"j1", "j2"}));
        QCOMPARE(line.value("--out"), QStringLiteral("y.csv")); // the last one counts
        QCOMPARE(line.value("--folder"), QString());
        QCOMPARE(line.options().size(), 5);
        QCOMPARE(line.options().at(1).name, QStringLiteral("--journals"));
        // A value that looks like an option is a value all the same.
        QCOMPARE(parse({"--out", "--roster"}).value("--out"), QStringLiteral("--roster"));
        QVERIFY(parse({}).refusal().isEmpty());
    }

    void refusals_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("refusal");
        QTest::addColumn<int>("readBefore");
        QTest::newRow("unknown") << QStringList{"--roster", "a", "--bogus", "--out", "x"}
                                 << "知らないオプションです: --bogus" << 1;
        QTest::newRow("bare word") << QStringList{"a.cfg"} << "知らないオプションです: a.cfg" << 0;
        QTest::newRow("case counts")
            << QStringList{"--OUT", "x"} << "知らないオプションです: --OUT" << 0;
        QTest::newRow("value missing at the end")
            << QStringList{"--roster", "a", "--out"} << "--out の後に値がありません｡" << 1;
    }
    void refusals()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, refusal);
        QFETCH(int, readBefore);
        const CommandLine line = parse(arguments);
        QCOMPARE(line.refusal(), refusal);
        QVERIFY(!line.helpAsked());
        QCOMPARE(line.options().size(), readBefore);
        // Each command ends the sentence its own way.
        const CommandLine::Syntax bare{Syntax.valued, Syntax.help, QString()};
        QCOMPARE(CommandLine::parse({"--out"}, bare).refusal(),
                 QStringLiteral("--out の後に値がありません"));
    }

    void helpAnywhereWinsOverFaults()
    {
        for (const QStringList &arguments : QList<QStringList>{{"--help"},
                                                               {"--bogus", "-h"},
                                                               {"--out", "--help"},
                                                               {"--roster", "a", "--help", "x"}}) {
            const CommandLine line = parse(arguments);
            QVERIFY2(line.helpAsked(), qPrintable(arguments.join(u' ')));
            QVERIFY(line.refusal().isEmpty());
            QVERIFY(line.options().isEmpty());
        }
        const CommandLine::Syntax noShortHelp{Syntax.valued, {"--help"}, QString()};
        QVERIFY(!CommandLine::parse({"-h"}, noShortHelp).helpAsked());
    }

    // tavrelle --help names every command without a window with all of its
    // options, in the words of the command's own --help.
    void programHelpListsEveryCommandAndItsOptions()
    {
        QString help;
        QCOMPARE(runProgram({"--help"}, &help), 0);
        QString shortHelp;
        QCOMPARE(runProgram({"-h"}, &shortHelp), 0);
        QCOMPARE(shortHelp, help);
        const QList<QStringList> commands = {
            {"--ledger", "--from", "--to", "--journals", "--out"},
            {"--submissions", "--folder", "--journals", "--out"},
            {"--seats", "--layout", "--date", "--journals", "--out"},
            {"--import-roster", "--lecture", "--lecturer", "--folder", "--id-column",
             "--name-column", "--out"}};
        for (const QStringList &options : commands) {
            QString own;
            QCOMPARE(runProgram({options.first(), "--help"}, &own), 0);
            QVERIFY2(help.contains(own), qPrintable(options.first()));
            QVERIFY2(own.contains(QStringLiteral("使い方: tavrelle ") + options.first()),
                     qPrintable(own));
            for (const QString &option : options)
                QVERIFY2(own.contains(option + u' '), qPrintable(option + u'\n' + own));
        }
        // Each command's help is its own.
        QString seats;
        QCOMPARE(runProgram({"--seats", "--help"}, &seats), 0);
        QVERIFY2(!seats.contains("--ledger") && !seats.contains("--import-roster"),
                 qPrintable(seats));
        QVERIFY(
            help.contains(QStringLiteral("オプションなしの tavrelle は講師用の画面を開きます")));
    }

    void argumentAfterTheProgramName()
    {
        char program[] = "--ledger";
        char first[] = "--out";
        char second[] = "--ledger";
        char *argv[] = {program, first, second, nullptr};
        QVERIFY(hasArgument(3, argv, "--ledger"));
        QVERIFY(!hasArgument(2, argv, "--ledger")); // the program's own name is no argument
        QVERIFY(!hasArgument(3, argv, "--led"));
    }
};

QTEST_GUILESS_MAIN(TestCommandLine)
#include "tst_commandline.moc"
