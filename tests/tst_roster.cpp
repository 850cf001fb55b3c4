#include "server/app/rostercommands.h"
#include "server/lecture/lecture.h"
#include "server/lecture/rosterfile.h"
#include "server/lecture/rostergrid.h"
#include "server/ui/rosterfilter.h"
#include "server/ui/rostermodel.h"
#include "support/fakedialogs.h"
#include "support/files.h"

#include <QAbstractItemModelTester>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

namespace {

const QString Invalid = QStringLiteral("有効な受講者データではありません");

QStringList header()
{
    return {"# 情報処理演習", "kougimei=情報処理演習Ⅰ", "tantousya=山田 太郎",
            "kadaidir=/srv/kadai"};
}

QStringList students(int count)
{
    QStringList lines{"<start data>"};
    for (int i = 1; i <= count; ++i)
        lines << QStringLiteral("s%1,学生 %1").arg(i);
    lines << "<end data>";
    return lines;
}

} // namespace

class TestRoster : public QObject
{
    Q_OBJECT
    QTemporaryDir m_dir;
    RosterGrid *m_grid = nullptr;
    Lecture *m_lecture = nullptr;
    FakeFileDialogs m_dialogs;
    FakeMessageBox m_messages;
    RosterCommands *m_commands = nullptr;

    QString rosterFile(const QByteArray &bytes)
    {
        static int serial = 0;
        const QString path = m_dir.filePath(QStringLiteral("roster%1.cfg").arg(++serial));
        writeBytes(path, bytes);
        return path;
    }
    void open(const QByteArray &bytes)
    {
        m_dialogs.nextAnswers << rosterFile(bytes);
        m_commands->open();
    }
    void open(const QStringList &lines) { open(cp932Lines(lines)); }
    QStringList column(int column) const
    {
        QStringList texts;
        for (int row = 0; row < m_grid->rows(); ++row)
            texts << m_grid->text(row, column);
        return texts;
    }
    void markPresent(int row) { m_grid->setText(row, RosterGrid::Attendance, "09:00:00"); }

private Q_SLOTS:
    void init()
    {
        m_grid = new RosterGrid;
        m_lecture = new Lecture;
        m_dialogs = FakeFileDialogs();
        m_messages = FakeMessageBox();
        m_commands = new RosterCommands(*m_grid, *m_lecture, m_dialogs, m_messages);
        for (int column = 0; column < RosterGrid::ColumnCount; ++column)
            m_grid->setText(0, column, QStringLiteral("h%1").arg(column));
    }
    void cleanup()
    {
        delete m_commands;
        delete m_lecture;
        delete m_grid;
    }

    void gridRowCountKeepsAndDropsRows()
    {
        QCOMPARE(m_grid->rows(), 2);
        m_grid->setRows(4);
        m_grid->setText(3, 1, "kept");
        m_grid->setRows(5);
        QCOMPARE(m_grid->text(3, 1), QStringLiteral("kept"));
        QCOMPARE(m_grid->text(4, 1), QString());
        m_grid->setRows(3);
        QCOMPARE(m_grid->rows(), 3);
        // Cells that do not exist read as empty and ignore writes.
        QCOMPARE(m_grid->text(3, 0), QString());
        QCOMPARE(m_grid->text(0, 5), QString());
        m_grid->setText(-1, 0, "x");
        m_grid->setText(3, 0, "x");
        QCOMPARE(m_grid->rows(), 3);
        // The view sees row 0 as its header and the rest as rows.
        const RosterModel model(*m_grid);
        QCOMPARE(model.rowCount(), 2);
        QCOMPARE(model.headerData(1, Qt::Horizontal, Qt::DisplayRole).toString(), "h1");
    }

