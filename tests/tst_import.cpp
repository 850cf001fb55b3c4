#include "common/cp932.h"
#include "common/readvar.h"
#include "server/app/lectureserver.h"
#include "server/lecture/rosterfile.h"
#include "server/term/classlist.h"
#include "server/term/rosterwriter.h"
#include "server/ui/frmimport.h"
#include "server/ui/frmmain.h"
#include "support/classroom.h"
#include "support/fakedesktop.h"
#include "support/files.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

namespace {

const QString Taken = QStringLiteral("101 - syusseki totta ^^");

QByteArray utf8(QStringView text)
{
    return text.toUtf8();
}

QByteArray withBom(QStringView text)
{
    return "\xEF\xBB\xBF" + text.toUtf8();
}

QByteArray utf16le(QStringView text)
{
    QByteArray bytes("\xFF\xFE");
    for (const QChar c : text)
        bytes += char(c.unicode() & 0xFF), bytes += char(c.unicode() >> 8);
    return bytes;
}

QByteArray utf16be(QStringView text)
{
    QByteArray bytes("\xFE\xFF");
    for (const QChar c : text)
        bytes += char(c.unicode() >> 8), bytes += char(c.unicode() & 0xFF);
    return bytes;
}

// "line:id:name" of every student, in order.
// "line:id:name" of the rows of the import dialog's preview.
QStringList previewOf(const FrmImport &dialog)
{
    const auto *table = dialog.findChild<QTableWidget *>(QStringLiteral("preview"));
    QStringList lines;
    for (int row = 0; row < table->rowCount(); ++row)
        lines << QStringLiteral("%1:%2:%3")
                     .arg(table->item(row, 0)->text(), table->item(row, 1)->text(),
                          table->item(row, 2)->text());
    return lines;
}

QStringList studentsOf(const ListedStudents &listed)
{
    QStringList lines;
    for (const ListedStudent &student : listed.students)
        lines << QStringLiteral("%1:%2:%3").arg(student.line).arg(student.id, student.name);
    return lines;
}

struct Run
{
    int exitCode = -1;
    QString out;
    QString err;
};

Run tavrelle(const QStringList &arguments)
{
    QProcess process;
    process.start(QStringLiteral(TAVRELLE_PROGRAM), arguments);
    Run run;
    if (!process.waitForFinished(30000))
        return run;
    run.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    run.out = QString::fromUtf8(process.readAllStandardOutput());
    run.err = QString::fromUtf8(process.readAllStandardError());
    return run;
}

const QString Registrar = QStringLiteral("学籍番号,氏名,フリガナ,所属\r\n"
                                         "s2401,佐藤　一郎,サトウ イチロウ,工学部\r\n"
                                         "s2402,鈴木 花子,スズキ ハナコ,理学部\r\n");
const QStringList RegistrarStudents = {"2:s2401:佐藤　一郎", "3:s2402:鈴木 花子"};

} // namespace

class TestImport : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;

    QString file(const QString &name, const QByteArray &bytes)
    {
        const QString path = m_dir.filePath(name);
        writeBytes(path, bytes);
        return path;
    }

    // Runs the import of `bytes` into a folder of its own; `folder` gets it.
    Run import(const QByteArray &bytes, const QStringList &options, QString *folder = nullptr)
    {
        static int count = 0;
        const QString dir = m_dir.filePath(QStringLiteral("run%1").arg(++count));
        QDir().mkpath(dir);
        writeBytes(dir + QStringLiteral("/meibo.csv"), bytes);
        if (folder)
            *folder = dir;
        return tavrelle(QStringList{"--import-roster", dir + QStringLiteral("/meibo.csv"),
                                    "--lecture", "情報処理演習Ⅰ", "--lecturer", "中村　誠"} +
                        options);
    }

