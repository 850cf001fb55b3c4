#include "server/app/commandline.h"

#include <QTest>

namespace {

const CommandLine::Syntax Syntax{{"--roster", "--journals", "--out"}, {"--help", "-h"}, "｡"};

CommandLine parse(const QStringList &arguments)
{
    return CommandLine::parse(arguments, Syntax);
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
