#include "client/clientstartup.h"
#include "client/fileupload.h"
#include "client/ui/mainform.h"
#include "common/clock.h"
#include "platform/widgets/twips.h"
#include "support/studentfixture.h"

#include <QLabel>
#include <QPushButton>
#include <QRegularExpression>

class TestClient : public QObject, protected StudentFixture
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        Clock::setSource([] { return QDateTime(QDate(2026, 12, 9), QTime(9, 5, 7)); });
    }
    void init() { setUp(); }
    void cleanup() { tearDown(); }

    void startupReadsUserNameAndSettings()
    {
        QTemporaryDir folder;
        writeBytes(folder.filePath("var.cfg"), cp932Lines({"# 学生用", "ServerAddress=192.0.2.1",
                                                           "port =10013", "PORT=10014"}));
        const auto settings = prepareClient(QStringLiteral("taro"), folder.path());
        QVERIFY(settings);
        QCOMPARE(settings->serverAddress, QStringLiteral("192.0.2.1"));
        QCOMPARE(settings->serverPort, QStringLiteral("10014"));
        QCOMPARE(settings->handoutFolder, QString()); // the default: in the documents
        QCOMPARE(QDir::currentPath(), QDir(folder.path()).canonicalPath());
        // Blanks belong to the name; 255 bytes still fit, 256 do not.
        QCOMPARE(prepareClient(QStringLiteral(" ta ro "), folder.path())->userName,
                 QStringLiteral(" ta ro "));
        QVERIFY(prepareClient(QString(255, u'a'), folder.path()));
        QVERIFY(prepareClient(QString(127, u'あ'), folder.path())); // 254 bytes
        const auto tooLong = prepareClient(QString(128, u'あ'), folder.path());
        QVERIFY(!tooLong);
        QCOMPARE(tooLong.error(),
                 QStringLiteral("ユーザ名の取得に失敗\r\nログインしてから再起動してください"));
        QVERIFY(!prepareClient(std::nullopt, folder.path()));
        QVERIFY(!prepareClient(QString(256, u'a'), folder.path()));

        // No settings file, no folder: the error number, then the general message.
        QVERIFY(QFile::remove(folder.filePath("var.cfg")));
        for (const auto &[where, number] :
             {std::pair{folder.path(), "53 "}, {folder.filePath("missing"), "76 "}}) {
            const auto failed = prepareClient(QStringLiteral("taro"), where);
            QVERIFY(!failed);
            QVERIFY2(failed.error().startsWith(number), qPrintable(failed.error()));
            QVERIFY(failed.error().endsWith(QStringLiteral("\r\nプログラムを終了します")));
        }
    }

    void windowStartsConnectingWithItsCaption()
    {
        QTemporaryDir folder;
        writeBytes(folder.filePath("var.cfg"),
                   cp932Lines({"serveraddress=127.0.0.1", "port=" + m_server->port()}));
        MainForm form(m_messages.get(), m_dialogs.get());
        QVERIFY(form.Form_Load(QStringLiteral("taro"), folder.path()));
        QCOMPARE(form.windowTitle(), QStringLiteral("Tavrelleクライアント - taro"));
        auto *attendance = form.findChild<QPushButton *>("SYUKKETUBTN");
        auto *upload = form.findChild<QPushButton *>("btnSendData");
        auto *reconnect = form.findChild<QPushButton *>("btnReConnect");
        QCOMPARE(attendance->text(), QStringLiteral("出欠"));
        auto *handouts = form.findChild<QPushButton *>("btnHaifu");
        QVERIFY(!attendance->isEnabled() && !upload->isEnabled() && reconnect->isEnabled());
        // The three buttons keep their places; the fourth sits below them.
        QCOMPARE(attendance->geometry(), twipsRect(120, 960, 852, 492));
        QCOMPARE(upload->geometry(), twipsRect(960, 960, 972, 492));
        QCOMPARE(reconnect->geometry(), twipsRect(1920, 960, 972, 492));
        QCOMPARE(handouts->text(), QStringLiteral("配布物"));
        QVERIFY(handouts->geometry().top() >= attendance->geometry().bottom());
        QVERIFY(handouts->geometry().bottom() <
                form.findChild<QLabel *>("StatusBarPanel2")->geometry().top());
        QVERIFY(!handouts->isEnabled());
        QVERIFY(m_server->waitForPeer());
        QTRY_VERIFY(attendance->isEnabled() && !reconnect->isEnabled());
        m_server->reply("000 hello I am tavrelle server");
        m_server->reply("800 情報処理演習Ⅰ,中村　誠");
        QTRY_COMPARE(form.findChild<QLabel *>("kougimei")->text(), QStringLiteral("情報処理演習Ⅰ"));
        QCOMPARE(form.findChild<QLabel *>("tantousya")->text(), QStringLiteral("中村　誠"));
        QVERIFY(handouts->isEnabled()); // once the lecture line has come
        // Markup from the network is shown as written: a label that read it
        // as rich text would open files named in it while painting.
        m_server->reply(QStringLiteral("800 HTML入門 <h1>見出し,佐藤 <br> 先生"));
        QTRY_COMPARE(form.findChild<QLabel *>("tantousya")->text(),
                     QStringLiteral("佐藤 <br> 先生"));
        QCOMPARE(form.findChild<QLabel *>("kougimei")->text(),
                 QStringLiteral("HTML入門 <h1>見出し"));
        for (QLabel *label : form.findChildren<QLabel *>())
            QVERIFY2(label->textFormat() == Qt::PlainText, qPrintable(label->objectName()));
        // Closing the window closes the connection and sends nothing.
        form.close();
        QTRY_COMPARE(m_server->peer().state(), QAbstractSocket::UnconnectedState);
        QVERIFY(m_server->input().isEmpty());
    }

    void portRefusedAtOnceEndsTheProgram()
    {
        QTemporaryDir folder;
        writeBytes(folder.filePath("var.cfg"), cp932Lines({"serveraddress=127.0.0.1"}));
        MainForm form(m_messages.get(), m_dialogs.get());
        QVERIFY(!form.Form_Load(QStringLiteral("taro"), folder.path()));
        QCOMPARE(m_messages->shown.size(), 1);
        QVERIFY(m_messages->shown[0].endsWith(QStringLiteral("\r\nプログラムを終了します")));
    }

    void attendanceReplies()
    {
        m_client = std::make_unique<StudentClient>("taro", "127.0.0.1", m_server->port(),
                                                   *m_messages, *m_dialogs);
        m_client->SYUKKETUBTN_Click(); // neither before the connection is asked for
        QVERIFY(m_client->connectToServer().ok());
        m_client->SYUKKETUBTN_Click(); // nor while connecting is anything sent
        QVERIFY(m_server->waitForPeer());
        expectButtons(Connected);
        m_client->SYUKKETUBTN_Click();
        QVERIFY(m_server->waitForInput("user taro\r\n"));
        // One request at a time: a second press before the answer is not
        // possible, its reply would come out of turn.
        QCOMPARE(m_client->buttons(), Attending);
        QCOMPARE(m_client->statusText(), QStringLiteral("サーバの応答待ち"));
        Buttons whileShown;
        m_messages->whileShown = [&](const QString &) { whileShown = m_client->buttons(); };
        m_server->reply("501 - bad-userID ^^");
        QTRY_COMPARE(m_messages->shown, QStringList{"ユーザ名が登録されてません"});
        QCOMPARE(m_client->buttons(), Connected); // may be pressed again
        m_client->SYUKKETUBTN_Click();
        m_server->reply("102 - sudeni syusseki totteru ^^");
        expectButtons(Attended);
        QCOMPARE(m_messages->shown.last(), QStringLiteral("既に出席を取っています｡"));
        QCOMPARE(whileShown, Attending); // buttons change after the box is closed
        QCOMPARE(m_client->statusText(), QStringLiteral("出席済み (09:05:07)"));
        QCOMPARE(m_server->input(), QByteArray("user taro\r\nuser taro\r\n"));
    }

    void repliesAreFramedAndJudgedOnce()
    {
        connectedClient();
        // Greeting and lecture line together still set the labels.
        m_server->send(cp932::encode(u"000 hello I am tavrelle server\r\n800 講義,名前,続き\r\n"));
        QTRY_COMPARE(m_client->kougimei(), QStringLiteral("講義"));
        QCOMPARE(m_client->tantousya(), QStringLiteral("名前,続き"));
        // A reply split over arrivals is judged once, when complete.
        m_client->SYUKKETUBTN_Click();
        QVERIFY(m_server->waitForInput("user taro\r\n"));
        deliver("50");
        deliver("1 - bad-userID ^^\r");
        QVERIFY(m_messages->shown.isEmpty());
        m_server->send("\n");
        QTRY_COMPARE(m_messages->shown, QStringList{"ユーザ名が登録されてません"});
        expectButtons(Lectured);
        QCOMPARE(m_client->statusText(), QStringLiteral("出席は確認されていません"));
        m_server->send("800 ,\r\n");
        QTRY_COMPARE(m_client->kougimei(), QString());
        QCOMPARE(m_client->tantousya(), QString());
        m_server->reply("800 講義,先生");
        QTRY_COMPARE(m_client->kougimei(), QStringLiteral("講義"));
        deliver("800 no comma\r\n");
        QCOMPARE(m_client->kougimei(), QStringLiteral("講義"));

        // A reply that does not end is dropped past 64 KiB, up to its line
        // end; the next one is judged as usual.
        m_messages->shown.clear();
        m_client->SYUKKETUBTN_Click();
        deliver("501 " + QByteArray(40 * 4096, 'x'));
        m_server->send(QByteArray(4096, 'x') + "\r\n102 - sudeni syusseki totteru ^^\r\n");
        QTRY_COMPARE(m_messages->shown, QStringList{"既に出席を取っています｡"});
        expectButtons(Confirmed);
    }

    void serverCloseIsNoticedWithinHalfASecond()
    {
        confirmedClient();
        m_timer.start(500);
        QElapsedTimer elapsed;
        elapsed.start();
        m_server->peer().disconnectFromHost();
        expectButtons(Disconnected);
        QVERIFY2(elapsed.elapsed() < 1500, QByteArray::number(elapsed.elapsed()));
        QCOMPARE(m_client->kougimei(), QString());
        QCOMPARE(m_client->tantousya(), QString());
        QVERIFY(m_messages->shown.size() == 1); // the 101 box only: no message for a close
        // Reconnecting leads back to an unconfirmed connection.
        reconnects();
    }

    void socketErrorKeepsTheLabels()
    {
        confirmedClient();
        m_server->server.close();
        m_server->reply("999");
        expectButtons(Disconnected);
        // Reconnecting to a port nobody listens on is refused.
        m_client->btnReConnect_Click();
        expectErrorBox("10061");
    }

    void resetShowsTheErrorBoxAndKeepsTheLabels()
    {
        confirmedClient();
        resetConnection(m_server->peer());
        expectErrorBox("10054");
        QCOMPARE(m_messages->shown.size(), 2);
    }

    void reconnectLeavesAPendingOrOpenConnectionAlone()
    {
        connectedClient();
        m_client->btnReConnect_Click();
        QCOMPARE(m_client->buttons(), Connected);
        // A round trip on the open connection: a new one would be in by then.
        m_client->SYUKKETUBTN_Click();
        QVERIFY(m_server->waitForInput("user taro\r\n"));
        m_server->reply("101 - syusseki totta ^^");
        expectButtons(Attended);
        QCOMPARE(m_server->peers.size(), size_t(1));
        QCOMPARE(m_client->socket().state(), Socket::StateConnected);
    }

    void reply999ClosesAndAllowsReconnect()
    {
        confirmedClient();
        m_server->reply("999");
        expectButtons(Disconnected);
        QTRY_COMPARE(m_server->peer().state(), QAbstractSocket::UnconnectedState);
        reconnects();
    }

    void uploadFlow()
    {
        confirmedClient();
        QByteArray bytes(3 * 1024 * 1024, Qt::Uninitialized);
        for (qsizetype i = 0; i < bytes.size(); ++i)
            bytes[i] = char(i * 7 % 251);
        QStringList statuses;
        connect(m_client.get(), &StudentClient::statusChanged, this,
                [&] { statuses << m_client->statusText(); });
        m_dialogs->nextAnswers << file("report.v2.doc", bytes);
        m_client->btnSendData_Click();
        QCOMPARE(m_dialogs->filters, QStringList{"すべてのファイル (*)|*"});
        QVERIFY(m_server->waitForInput("put taro.doc,3145728\r\n"));
        QCOMPARE(m_client->buttons(), Uploading);
        QCOMPARE(statuses, QStringList{"サーバの応答待ち"});
        m_server->input().clear();
        m_server->reply("301 - image mode ok");
        QVERIFY(m_server->waitForInput(bytes, 20000));
        QTRY_COMPARE(statuses.last(), QStringLiteral("サーバの確認待ち"));
        // Progress of the bytes the server's side has taken, never past
        // them: completion is not claimed before the server confirms.
        QCOMPARE(statuses[1], QStringLiteral("送信中: 0% (0.0 MB / 3.1 MB)"));
        int previous = 0;
        for (const QString &status : statuses.sliced(2, statuses.size() - 3)) {
            const QRegularExpressionMatch match =
                QRegularExpression(R"(^送信中: (\d+)% \((\d+\.\d) MB / 3\.1 MB\)$)").match(status);
            QVERIFY2(match.hasMatch(), qPrintable(status));
            QVERIFY2(match.captured(1).toInt() >= previous, qPrintable(status));
            previous = match.captured(1).toInt();
        }
        QCOMPARE(statuses[statuses.size() - 2], QStringLiteral("送信中: 100% (3.1 MB / 3.1 MB)"));
        QVERIFY(statuses.size() > 5);
        QCOMPARE(m_client->buttons(), Uploading);
        Buttons whileShown;
        QString statusWhileShown;
        m_messages->whileShown = [&](const QString &) {
            whileShown = m_client->buttons();
            statusWhileShown = m_client->statusText();
        };
        m_server->reply("302 jyusin kanryo");
        expectButtons(Confirmed);
        QCOMPARE(m_messages->shown.last(), QStringLiteral("送信完了しました"));
        QCOMPARE(whileShown, Uploading);
        QCOMPARE(statusWhileShown, QStringLiteral("提出完了 (09:05:07)"));
        QCOMPARE(m_client->statusText(), QStringLiteral("提出完了 (09:05:07)"));
    }

    void fileNamesAreCheckedBeforeSending_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("request"); // empty: nothing may be sent
        QTest::addColumn<QString>("problem");    // empty: no box is shown
        QTest::newRow("last dot") << "archive.tar.gz" << QByteArray("put taro.gz,3\r\n") << "";
        // Windows and FAT would drop the dot: refused before anything is sent.
        QTest::newRow("ending in dot") << "notes." << QByteArray() << "｢.｣で終わって";
        QTest::newRow("dotted folder") << "v1.2/README" << QByteArray() << "拡張子";
        QTest::newRow("no dot") << "README" << QByteArray() << "拡張子";
        QTest::newRow("comma") << "notes.v1,2" << QByteArray() << "｢,｣";
        QTest::newRow("colon") << "notes.a:b" << QByteArray() << "｢:｣";
        QTest::newRow("control") << "notes.t\tx" << QByteArray() << "制御文字";
        QTest::newRow("not in Shift_JIS")
            << QStringLiteral("notes.\U0001F600") << QByteArray() << "Shift_JIS";
        QTest::newRow("missing file") << "" << QByteArray() << "見つかりません";
    }
    void fileNamesAreCheckedBeforeSending()
    {
        QFETCH(QString, name);
        QFETCH(QByteArray, request);
        QFETCH(QString, problem);
        confirmedClient();
        m_dialogs->nextAnswers << (name.isEmpty() ? m_dir.filePath("missing.txt")
                                                  : file(name, "abc"));
        m_client->btnSendData_Click();
        QCOMPARE(m_messages->shown.size(), problem.isEmpty() ? 1 : 2);
        QVERIFY2(m_messages->shown.last().contains(problem), qPrintable(m_messages->shown.last()));
        QCOMPARE(m_client->buttons(), request.isEmpty() ? Confirmed : Uploading);
        if (request.isEmpty())
            expectNothingSent();
        else
            QVERIFY(m_server->waitForInput(request));
    }

    void aFileThatChangesIsNotSent()
    {
        confirmedClient();
        const QString path = file("a.txt", "first version");
        m_dialogs->nextAnswers << path;
        m_client->btnSendData_Click();
        QVERIFY(m_server->waitForInput("put taro.txt,13\r\n"));
        writeBytes(path, "a much longer second version");
        m_server->input().clear();
        m_server->reply("301 - image mode ok");
        // The server waits for 13 bytes: the connection ends instead.
        QTRY_COMPARE(m_server->peer().state(), QAbstractSocket::UnconnectedState);
        QVERIFY(m_server->input().isEmpty());
        expectButtons(Disconnected);
        QCOMPARE(m_messages->shown.size(), 2);
        QVERIFY2(m_messages->shown.last().contains(QStringLiteral("大きさが変わった")),
                 qPrintable(m_messages->shown.last()));
        QVERIFY(m_messages->shown.last().endsWith(SendAgain));
        QCOMPARE(m_client->statusText(), NotHandedIn);

        // While it is read: growing or shrinking after the first piece.
        for (const QByteArray &change : {QByteArray("grown"), QByteArray()}) {
            writeBytes(path, QByteArray(1000, 'a'));
            FileUpload upload(path, 1000);
            QVERIFY(upload.open());
            QCOMPARE(upload.nextPiece(400).value(), QByteArray(400, 'a'));
            writeBytes(path, QByteArray(change.isEmpty() ? 500 : 1000, 'a') + change);
            const Result<QByteArray> changed = upload.nextPiece(400);
            QVERIFY(!changed);
            QCOMPARE(changed.error(), QStringLiteral("選んだ後にファイルの大きさが変わったため､"));
        }
    }

    void anUnconfirmedSubmissionIsNoSuccess_data()
    {
        QTest::addColumn<QString>("end");
        QTest::newRow("server closes") << "close";
        QTest::newRow("reply 999") << "999";
        QTest::newRow("reset") << "reset";
    }
    void anUnconfirmedSubmissionIsNoSuccess()
    {
        QFETCH(QString, end);
        confirmedClient();
        m_timer.start(500);
        m_dialogs->nextAnswers << file("report.txt", "my work");
        m_client->btnSendData_Click();
        QVERIFY(m_server->waitForInput("put taro.txt,7\r\n"));
        m_server->input().clear();
        m_server->reply("301 - image mode ok");
        QVERIFY(m_server->waitForInput("my work"));
        QTRY_COMPARE(m_client->statusText(), QStringLiteral("サーバの確認待ち"));
        if (end == "close")
            m_server->peer().disconnectFromHost();
        else if (end == "999")
            m_server->reply("999");
        else
            resetConnection(m_server->peer());
        expectButtons(Disconnected);
        QTRY_VERIFY(m_messages->shown.last().contains(QStringLiteral("再接続してから送り直して")));
        QCOMPARE(m_messages->shown.size(), end == "reset" ? 3 : 2);
        QCOMPARE(m_client->statusText(), NotHandedIn);
        QVERIFY(!m_messages->shown.contains(QStringLiteral("送信完了しました")));
    }

    // The server refused the request (it says nothing then): the student is
    // told, and a late 301 finds the connection gone.
    void aRequestNeverAnsweredIsNoSuccess()
    {
        confirmedClient();
        m_client->setTimeLimits({300, 30000, 60000});
        m_dialogs->nextAnswers << file("report.txt", "my work");
        m_client->btnSendData_Click();
        QVERIFY(m_server->waitForInput("put taro.txt,7\r\n"));
        QTRY_COMPARE(m_messages->shown.size(), 2);
        QCOMPARE(m_messages->shown.last(),
                 QStringLiteral("サーバが課題の受け取りを始めなかったため､送信を取りやめました｡\r\n"
                                "提出は済んでいません｡再接続してから送り直してください｡"));
        expectButtons(Disconnected);
        QCOMPARE(m_client->statusText(), NotHandedIn);
        QTRY_COMPARE(m_server->peer().state(), QAbstractSocket::UnconnectedState);
        QCOMPARE(m_server->input(), QByteArray("put taro.txt,7\r\n"));
    }

    void cancelledOrHugeUploadsSendNothingAnEmptyFileIsSent()
    {
        confirmedClient();
        m_client->btnSendData_Click(); // dialog cancelled
        QFile huge(m_dir.filePath("huge.iso"));
        QVERIFY(huge.open(QIODevice::WriteOnly));
        QVERIFY(huge.resize(qint64(2147483648))); // sparse: costs no disk
        huge.close();
        m_dialogs->nextAnswers << huge.fileName();
        m_client->btnSendData_Click();
        QCOMPARE(m_messages->shown.size(), 2);
        QVERIFY(m_messages->shown.last().contains(QStringLiteral("大きすぎる")));
        QCOMPARE(m_client->buttons(), Confirmed);
        // The empty file is confirmed at once by this server.
        expectNothingSent();
        // Another server may answer 301 first: then nothing is sent and 302
        // is awaited.
        m_server->input().clear();
        m_dialogs->nextAnswers << file("empty.txt", QByteArray());
        m_client->btnSendData_Click();
        QVERIFY(m_server->waitForInput("put taro.txt,0\r\n"));
        m_server->reply("301 - image mode ok");
        QTRY_COMPARE(m_client->statusText(), QStringLiteral("サーバの確認待ち"));
        m_server->reply("302 jyusin kanryo");
        expectButtons(Confirmed);
        // The receipt of an empty file is asked for as well.
        QCOMPARE(m_server->input(), QByteArray("put taro.txt,0\r\nhash taro.txt\r\n"));
    }
};

QTEST_MAIN(TestClient)
#include "tst_client.moc"