private Q_SLOTS:
    void readsClassLists_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("idColumn");
        QTest::addColumn<QString>("nameColumn");
        QTest::addColumn<QString>("encoding");
        QTest::addColumn<QString>("description");
        QTest::addColumn<QStringList>("students");

        QTest::newRow("UTF-8 with a mark")
            << withBom(Registrar) << ""
            << ""
            << "UTF-8 (BOM付き)"
            << "区切り「,」、見出し 1 行目、ID「学籍番号」(1 列目)、氏名「氏名」(2 列目)"
            << RegistrarStudents;
        QTest::newRow("UTF-8, LF only")
            << utf8(QString(Registrar).remove(u'\r')) << ""
            << ""
            << "UTF-8"
            << "区切り「,」、見出し 1 行目、ID「学籍番号」(1 列目)、氏名「氏名」(2 列目)"
            << RegistrarStudents;
        QTest::newRow("UTF-16, TAB (Excel's Unicode text)")
            << utf16le(QString(Registrar).replace(u',', u'\t')) << ""
            << ""
            << "UTF-16 (BOM付き)"
            << "区切りタブ、見出し 1 行目、ID「学籍番号」(1 列目)、氏名「氏名」(2 列目)"
            << RegistrarStudents;
        QTest::newRow("UTF-16 big-endian")
            << utf16be(Registrar) << ""
            << ""
            << "UTF-16BE (BOM付き)"
            << "区切り「,」、見出し 1 行目、ID「学籍番号」(1 列目)、氏名「氏名」(2 列目)"
            << RegistrarStudents;
        QTest::newRow("CP932, login ID before student number")
            << cp932::encode(u"学籍番号,ユーザID,氏名\r\n24T001,taro,髙橋　①郎\r\n"
                             u"24T002,hanako,ﾔﾏﾀﾞ ﾊﾅｺ\r\n")
            << ""
            << ""
            << "CP932"
            << "区切り「,」、見出し 1 行目、ID「ユーザID」(2 列目)、氏名「氏名」(3 列目)"
            << QStringList{"2:taro:髙橋　①郎", "3:hanako:ﾔﾏﾀﾞ ﾊﾅｺ"};
        QTest::newRow("TSV, UTF-8")
            << utf8(u"ログインID\t名前\r\nk-ito\t伊藤, 健\r\n") << ""
            << ""
            << "UTF-8"
            << "区切りタブ、見出し 1 行目、ID「ログインID」(1 列目)、氏名「名前」(2 列目)"
            << QStringList{"2:k-ito:伊藤, 健"};
        QTest::newRow("quoted commas, quotes and line breaks")
            << utf8(u"学籍番号,氏名,備考\r\n\"s2401\",\"山田, \"\"タロー\"\"\r\n太郎\",x\r\n"
                    u"s2402,\"佐藤\n花子\",\"a\r\nb\"\r\ns2403,高木,\r\n")
            << ""
            << ""
            << "UTF-8"
            << "区切り「,」、見出し 1 行目、ID「学籍番号」(1 列目)、氏名「氏名」(2 列目)"
            << QStringList{"2:s2401:山田, \"タロー\" 太郎", "4:s2402:佐藤 花子", "7:s2403:高木"};
        QTest::newRow("headings in another row, empty rows and a total")
            << withBom(u"2026年度 前期 履修者名簿\r\n科目,情報処理演習Ⅰ\r\n\r\n"
                       u"No,学籍番号,氏名,フリガナ\r\n1,s2401,佐藤,サトウ\r\n,,,\r\n"
                       u"2,s2402,鈴木,スズキ\r\n\r\n計 2 名,,,\r\n※ 12/1 現在\r\n")
            << ""
            << ""
            << "UTF-8 (BOM付き)"
            << "区切り「,」、見出し 4 行目、ID「学籍番号」(2 列目)、氏名「氏名」(3 列目)"
            << QStringList{"5:s2401:佐藤", "7:s2402:鈴木"};
        QTest::newRow("columns by number, no headings")
            << utf8(u"s2401,佐藤 一郎,工学部\r\ns2402,鈴木 花子,理学部\r\n") << "1"
            << "2"
            << "UTF-8"
            << "区切り「,」、見出しなし、ID(1 列目)、氏名(2 列目)"
            << QStringList{"1:s2401:佐藤 一郎", "2:s2402:鈴木 花子"};
        QTest::newRow("columns by number beside headings")
            << utf8(u"学籍番号,ログイン,氏名,カナ\r\n24T001,taro,山田,ヤマダ\r\n") << "2"
            << "4"
            << "UTF-8"
            << "区切り「,」、見出し 1 行目、ID「ログイン」(2 列目)、氏名「カナ」(4 列目)"
            << QStringList{"2:taro:ヤマダ"};
        QTest::newRow("column by a heading of the file")
            << utf8(u"出席番号,ログイン名,学生氏名\r\n1,taro,山田\r\n") << "ログイン名"
            << ""
            << "UTF-8"
            << "区切り「,」、見出し 1 行目、ID「ログイン名」(2 列目)、氏名「学生氏名」(3 列目)"
            << QStringList{"2:taro:山田"};
        QTest::newRow("full-width and lower-case headings")
            << utf8(u" ＩＤ ,name\r\ntaro,Taro Yamada\r\n") << ""
            << ""
            << "UTF-8"
            << "区切り「,」、見出し 1 行目、ID「 ＩＤ 」(1 列目)、氏名「name」(2 列目)"
            << QStringList{"2:taro:Taro Yamada"};
    }

    void readsClassLists()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, idColumn);
        QFETCH(QString, nameColumn);
        QFETCH(QString, encoding);
        QFETCH(QString, description);
        QFETCH(QStringList, students);
        const Result<ClassList> list = readClassList(bytes, {idColumn}, {nameColumn});
        QVERIFY2(list.ok(), qPrintable(list.error()));
        QCOMPARE(list->encoding, encoding);
        QCOMPARE(describeClassList(*list), encoding + u'、' + description);
        QCOMPARE(studentsOf(listStudents(*list)), students);
    }

    void countsSkippedRows()
    {
        const Result<ClassList> list =
            readClassList(utf8(u"学籍番号,氏名\r\n\r\ns1,A\r\n,,\r\n,B\r\ns3,C\r\n \r\n,計 2 名\r\n"
                               u",※注記\r\n"));
        QVERIFY(list.ok());
        const ListedStudents listed = listStudents(*list);
        // A row without an ID among the data stays in, to be refused; the
        // total and the note after the last ID are passed over.
        QCOMPARE(studentsOf(listed), (QStringList{"3:s1:A", "5::B", "6:s3:C"}));
        QCOMPARE(listed.emptyRows, 3);
        QCOMPARE(listed.trailingRows, 2);
        QCOMPARE(
            describeSkipped(listed),
            QStringLiteral("空の行 3 行と、データの後の合計・注記の行 2 行を読み飛ばしました｡"));
    }

    void refusesWhatCannotBeRead_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("idColumn");
        QTest::addColumn<QString>("nameColumn");
        QTest::addColumn<QString>("error");
        QTest::newRow("no heading")
            << utf8(u"s1,A\r\n") << ""
            << ""
            << "見出しの行が見つかりません｡「ユーザID」「学籍番号」「氏名」などの見出しがない名簿"
               "では、列を番号で選んでください｡";
        QTest::newRow("no ID heading")
            << utf8(u"氏名,所属\r\nA,B\r\n") << ""
            << ""
            << "ID の列が見つかりません｡見出し「ユーザID」「ログインID」「アカウント」「ID」"
               "「学籍番号」「学生番号」のどれかの列か、列の番号を選んでください｡";
        QTest::newRow("quote left open")
            << utf8(u"学籍番号,氏名\r\ns1,A\r\ns2,\"B\r\ns3,C\r\n") << ""
            << ""
            << "3 行目で始まる「\"」が閉じられていません｡";
        QTest::newRow("column beyond the last") << utf8(u"学籍番号,氏名\r\ns1,A\r\n") << "3"
                                                << ""
                                                << "ID の列 3 はありません (列は 1 から 2 まで)｡";
        QTest::newRow("column 0") << utf8(u"学籍番号,氏名\r\ns1,A\r\n") << ""
                                  << "０"
                                  << "氏名の列 ０ はありません (列は 1 から 2 まで)｡";
        QTest::newRow("heading not there") << utf8(u"学籍番号,氏名\r\ns1,A\r\n") << ""
                                           << "カナ"
                                           << "見出し「カナ」の列が見つかりません｡";
        QTest::newRow("one column for both") << utf8(u"学籍番号,氏名\r\ns1,A\r\n") << ""
                                             << "1"
                                             << "ID と氏名に同じ列 (1 列目) が選ばれています｡";
    }

    void refusesWhatCannotBeRead()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, idColumn);
        QFETCH(QString, nameColumn);
        QFETCH(QString, error);
        const Result<ClassList> list = readClassList(bytes, {idColumn}, {nameColumn});
        QVERIFY(!list.ok());
        QCOMPARE(list.error(), error);
    }

    void writesTheRosterTheServerReads()
    {
        const QString path = m_dir.filePath(QStringLiteral("written.cfg"));
        writeBytes(path, "old");
        const RosterHeader header{"情報処理演習Ⅰ", "中村　誠", "/srv/kadai/情報"};
        const QList<ListedStudent> students{{2, "s2401", "佐藤　一郎"},
                                            {3, "s2402", "O'Brien, Jr. ～"}};
        QVERIFY(writeRoster(path, header, students).ok());
        QCOMPARE(readBytes(path),
                 cp932Lines({"kougimei=情報処理演習Ⅰ", "tantousya=中村　誠",
                             "kadaidir=/srv/kadai/情報", "<start data>", "s2401,佐藤　一郎",
                             "s2402,O'Brien, Jr. ～", "<end data>"}));
        QCOMPARE(QDir(m_dir.path()).entryList({"written.cfg*"}), QStringList{"written.cfg"});
        const StudentBlock block = readStudentBlock(cp932::decode(readBytes(path)));
        QCOMPARE(block.status, StudentBlock::Loaded);
        QCOMPARE(block.studentCount, 2);
        QCOMPARE(block.rows[1][RosterGrid::UserName], QStringLiteral("O'Brien, Jr. ～"));
        QCOMPARE(readvar(QStringLiteral("kadaidir"), path).valueOr({}),
                 QStringLiteral("/srv/kadai/情報"));

        // Refused: the file that was there stays as it was.
        const QByteArray before = readBytes(path);
        QVERIFY(!writeRoster(path, header, {{2, "s 1", "A"}}).ok());
        QCOMPARE(readBytes(path), before);
    }

    void checksTheHeader_data()
    {
        QTest::addColumn<QString>("lecture");
        QTest::addColumn<QString>("lecturer");
        QTest::addColumn<QString>("folder");
        QTest::addColumn<QString>("problem");
        QTest::newRow("no lecture") << ""
                                    << "中村"
                                    << ""
                                    << "講義名がありません｡";
        QTest::newRow("line break") << "情報\r\n処理"
                                    << "中村"
                                    << ""
                                    << "講義名に改行や制御文字は使えません｡";
        QTest::newRow("outside CP932")
            << "情報"
            << "Nguyễn"
            << ""
            << "担当者に CP932 (Shift_JIS) で書けない文字「ễ」があります｡";
        QTest::newRow("folder outside CP932")
            << "情報"
            << "中村"
            << "/srv/a〜b"
            << "課題提出先に CP932 (Shift_JIS) で書けない文字「〜」があります｡";
    }

    void checksTheHeader()
    {
        QFETCH(QString, lecture);
        QFETCH(QString, lecturer);
        QFETCH(QString, folder);
        QFETCH(QString, problem);
        QCOMPARE(rosterProblems({lecture, lecturer, folder}, {{2, "s1", "A"}}),
                 QStringList{problem});
    }

    void commandWritesTheRoster()
    {
        QString folder;
        const Run run = import(withBom(Registrar + "\r\n計 2 名,,,\r\n"),
                               {"--folder", m_dir.filePath("kadai")}, &folder);
        QCOMPARE(run.exitCode, 0);
        const QString roster = folder + QStringLiteral("/meibo.cfg");
        QCOMPARE(
            run.out,
            QStringLiteral("受講者 2 人の受講ファイルを %1 に書きました｡\n"
                           "  UTF-8 (BOM付き)、区切り「,」、見出し 1 行目、"
                           "ID「学籍番号」(1 列目)、氏名「氏名」(2 列目)\n"
                           "  空の行 1 行と、データの後の合計・注記の行 1 行を読み飛ばしました｡\n")
                .arg(roster));
        QCOMPARE(readBytes(roster),
                 cp932Lines({"kougimei=情報処理演習Ⅰ", "tantousya=中村　誠",
                             "kadaidir=" + m_dir.filePath("kadai"), "<start data>",
                             "s2401,佐藤　一郎", "s2402,鈴木 花子", "<end data>"}));
    }

    void commandRefusesRows_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QStringList>("problems");
        QTest::newRow("empty ID among the data") << utf8(u"学籍番号,氏名\r\ns1,A\r\n,B\r\ns3,C\r\n")
                                                 << QStringList{"3 行目 (ID なし): ID が空です｡"};
        QTest::newRow("blanks and commas")
            << utf8(u"学籍番号,氏名\r\ns 1,A\r\ns2 ,B\r\ns3　,C\r\n\"s,4\",D\r\n")
            << QStringList{"2 行目 (ID「s 1」): ID に空白があります｡",
                           "3 行目 (ID「s2 」): ID に空白があります｡",
                           "4 行目 (ID「s3　」): ID に空白があります｡",
                           "5 行目 (ID「s,4」): ID に「,」があります｡"};
        QTest::newRow("the same ID twice, after a quoted line break")
            << utf8(u"学籍番号,氏名\r\ns1,\"A\r\nB\"\r\ns2,C\r\ns1,D\r\n")
            << QStringList{"5 行目 (ID「s1」): 2 行目と同じ ID です｡"};
        QTest::newRow("outside CP932")
            << utf8(u"学籍番号,氏名\r\njosé,Jose\r\ns2,Nguyễn Văn An\r\ns3,寿司🍣\r\n")
            << QStringList{
                   "2 行目 (ID「josé」): ID に CP932 (Shift_JIS) で書けない文字「é」があります｡",
                   "3 行目 (ID「s2」): 氏名「Nguyễn Văn An」に CP932 (Shift_JIS) で書けない"
                   "文字「ễ」があります｡",
                   "4 行目 (ID「s3」): 氏名「寿司🍣」に CP932 (Shift_JIS) で書けない文字"
                   "「🍣」があります｡"};
    }

    void commandRefusesRows()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QStringList, problems);
        QString folder;
        const Run run = import(bytes + "\r\n", {}, &folder);
        QCOMPARE(run.exitCode, 2);
        QStringList expected{QStringLiteral("tavrelle: 名簿 %1/meibo.csv を取り込めません｡"
                                            "何も書き込んでいません｡")
                                 .arg(folder)};
        for (const QString &problem : problems)
            expected << QStringLiteral("  ") + problem;
        expected << QStringLiteral("  (空の行 1 行を読み飛ばしました｡)") << QString();
        QCOMPARE(run.err.split(u'\n'), expected);
        QCOMPARE(QDir(folder).entryList(QDir::Files | QDir::Hidden), QStringList{"meibo.csv"});
    }

    void commandRefusesOptions_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("message");
        const QString list = QStringLiteral("%1/run-options/meibo.csv");
        QTest::newRow("no lecturer")
            << QStringList{"--import-roster", list, "--lecture", "情報"}
            << "tavrelle: 講義名を --lecture で、担当者を --lecturer で指定してください｡";
        QTest::newRow("unknown option")
            << QStringList{"--import-roster", list,   "--lecture", "情報",
                           "--lecturer",      "中村", "--sheet",   "2"}
            << "tavrelle: 知らないオプションです: --sheet";
        QTest::newRow("value missing")
            << QStringList{"--import-roster", list,   "--lecture", "情報",
                           "--lecturer",      "中村", "--out"}
            << "tavrelle: --out の後に値がありません｡";
        QTest::newRow("the class list itself as the roster")
            << QStringList{"--import-roster", list,   "--lecture", "情報",
                           "--lecturer",      "中村", "--out",     list}
            << "tavrelle: 受講ファイルを名簿と同じ " + list +
                   " には書けません｡--out で別のファイルを指定してください｡";
        QTest::newRow("one column for both")
            << QStringList{"--import-roster", list,   "--lecture",   "情報",
                           "--lecturer",      "中村", "--id-column", "氏名"}
            << "tavrelle: ID と氏名に同じ列 (2 列目) が選ばれています｡";
        QTest::newRow("missing file")
            << QStringList{"--import-roster", list + "x", "--lecture", "情報", "--lecturer", "中村"}
            << "tavrelle: " + list + "x を読めません: No such file or directory";
    }

    void commandRefusesOptions()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, message);
        const QString folder = m_dir.filePath(QStringLiteral("run-options"));
        QDir().mkpath(folder);
        writeBytes(folder + QStringLiteral("/meibo.csv"), utf8(Registrar));
        for (QString &argument : arguments)
            argument.replace(QStringLiteral("%1"), m_dir.path());
        const Run run = tavrelle(arguments);
        QCOMPARE(run.exitCode, 2);
        QCOMPARE(run.err.split(u'\n').first(), QString(message).replace("%1", m_dir.path()));
        QCOMPARE(QDir(folder).entryList(QDir::Files | QDir::Hidden), QStringList{"meibo.csv"});
    }

    void dialogPreviewsAndWritesTheRoster()
    {
        FakeDesktop desktop;
        QString lines = QStringLiteral("2026年度 履修者名簿\r\n学籍番号,ログイン,氏名\r\n");
        for (int i = 1; i <= 12; ++i)
            lines += QStringLiteral("24T%1,u%1,学生 %1\r\n").arg(i, 3, 10, QChar(u'0'));
        FrmImport dialog(withBom(lines), {"情報処理演習Ⅰ", "", ""}, desktop.dialogs,
                         desktop.messages);
        auto *takeIn = dialog.findChild<QPushButton *>(QStringLiteral("takeIn"));
        const auto problems = [&] {
            return dialog.findChild<QPlainTextEdit *>(QStringLiteral("problems"))->toPlainText();
        };
        QCOMPARE(
            dialog.findChild<QLabel *>(QStringLiteral("description"))->text(),
            QStringLiteral("UTF-8 (BOM付き)、区切り「,」、見出し 2 行目、ID「学籍番号」(1 列目)、"
                           "氏名「氏名」(3 列目)、受講者 12 人"));
        QCOMPARE(previewOf(dialog).size(), FrmImport::PreviewRows);
        QCOMPARE(previewOf(dialog).first(), QStringLiteral("3:24T001:学生 001"));
        // No lecturer yet: nothing can be taken in.
        QCOMPARE(problems(), QStringLiteral("担当者がありません｡"));
        QVERIFY(!takeIn->isEnabled());
        dialog.findChild<QLineEdit *>(QStringLiteral("lecturer"))
            ->setText(QStringLiteral("中村　誠"));
        QCOMPARE(problems(), QStringLiteral("このまま取り込めます｡"));

        // The login names are in the second column.
        auto *idColumn = dialog.findChild<QComboBox *>(QStringLiteral("idColumn"));
        QCOMPARE(idColumn->itemText(2), QStringLiteral("2 列目「ログイン」"));
        idColumn->setCurrentIndex(2);
        QCOMPARE(previewOf(dialog).first(), QStringLiteral("3:u001:学生 001"));

        const QString roster = m_dir.filePath(QStringLiteral("dialog.cfg"));
        desktop.dialogs.nextAnswers << roster;
        QVERIFY(takeIn->isEnabled());
        takeIn->click();
        QCOMPARE(desktop.dialogs.proposedNames, QStringList{"情報処理演習Ⅰ.cfg"});
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
        QCOMPARE(dialog.rosterPath(), roster);
        const StudentBlock block = readStudentBlock(cp932::decode(readBytes(roster)));
        QCOMPARE(block.studentCount, 12);
        QCOMPARE(block.rows[11][RosterGrid::UserId], QStringLiteral("u012"));
    }

    void dialogNamesTheRowsItRefuses()
    {
        FakeDesktop desktop;
        FrmImport dialog(utf8(u"学籍番号,氏名\r\ns1,A\r\ns1,B\r\n\r\n"), {"情報", "中村", ""},
                         desktop.dialogs, desktop.messages);
        QCOMPARE(dialog.findChild<QPlainTextEdit *>(QStringLiteral("problems"))->toPlainText(),
                 QStringLiteral(
                     "3 行目 (ID「s1」): 2 行目と同じ ID です｡\n空の行 1 行を読み飛ばしました｡"));
        QVERIFY(!dialog.findChild<QPushButton *>(QStringLiteral("takeIn"))->isEnabled());
        dialog.takeIn();
        QVERIFY(desktop.dialogs.proposedNames.isEmpty());
    }

    // ﾌｧｲﾙ > 名簿の取り込み from the class list to the open lecture.
    void menuItemImportsAndOpensTheRoster()
    {
        qputenv("XDG_DATA_HOME", QFile::encodeName(m_dir.filePath(QStringLiteral("data"))));
        FakeDesktop desktop;
        FrmMain window(desktop.services());
        const QString list = file(QStringLiteral("menu.csv"), withBom(Registrar));
        const QString roster = m_dir.filePath(QStringLiteral("menu.cfg"));
        desktop.dialogs.nextAnswers << list << roster;
        QTimer::singleShot(0, this, [] {
            auto *dialog = qobject_cast<FrmImport *>(QApplication::activeModalWidget());
            QVERIFY(dialog);
            dialog->findChild<QLineEdit *>(QStringLiteral("lecture"))->setText("情報処理演習Ⅰ");
            dialog->findChild<QLineEdit *>(QStringLiteral("lecturer"))->setText("中村　誠");
            dialog->findChild<QPushButton *>(QStringLiteral("takeIn"))->click();
        });
        window.findChild<QAction *>(QStringLiteral("mnuFileImport"))->trigger();
        QCOMPARE(
            desktop.dialogs.filters.first(),
            QStringLiteral("履修者名簿 (*.csv *.txt *.tsv)|*.csv;*.txt;*.tsv|すべてのﾌｧｲﾙ (*)|*"));
        QCOMPARE(window.server().lecture().rosterPath(), roster);
        QCOMPARE(window.findChild<QLabel *>(QStringLiteral("kougimei"))->text(),
                 QStringLiteral("情報処理演習Ⅰ"));
        QCOMPARE(window.server().grid().studentRows(), 2);
        QCOMPARE(window.server().grid().text(1, RosterGrid::UserName),
                 QStringLiteral("佐藤　一郎"));
    }

    void importedRosterTakesAttendance()
    {
        QString folder;
        const Run run =
            import(cp932::encode(u"No,学籍番号,ユーザID,氏名\r\n1,24T001,taro,山田　太郎\r\n"
                                 u"2,24T002,hanako,佐藤　花子\r\n"),
                   {}, &folder);
        QCOMPARE(run.exitCode, 0);
        Classroom room({QStringLiteral("other,前の講義")});
        room.openRoster(folder + QStringLiteral("/meibo.cfg"));
        QCOMPARE(room.grid.studentRows(), 2);
        auto client = room.greeted();
        QCOMPARE(client->lines().value(1), QStringLiteral("800 情報処理演習Ⅰ,中村　誠"));
        QCOMPARE(client->ask("user hanako\r\n"), Taken);
        QCOMPARE(room.grid.text(2, RosterGrid::UserName), QStringLiteral("佐藤　花子"));
        QVERIFY(!room.grid.text(2, RosterGrid::Attendance).isEmpty());
        QVERIFY(room.grid.text(1, RosterGrid::Attendance).isEmpty());
    }
};

QTEST_MAIN(TestImport)
#include "tst_import.moc"