    // The filters above the grid, over the model without a window: each kind
    // with its count, the search on ID or name, and the 計 line always there.
    void filtersNarrowTheRowsAndKeepTheTotal_data()
    {
        QTest::addColumn<int>("kind");
        QTest::addColumn<QString>("search");
        QTest::addColumn<QStringList>("ids");
        QTest::newRow("all") << int(RosterFilter::All) << QString()
                             << QStringList{"taro", "hanako", "jiro", "Saburo", "計"};
        QTest::newRow("absent") << int(RosterFilter::Absent) << QString()
                                << QStringList{"jiro", "Saburo", "計"};
        QTest::newRow("not handed in") << int(RosterFilter::NotHandedIn) << QString()
                                       << QStringList{"hanako", "jiro", "Saburo", "計"};
        QTest::newRow("late after 09:10:00")
            << int(RosterFilter::Late) << QString() << QStringList{"hanako", "計"};
        QTest::newRow("flagged") << int(RosterFilter::Flagged) << QString()
                                 << QStringList{"taro", "計"};
        QTest::newRow("search an ID, any case")
            << int(RosterFilter::All) << QStringLiteral("sab") << QStringList{"Saburo", "計"};
        QTest::newRow("search a name")
            << int(RosterFilter::Absent) << QStringLiteral("次") << QStringList{"jiro", "計"};
    }
    void filtersNarrowTheRowsAndKeepTheTotal()
    {
        QFETCH(int, kind);
        QFETCH(QString, search);
        QFETCH(QStringList, ids);
        m_grid->replaceRowsFrom(1, {RosterGrid::Row{"taro", "太郎", "09:05:00", "09:30:00"},
                                    RosterGrid::Row{"hanako", "花子", "09:10:01"},
                                    RosterGrid::Row{"jiro", "次郎"},
                                    RosterGrid::Row{"Saburo", "三郎"}, RosterGrid::Row{"計"}});
        m_grid->setRosterCount(4);
        m_grid->flagAddress(1);
        RosterModel model(*m_grid);
        RosterFilter filter(*m_grid);
        filter.setSourceModel(&model);
        filter.setLateAfter(9 * 3600 + 10 * 60);
        filter.setKind(RosterFilter::Kind(kind));
        filter.setSearch(search);
        QStringList shown;
        for (int row = 0; row < filter.rowCount(); ++row)
            shown << filter.index(row, RosterGrid::UserId).data().toString();
        QCOMPARE(shown, ids);
        QCOMPARE(filter.caption(RosterFilter::All), QStringLiteral("全員 (4)"));
        QCOMPARE(filter.caption(RosterFilter::Absent), QStringLiteral("未出席 (2)"));
        QCOMPARE(filter.caption(RosterFilter::Late), QStringLiteral("遅刻 (1)"));
        // A mark moves a row out of 未出席 at once; the grid keeps every row.
        m_grid->setText(3, RosterGrid::Attendance, "09:00:00");
        QCOMPARE(filter.count(RosterFilter::Absent), 1);
        QCOMPARE(m_grid->exportRows().size(), size_t(5));
        if (kind == RosterFilter::Absent && search.isEmpty())
            QCOMPARE(filter.rowCount(), 2);
    }

    // A roster opened while a filter is chosen: its rows are students once
    // the count is set, and the filter judges them as such; the counts
    // follow marks and flags.
    void filterJudgesANewRostersRows()
    {
        RosterModel model(*m_grid);
        RosterFilter filter(*m_grid);
        filter.setSourceModel(&model);
        filter.setKind(RosterFilter::Absent);
        m_grid->replaceRowsFrom(1, {RosterGrid::Row{"taro", "太郎", "09:00:00"},
                                    RosterGrid::Row{"hanako", "花子"}, RosterGrid::Row{"計"}});
        m_grid->setRosterCount(2);
        QStringList shown;
        for (int row = 0; row < filter.rowCount(); ++row)
            shown << filter.index(row, RosterGrid::UserId).data().toString();
        QCOMPARE(shown, (QStringList{"hanako", "計"}));
        m_grid->flagAddress(2);
        QCOMPARE(filter.caption(RosterFilter::Flagged), QStringLiteral("要確認 (1)"));
        QCOMPARE(filter.caption(RosterFilter::NotHandedIn), QStringLiteral("未提出 (2)"));
    }

