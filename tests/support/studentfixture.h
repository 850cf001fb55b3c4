#pragma once

#include "client/studentclient.h"
#include "platform/socket.h"
#include "support/fakedialogs.h"
#include "support/files.h"
#include "support/scriptedserver.h"

#include <QDir>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <memory>

// A student program against a scripted server, and the steps most client
// tests take with it. A test class derives from it besides QObject and
// calls setUp() and tearDown() from init() and cleanup().
class StudentFixture
{
protected:
    using Buttons = StudentClient::Buttons;
    static constexpr Buttons Connecting{false, false, true};
    static constexpr Buttons Connected{true, false, false};
    // The lecture line came: 配布物 too.
    static constexpr Buttons Lectured{true, false, false, true};
    static constexpr Buttons Confirmed{false, true, false, true};
    // Attendance confirmed before any lecture line came.
    static constexpr Buttons Attended{false, true, false};
    static constexpr Buttons Attending{false, false, false};
    static constexpr Buttons Uploading{false, false, true}; // 再接続 cancels
    static constexpr Buttons Disconnected{false, false, true};
    inline static const QString ReconnectLater =
        QStringLiteral("\r\n少し待って再接続ボタンを押してください｡");
    inline static const QString SendAgain =
        QStringLiteral("提出は済んでいません｡再接続してから送り直してください｡");
    inline static const QString NotHandedIn = QStringLiteral("提出は済んでいません");

    std::unique_ptr<ScriptedServer> m_server;
    std::unique_ptr<FakeMessageBox> m_messages;
    std::unique_ptr<FakeFileDialogs> m_dialogs;
    std::unique_ptr<StudentClient> m_client;
    QTemporaryDir m_dir;
    QTimer m_timer;

    void expectButtons(const Buttons &expected)
    {
        const auto &b = m_client->buttons();
        QVERIFY2(QTest::qWaitFor([&] { return b == expected; }, 5000),
                 qPrintable(QStringLiteral("%1%2%3%4")
                                .arg(b.attendance)
                                .arg(b.upload)
                                .arg(b.reconnect)
                                .arg(b.handouts)));
    }
    void connectedClient()
    {
        m_client = std::make_unique<StudentClient>("taro", "127.0.0.1", m_server->port(),
                                                   *m_messages, *m_dialogs);
        QObject::connect(&m_timer, &QTimer::timeout, m_client.get(), &StudentClient::Timer_Timer);
        // The scripted servers mostly leave the hash line unanswered, as
        // older servers do: the upload is confirmed without a receipt soon.
        StudentClient::TimeLimits limits;
        limits.receiptMs = 300;
        m_client->setTimeLimits(limits);
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
    // Nothing went out since the input was last cleared: an empty file's
    // put line sent now arrives alone. Its confirmation leaves the client
    // ready again.
    void expectNothingSent()
    {
        QCOMPARE(m_client->state(), Conversation::State::Ready);
        m_dialogs->nextAnswers << file("probe.txt", QByteArray());
        m_client->btnSendData_Click();
        QVERIFY(m_server->waitForInput("put taro.txt,0\r\n"));
        const qsizetype shown = m_messages->shown.size();
        m_server->reply("302 jyusin kanryo");
        QTRY_COMPARE(m_messages->shown.size(), shown + 1);
        m_messages->shown.removeLast();
        expectButtons(Confirmed);
    }
    // Starts an upload of `bytes` and waits for the put line.
    void announce(const QByteArray &bytes)
    {
        m_dialogs->nextAnswers << file("report.bin", bytes);
        m_client->btnSendData_Click();
        QVERIFY(
            m_server->waitForInput("put taro.bin," + QByteArray::number(bytes.size()) + "\r\n"));
        m_server->input().clear();
    }
    // The connection ended with the message that nothing was handed in.
    void expectNotHandedIn(const QString &cause)
    {
        QTRY_VERIFY(!m_messages->shown.isEmpty() && m_messages->shown.last().endsWith(SendAgain));
        QVERIFY2(m_messages->shown.last().contains(cause), qPrintable(m_messages->shown.last()));
        expectButtons(Disconnected);
        QCOMPARE(m_client->statusText(), NotHandedIn);
        QCOMPARE(m_client->socket().state(), Socket::StateClosed);
    }
    // Sends `bytes` and waits until the client has taken them in.
    void deliver(const QByteArray &bytes)
    {
        QSignalSpy arrival(&m_client->socket(), &Socket::received);
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
    void setUp()
    {
        m_server = std::make_unique<ScriptedServer>();
        m_messages = std::make_unique<FakeMessageBox>();
        m_dialogs = std::make_unique<FakeFileDialogs>();
    }
    void tearDown()
    {
        m_timer.stop();
        m_client.reset();
        m_server.reset();
    }
};
