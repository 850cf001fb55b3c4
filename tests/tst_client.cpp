#include "client/clientstartup.h"
#include "client/fileupload.h"
#include "client/handoutfetch.h"
#include "client/mainform.h"
#include "client/studentclient.h"
#include "platform/socket.h"
#include "platform/twips.h"
#include "support/fakedialogs.h"
#include "support/files.h"
#include "support/scriptedserver.h"

#include <QCryptographicHash>
#include <QDir>
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

using Buttons = StudentClient::Buttons;

namespace {

const Buttons Connecting{false, false, true};
const Buttons Connected{true, false, false};
const Buttons Confirmed{false, true, false};
const Buttons Requested{false, false, false};
const Buttons Disconnected{false, false, true};
const QString ReconnectLater = QStringLiteral("\r\n少し待って再接続ボタンを押してください｡");

QString sha256(const QByteArray &bytes)
{
    return QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex());
}

} // namespace

class TestClient : public QObject
{
    Q_OBJECT
    std::unique_ptr<ScriptedServer> m_server;
    std::unique_ptr<FakeMessageBox> m_messages;
    std::unique_ptr<FakeFileDialogs> m_dialogs;
    std::unique_ptr<StudentClient> m_client;
    QTemporaryDir m_dir;
    QTimer m_timer;