    void modelFollowsTheGrid()
    {
        RosterModel model(*m_grid);
        QAbstractItemModelTester tester(&model,
                                        QAbstractItemModelTester::FailureReportingMode::QtTest);
        QSignalSpy inserted(&model, &QAbstractItemModel::rowsInserted);
        QSignalSpy removed(&model, &QAbstractItemModel::rowsRemoved);
        QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);
        QSignalSpy header(&model, &QAbstractItemModel::headerDataChanged);
        QSignalSpy reset(&model, &QAbstractItemModel::modelReset);
        m_grid->setRows(4);
        QCOMPARE(inserted.count(), 1);
        QCOMPARE(inserted.at(0).at(1).toInt(), 1);
        QCOMPARE(inserted.at(0).at(2).toInt(), 2);
        m_grid->setRows(4); // no change, no signal
        QCOMPARE(inserted.count(), 1);
        m_grid->setRosterCount(2);
        m_grid->setText(2, RosterGrid::Attendance, "09:00:00");
        QCOMPARE(model.index(1, RosterGrid::Attendance).data().toString(), "09:00:00");
        QCOMPARE(changed.last().at(0).toModelIndex(), model.index(1, RosterGrid::Attendance));
        m_grid->setText(0, 3, "課題");
        QCOMPARE(header.last().at(1).toInt(), 3);
        QCOMPARE(model.headerData(3, Qt::Horizontal, Qt::DisplayRole).toString(), "課題");
        // Flags and late notes: a role and a tooltip on their own cell only.
        m_grid->flagAddress(1);
        m_grid->setLateNote(2, "締切後 1分");
        const auto cell = [&](int row, int column) { return model.index(row, column); };
        QCOMPARE(changed.last().at(0).toModelIndex(), cell(1, RosterGrid::Assignment));
        QVERIFY(cell(0, RosterGrid::Address).data(RosterModel::AddressFlaggedRole).toBool());
        QCOMPARE(cell(0, RosterGrid::Address).data(Qt::ToolTipRole).toString(), "!");
        QVERIFY(!cell(1, RosterGrid::Address).data(RosterModel::AddressFlaggedRole).isValid());
        QVERIFY(!cell(0, RosterGrid::UserId).data(RosterModel::AddressFlaggedRole).isValid());
        QVERIFY(cell(1, RosterGrid::Assignment).data(RosterModel::LateRole).toBool());
        QCOMPARE(cell(1, RosterGrid::Assignment).data(Qt::ToolTipRole).toString(), "締切後 1分");
        QVERIFY(!cell(0, RosterGrid::Assignment).data(RosterModel::LateRole).isValid());
        m_grid->setLateNote(2, QString());
        QVERIFY(!cell(1, RosterGrid::Assignment).data(Qt::ToolTipRole).isValid());
        // A new roster resets the view; a shorter grid removes rows.
        m_grid->replaceRowsFrom(1, {RosterGrid::Row{"taro", "太郎"}, RosterGrid::Row{"計"}});
        QCOMPARE(reset.count(), 1);
        QCOMPARE(model.rowCount(), 2);
        QVERIFY(!cell(0, RosterGrid::Address).data(RosterModel::AddressFlaggedRole).isValid());
        m_grid->setRows(2);
        QCOMPARE(removed.count(), 1);
        QCOMPARE(removed.at(0).at(1).toInt(), 1);
        QCOMPARE(model.rowCount(), 1);
    }

    void timeStampShape()
    {
        QVERIFY(RosterGrid::isTimeStamp("09:15:00"));
        QVERIFY(RosterGrid::isTimeStamp("ab:cd:ef"));
        QVERIFY(!RosterGrid::isTimeStamp("9:15:00"));
        QVERIFY(!RosterGrid::isTimeStamp("09:15:000"));
        QVERIFY(!RosterGrid::isTimeStamp("09-15-00"));
        QVERIFY(!RosterGrid::isTimeStamp(""));
    }

    void loadsStudentsAndTotalLine()
    {
        open(header() + students(3));
        QVERIFY(m_messages.shown.isEmpty());
        QCOMPARE(m_dialogs.filters, QStringList{"受講ﾌｧｲﾙ (*.cfg)|*.cfg"});
        QCOMPARE(m_lecture->kougimei(), QStringLiteral("情報処理演習Ⅰ"));
        QCOMPARE(m_lecture->tantousya(), QStringLiteral("山田 太郎"));
        QCOMPARE(m_lecture->kadaidir(), QStringLiteral("/srv/kadai"));
        QCOMPARE(m_grid->rows(), 5);
        QCOMPARE(column(0), (QStringList{"h0", "s1", "s2", "s3", "計"}));
        QCOMPARE(column(1), (QStringList{"h1", "学生 1", "学生 2", "学生 3", "3 人"}));
        // The total line counts who is present and who handed in.
        QCOMPARE(column(2), (QStringList{"h2", "", "", "", "0 人"}));
        QCOMPARE(column(3), (QStringList{"h3", "", "", "", "0 人"}));
        QCOMPARE(m_grid->rosterCount(), 3);
        QCOMPARE(m_grid->searchtext("s2"), 2);
        // Only the first block is read.
        open(header() + students(2) + QStringList{"<start data>", "x,y", "<end data>"});
        QCOMPARE(column(0), (QStringList{"h0", "s1", "s2", "計"}));
        // Hand-edited files may end their lines with LF or CR alone.
        for (const char *eol : {"\n", "\r"}) {
            open(cp932Lines(header() + students(2), eol));
            QCOMPARE(m_grid->rosterCount(), 2);
            QCOMPARE(m_grid->text(2, 1), QStringLiteral("学生 2"));
        }
        // An empty block gives the total line only.
        open(header() + students(0));
        QCOMPARE(column(0), (QStringList{"h0", "計"}));
        QCOMPARE(column(1), (QStringList{"h1", "0 人"}));
        QCOMPARE(column(2), (QStringList{"h2", "0 人"}));
        QCOMPARE(m_grid->rosterCount(), 0);
        QVERIFY(m_messages.shown.isEmpty());
    }

    void studentLinesAreTakenLiterally()
    {
        open(header() + QStringList{"<start data>", "taro,山田,太郎", ",名無し", " hanako , 花子 ",
                                    "#x,コメントではない", "[y],節でもない", "", "jiro，全角,次郎",
                                    "<end data>"});
        QVERIFY(m_messages.shown.isEmpty());
        QCOMPARE(column(0),
                 (QStringList{"h0", "taro", "", " hanako ", "#x", "[y]", "jiro，全角", "計"}));
        QCOMPARE(column(1), (QStringList{"h1", "山田,太郎", "名無し", " 花子 ", "コメントではない",
                                         "節でもない", "次郎", "6 人"}));
        QCOMPARE(m_grid->searchtext("hanako"), std::nullopt);
        QCOMPARE(m_grid->searchtext(" hanako "), 3);
    }

    void withoutAnExactStartMarkerNoStudentIsLoaded()
    {
        open(header() + students(3));
        open(header());
        QVERIFY(m_messages.shown.isEmpty());
        QCOMPARE(m_grid->rows(), 2);
        QCOMPARE(m_grid->rosterCount(), 3); // kept, but no such rows exist
        QCOMPARE(m_grid->studentRows(), 0);
        QCOMPARE(m_grid->searchtext("s1"), std::nullopt);
        for (const char *start :
             {"<start data> ", " <start data>", "<START DATA>", "<startdata>"}) {
            open(header() + QStringList{QString::fromUtf8(start), "taro,太郎", "<end data>"});
            QVERIFY(m_messages.shown.isEmpty());
            QCOMPARE(m_grid->rows(), 2);
            QCOMPARE(m_grid->studentRows(), 0);
        }
        // An end marker that is not one is read as a student line.
        open(header() + QStringList{"<start data>", "<end data> ,x", "<end data>"});
        QCOMPARE(column(0), (QStringList{"h0", "<end data> ", "計"}));
    }

    void headerKeysAnywhereFirstWins()
    {
        open(QStringList{"<start data>", "taro,太郎", "<end data>", "KOUGIMEI=後ろの講義",
                         "tantousya=先生", "kougimei=二番目"});
        QVERIFY(m_messages.shown.isEmpty());
        QCOMPARE(m_lecture->kougimei(), QStringLiteral("後ろの講義"));
        QCOMPARE(m_lecture->kadaidir(), QString());
        QCOMPARE(m_grid->rosterCount(), 1);
    }

    void invalidFilesAreRejected_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("no lecture name") << cp932Lines(QStringList{"tantousya=先生"} + students(2));
        QTest::newRow("empty lecturer")
            << cp932Lines(QStringList{"kougimei=講義", "tantousya="} + students(2));
        QTest::newRow("student line without comma") << cp932Lines(
            header() + QStringList{"<start data>", "taro,太郎", "hanako", "<end data>"});
        QTest::newRow("no end marker")
            << cp932Lines(header() + QStringList{"<start data>", "taro,太郎"});
        QByteArray binary(4096, '\0');
        for (char &c : binary)
            c = char(QRandomGenerator::global()->bounded(256));
        QTest::newRow("binary") << binary;
        QTest::newRow("invalid bytes in header")
            << QByteArray("kougimei=\x81\r\ntantousya=\xff\xfd\r\n<start data>\r\nx\r\n");
    }
    void invalidFilesAreRejected()
    {
        QFETCH(QByteArray, bytes);
        open(header() + students(5));
        QVERIFY(!m_lecture->rosterPath().isEmpty());
        markPresent(1);
        open(bytes);
        QCOMPARE(m_messages.shown, QStringList{Invalid});
        // The ledger has no roster to read the course from.
        QCOMPARE(m_lecture->rosterPath(), QString());
        QCOMPARE(m_grid->rows(), 2);
        QCOMPARE(column(2), (QStringList{"h2", ""}));
        // Nothing of the earlier roster can be found or exported any more.
        QCOMPARE(m_grid->searchtext("s1"), std::nullopt);
        QCOMPARE(m_grid->exportRows().size(), size_t(1));
    }

    void unreadableFileIsRejected()
    {
        m_dialogs.nextAnswers << m_dir.filePath("does-not-exist.cfg");
        m_commands->open();
        QCOMPARE(m_messages.shown, QStringList{Invalid});
        m_dialogs.nextAnswers << m_dir.path();
        m_commands->open();
        QCOMPARE(m_messages.shown.size(), 2);
    }

    void cancelChangesNothing()
    {
        open(header() + students(2));
        markPresent(2);
        m_commands->open(); // no answer queued: cancelled
        QCOMPARE(m_grid->rows(), 4);
        QCOMPARE(m_grid->text(2, 2), QStringLiteral("09:00:00"));
        QCOMPARE(m_lecture->kougimei(), QStringLiteral("情報処理演習Ⅰ"));
    }

    void smallerRosterReplacesLarger()
    {
        open(header() + students(30));
        markPresent(1);
        m_grid->setText(1, RosterGrid::Address, "192.168.0.12");
        open(header() + students(2));
        QCOMPARE(m_grid->rows(), 4);
        QCOMPARE(column(1), (QStringList{"h1", "学生 1", "学生 2", "2 人"}));
        // The new first student is not shown present with the old one's time.
        QCOMPARE(m_grid->text(1, RosterGrid::Attendance), QString());
        QCOMPARE(m_grid->text(1, RosterGrid::Address), QString());
    }

    void closeEmptiesGridAndNamesButKeepsFolder()
    {
        open(header() + students(3));
        markPresent(1);
        m_commands->close();
        QCOMPARE(m_lecture->rosterPath(), QString());
        QCOMPARE(m_grid->rows(), 2);
        QCOMPARE(column(0), (QStringList{"h0", ""}));
        QCOMPARE(column(2), (QStringList{"h2", ""}));
        QCOMPARE(m_lecture->kougimei(), QString());
        QCOMPARE(m_lecture->tantousya(), QString());
        QCOMPARE(m_lecture->kadaidir(), QStringLiteral("/srv/kadai"));
        QCOMPARE(m_grid->searchtext("s1"), std::nullopt);
        QCOMPARE(m_grid->exportRows().size(), size_t(1));
    }

    void lookupIsExactAndFindsTheUpperRow()
    {
        open(header() + QStringList{"<start data>", "taro,一", "Taro,二", "taro,三", "<end data>"});
        QCOMPARE(m_grid->searchtext("taro"), 1);
        QCOMPARE(m_grid->searchtext("Taro"), 2);
        QCOMPARE(m_grid->searchtext("TARO"), std::nullopt);
        QCOMPARE(m_grid->searchtext("taro "), std::nullopt);
        QCOMPARE(m_grid->searchtext("計"), std::nullopt); // the total line is no student
        // A user ID changed in the grid is found by its new value only.
        m_grid->setText(1, RosterGrid::UserId, QStringLiteral("hanako"));
        QCOMPARE(m_grid->searchtext("hanako"), 1);
        QCOMPARE(m_grid->searchtext("taro"), 3);
    }

    void hugeAndHostileFilesDoNotCrash()
    {
        QByteArray big = cp932Lines(header()) + "<start data>\r\n";
        for (int i = 0; i < 100000; ++i)
            big += "u" + QByteArray::number(i) + ",\x83\x65\x83\x58\x83\x67\r\n";
        big += "<end data>\r\n";
        open(big);
        QCOMPARE(m_grid->rosterCount(), 100000);
        QCOMPARE(m_grid->text(100000, 1), QStringLiteral("テスト"));
        QCOMPARE(m_grid->searchtext("u99999"), 100000);

        QByteArray noEnd = cp932Lines(header()) + "<start data>\r\n" + QByteArray(1 << 20, ',');
        open(noEnd);
        QCOMPARE(m_messages.shown, QStringList{Invalid});
    }
};

QTEST_GUILESS_MAIN(TestRoster)
#include "tst_roster.moc"