    void expectButtons(const Buttons &expected)
    {
        const auto &b = m_client->buttons();
        QVERIFY2(
            QTest::qWaitFor([&] { return b == expected; }, 5000),
            qPrintable(QStringLiteral("%1%2%3").arg(b.attendance).arg(b.upload).arg(b.reconnect)));
    }
    void connectedClient()
    {
        m_client = std::make_unique<StudentClient>("taro", "127.0.0.1", m_server->port(),
                                                   *m_messages, *m_dialogs);
        connect(&m_timer, &QTimer::timeout, m_client.get(), &StudentClient::Timer_Timer);
        QCOMPARE(m_client->buttons(), Connecting);
        QVERIFY(m_client->connectToServer().ok());
        QVERIFY(m_server->waitForPeer());
        expectButtons(Connected);
    }
    // A client connected to the scripted server, attendance confirmed, the
    // lecture labels set.
    void confirmedClient()
    {
        connectedClient();
        m_client->SYUKKETUBTN_Click();
        QVERIFY(m_server->waitForInput("user taro\r\n"));
        m_server->reply("101 - syusseki totta ^^");
        m_server->reply("800 講義,先生");
        expectButtons(Confirmed);
        QTRY_COMPARE(m_client->kougimei(), QStringLiteral("講義"));
        m_server->input().clear();
    }
    // Nothing went out since the input was last cleared: the attendance line
    // sent now arrives alone.
    void expectNothingSent()
    {
        m_client->SYUKKETUBTN_Click();
        QVERIFY(m_server->waitForInput("user taro\r\n"));
    }
    // Sends `bytes` and waits until the client has taken them in.
    void deliver(const QByteArray &bytes)
    {
        QSignalSpy arrival(&m_client->socket(), &Socket::dataArrival);
        m_server->send(bytes);
        QVERIFY(arrival.wait(5000));
    }
    void reconnects()
    {
        m_client->btnReConnect_Click();
        QVERIFY(m_server->waitForPeer(2));
        expectButtons(Connected);
    }
    void expectErrorBox(const QString &number)
    {
        QTRY_VERIFY(m_messages->shown.last().startsWith("エラー番号:" + number + "->"));
        QVERIFY(m_messages->shown.last().endsWith(ReconnectLater));
        expectButtons(Disconnected);
        QCOMPARE(m_client->kougimei(), QStringLiteral("講義"));
        QCOMPARE(m_client->tantousya(), QStringLiteral("先生"));
        QCOMPARE(m_client->socket().state(), Socket::StateClosed);
    }
    QString file(const QString &name, const QByteArray &bytes)
    {
        const QString path = m_dir.filePath(name);
        QDir().mkpath(QFileInfo(path).path());
        writeBytes(path, bytes);
        return path;
    }

private Q_SLOTS:
    void init()
    {
        m_server = std::make_unique<ScriptedServer>();
        m_messages = std::make_unique<FakeMessageBox>();
        m_dialogs = std::make_unique<FakeFileDialogs>();
    }
    void cleanup()
    {
        m_timer.stop();
        m_client.reset();
        m_server.reset();
    }

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
        expectNothingSent();
        Buttons whileShown;
        m_messages->whileShown = [&](const QString &) { whileShown = m_client->buttons(); };
        m_server->reply("501 - bad-userID ^^");
        QTRY_COMPARE(m_messages->shown, QStringList{"ユーザ名が登録されてません"});
        QCOMPARE(m_client->buttons(), Connected); // may be pressed again
        m_client->SYUKKETUBTN_Click();
        m_server->reply("102 - sudeni syusseki totteru ^^");
        expectButtons(Confirmed);
        QCOMPARE(m_messages->shown.last(), QStringLiteral("既に出席を取っています｡"));
        QCOMPARE(whileShown, Connected); // buttons change after the box is closed
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
        deliver("10");
        deliver("1 - syusseki totta ^^\r");
        QVERIFY(m_messages->shown.isEmpty());
        m_server->send("\n501\n12\r\n");
        QTRY_COMPARE(m_messages->shown.size(), 2);
        QCOMPARE(m_messages->shown,
                 (QStringList{"出席をとりました｡", "ユーザ名が登録されてません"}));
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
        expectButtons(Confirmed);
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
        QCOMPARE(m_dialogs->filters, QStringList{"すべてのファイル (*.*)|*.*"});
        QVERIFY(m_server->waitForInput("put taro.doc,3145728\r\n"));
        QCOMPARE(m_client->buttons(), Requested);
        m_server->input().clear();
        m_server->reply("301 - image mode ok");
        QVERIFY(m_server->waitForInput(bytes, 20000));
        QTRY_COMPARE(statuses.last(), QStringLiteral("送信完了"));
        // The file goes out in pieces; the count is what is left of the file.
        const qsizetype start = statuses.indexOf("課題を送信中");
        QVERIFY(start >= 0);
        qint64 previous = bytes.size();
        for (const QString &status : statuses.sliced(start + 1, statuses.size() - start - 2)) {
            QVERIFY2(status.startsWith("送信中: ") && status.endsWith(" が未送信"),
                     qPrintable(status));
            const qint64 remaining = status.sliced(5).section(u' ', 0, 0).toLongLong();
            QVERIFY2(remaining <= previous, qPrintable(status));
            previous = remaining;
        }
        QCOMPARE(previous, qint64(0));
        QVERIFY(statuses.size() - start > 5);
        QCOMPARE(m_client->buttons(), Requested);
        Buttons whileShown;
        m_messages->whileShown = [&](const QString &) { whileShown = m_client->buttons(); };
        m_server->reply("302 jyusin kanryo");
        expectButtons(Confirmed);
        QCOMPARE(m_messages->shown.last(), QStringLiteral("送信完了しました"));
        QCOMPARE(whileShown, Requested);
        QCOMPARE(m_client->statusText(), QString());
    }

    void fileNamesAreCheckedBeforeSending_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("request"); // empty: nothing may be sent
        QTest::addColumn<QString>("problem");    // empty: no box is shown
        QTest::newRow("last dot") << "archive.tar.gz" << QByteArray("put taro.gz,3\r\n") << "";
        // Windows and FAT would drop the dot: refused before anything is sent.
        QTest::newRow("ending in dot") << "notes." << QByteArray() << "｢.｣で終わって";
        QTest::newRow("dotted folder") << "v1.2/README" << QByteArray() << "";
        QTest::newRow("no dot") << "README" << QByteArray() << "";
        QTest::newRow("comma") << "notes.v1,2" << QByteArray() << "｢,｣";
        QTest::newRow("colon") << "notes.a:b" << QByteArray() << "｢:｣";
        QTest::newRow("control") << "notes.t\tx" << QByteArray() << "制御文字";
        QTest::newRow("not in Shift_JIS")
            << QStringLiteral("notes.\U0001F600") << QByteArray() << "Shift_JIS";
        QTest::newRow("missing file") << "" << QByteArray() << "";
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
        QCOMPARE(m_client->buttons(), request.isEmpty() ? Confirmed : Requested);
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
        QCOMPARE(m_client->statusText(), QString());

        // While it is read: growing or shrinking after the first piece.
        for (const QByteArray &change : {QByteArray("grown"), QByteArray()}) {
            writeBytes(path, QByteArray(1000, 'a'));
            FileUpload upload(path, 1000);
            QVERIFY(upload.open());
            QCOMPARE(upload.nextPiece(400), QByteArray(400, 'a'));
            writeBytes(path, QByteArray(change.isEmpty() ? 500 : 1000, 'a') + change);
            QCOMPARE(upload.nextPiece(400), QByteArray());
            QCOMPARE(upload.problem(), FileUpload::Problem::SizeChanged);
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
        QTRY_COMPARE(m_client->statusText(), QStringLiteral("送信完了"));
        if (end == "close")
            m_server->peer().disconnectFromHost();
        else if (end == "999")
            m_server->reply("999");
        else
            resetConnection(m_server->peer());
        expectButtons(Disconnected);
        QTRY_VERIFY(m_messages->shown.last().contains(QStringLiteral("再接続してから送り直して")));
        QCOMPARE(m_messages->shown.size(), end == "reset" ? 3 : 2);
        QCOMPARE(m_client->statusText(), QString());
        QVERIFY(!m_messages->shown.contains(QStringLiteral("送信完了しました")));
    }

    // The server refused the request (it says nothing then): the student is
    // told, and a late 301 finds the connection gone.
    void aRequestNeverAnsweredIsNoSuccess()
    {
        confirmedClient();
        m_client->setUploadStartWait(300);
        m_dialogs->nextAnswers << file("report.txt", "my work");
        m_client->btnSendData_Click();
        QVERIFY(m_server->waitForInput("put taro.txt,7\r\n"));
        QTRY_COMPARE(m_messages->shown.size(), 2);
        QCOMPARE(m_messages->shown.last(),
                 QStringLiteral("サーバが課題の受け取りを始めなかったため､送信を取りやめました｡\r\n"
                                "提出は済んでいません｡再接続してから送り直してください｡"));
        expectButtons(Disconnected);
        QCOMPARE(m_client->statusText(), QString());
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
        expectNothingSent();
        m_server->input().clear();
        m_dialogs->nextAnswers << file("empty.txt", QByteArray());
        m_client->btnSendData_Click();
        QVERIFY(m_server->waitForInput("put taro.txt,0\r\n"));
        QCOMPARE(m_client->buttons(), Requested);
        m_server->reply("302 jyusin kanryo");
        expectButtons(Confirmed);
    }

    // A client whose lecture line has come, its handouts going to `folder`.
    void handoutClient(const QString &folder)
    {
        connectedClient();
        QVERIFY(!m_client->handoutsEnabled());
        m_server->reply("800 講義,先生");
        QTRY_VERIFY(m_client->handoutsEnabled());
        m_client->setHandoutFolder(folder);
        m_client->btnHandouts_Click();
        QVERIFY(!m_client->handoutsEnabled());
        QVERIFY(m_server->waitForInput("list\r\n"));
        m_server->input().clear();
    }
    QStringList entriesOf(const QString &folder)
    {
        return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
    }
    void served(const QByteArray &get, const QByteArray &reply)
    {
        QVERIFY(m_server->waitForInput(get));
        m_server->input().clear();
        m_server->send(reply);
    }

    // Every file is checked against its listing before it is put in place;
    // a refusal and a failed check name the file and the reason.
    void handoutsAreCheckedBeforeTheyAreSaved()
    {
        QTemporaryDir target;
        handoutClient(target.path());
        m_server->reply("401 4");
        m_server->reply("101 a.txt,5," + sha256("hello")); // an entry, not a reply
        m_server->reply("b.txt,5," + sha256("hellO"));
        m_server->reply("c.txt,3," + sha256("abc"));
        m_server->reply("d.txt,3," + sha256("abc"));
        served("get 101 a.txt\r\n", "402 5\r\nhello");
        served("get b.txt\r\n", "402 5\r\nhello");
        served("get c.txt\r\n", cp932::encode(u"499 配布物を読み込めません｡\r\n"));
        served("get d.txt\r\n", "402 4\r\nabcd");
        QTRY_COMPARE(m_messages->shown.size(), 1);
        QCOMPARE(
            m_messages->shown.last(),
            "保存しました: 101 a.txt\r\n保存できませんでした: b.txt (SHA-256が一覧と違います), "
            "c.txt (配布物を読み込めません｡), d.txt (大きさが一覧と違います)\r\n保存先: " +
                QDir::toNativeSeparators(target.path()));
        QCOMPARE(entriesOf(target.path()), QStringList{"101 a.txt"});
        QCOMPARE(readBytes(target.filePath("101 a.txt")), QByteArray("hello"));
        QCOMPARE(m_client->buttons(), Connected); // attendance untouched
        QVERIFY(m_client->handoutsEnabled());
        QCOMPARE(m_client->statusText(), QString());
        // The connection goes on in text mode.
        m_client->SYUKKETUBTN_Click();
        QVERIFY(m_server->waitForInput("user taro\r\n"));
    }

    // An upload and a fetch never overlap: a get line sent between a put
    // line and its file would be stored as part of the file.
    void uploadAndHandoutFetchWaitForEachOther()
    {
        QTemporaryDir target;
        confirmedClient();
        m_client->setHandoutFolder(target.path());
        QVERIFY(m_client->handoutsEnabled());
        m_client->btnHandouts_Click();
        QVERIFY(m_server->waitForInput("list\r\n"));
        m_server->input().clear();
        m_dialogs->nextAnswers << file("report.txt", "abc");
        m_client->btnSendData_Click(); // does nothing while fetching
        m_server->reply("401 0");
        QTRY_COMPARE(m_messages->shown.size(), 2); // attendance, then the handouts
        QCOMPARE(m_server->input(), QByteArray());
        QVERIFY(m_client->handoutsEnabled());
        m_client->btnSendData_Click();
        QVERIFY(m_server->waitForInput("put taro.txt,3\r\n"));
        QVERIFY(!m_client->handoutsEnabled());
        m_client->btnHandouts_Click();
        m_server->reply("301 - image mode ok");
        QVERIFY(m_server->waitForInput("put taro.txt,3\r\nabc"));
        m_server->reply("302 jyusin kanryo");
        QTRY_VERIFY(m_client->handoutsEnabled());
        QCOMPARE(m_server->input(), QByteArray("put taro.txt,3\r\nabc"));
    }

    void handoutNamesThatWouldLeaveTheFolderAreNotAskedFor()
    {
        QTemporaryDir target;
        handoutClient(target.path());
        m_server->reply("401 3");
        m_server->reply("../evil.txt,1," + sha256("x"));
        m_server->reply(".bashrc,1," + sha256("x"));
        m_server->reply("not an entry");
        QTRY_COMPARE(m_messages->shown.size(), 1);
        QVERIFY2(
            m_messages->shown.last().startsWith(
                "保存できませんでした: not an entry (一覧の行が正しくありません), "
                "../evil.txt (この名前では保存できません), .bashrc (この名前では保存できません)"),
            qPrintable(m_messages->shown.last()));
        QCOMPARE(m_server->input(), QByteArray());
        QVERIFY(entriesOf(target.path()).isEmpty());
        // A refused listing says why.
        m_client->btnHandouts_Click();
        QVERIFY(m_server->waitForInput("list\r\n"));
        m_server->reply("499 配布物のフォルダを読み込めません｡");
        QTRY_COMPARE(m_messages->shown.size(), 2);
        QVERIFY(m_messages->shown.last().startsWith(
            "配布物の一覧を受け取れませんでした: 配布物のフォルダを読み込めません｡\r\n"));
    }

    void connectionLostMidHandoutLeavesNoPartialFile()
    {
        QTemporaryDir target;
        handoutClient(target.path());
        m_timer.start(500);
        m_server->reply("401 1");
        m_server->reply("a.bin,10," + sha256("0123456789"));
        served("get a.bin\r\n", "402 10\r\n01234");
        QTRY_COMPARE(m_client->statusText(), QStringLiteral("配布物を受信中: a.bin 50%"));
        // Nothing shows under the handout's name before it is checked.
        QVERIFY(!QFileInfo::exists(target.filePath("a.bin")));
        m_server->peer().close();
        QTRY_COMPARE(m_messages->shown.size(), 1);
        QVERIFY(m_messages->shown.last().startsWith(
            "保存できませんでした: a.bin (受信中に接続が切れました)"));
        QVERIFY(entriesOf(target.path()).isEmpty());
        QVERIFY(!m_client->handoutsEnabled());
        expectButtons(Disconnected);
    }

    void handoutFolderAndNumberedNames()
    {
        const QString documents =
            QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
        QCOMPARE(handoutFolderFor({}, "情報処理演習Ⅰ"), documents + "/情報処理演習Ⅰ");
        QCOMPARE(handoutFolderFor({}, "C言語/応用:第2回"), documents + "/C言語_応用_第2回");
        QCOMPARE(handoutFolderFor({}, ".."), documents + "/配布物");
        QCOMPARE(handoutFolderFor("/srv/haifu", "講義"), QStringLiteral("/srv/haifu"));
        QCOMPARE(numberedName("report.pdf", 2), QStringLiteral("report (2).pdf"));
        QCOMPARE(numberedName("archive.tar.gz", 3), QStringLiteral("archive.tar (3).gz"));
        QCOMPARE(numberedName("README", 2), QStringLiteral("README (2)"));
        QCOMPARE(numberedName("a.txt", 1), QStringLiteral("a.txt"));
        QTemporaryDir folder;
        writeBytes(folder.filePath("var.cfg"),
                   cp932Lines({"serveraddress=127.0.0.1", "port=1", "haifusaki=/srv/配布物"}));
        QCOMPARE(prepareClient(QStringLiteral("taro"), folder.path())->handoutFolder,
                 QStringLiteral("/srv/配布物"));
    }
};

QTEST_MAIN(TestClient)
#include "tst_client.moc"
