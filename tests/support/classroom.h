#pragma once

#include "platform/textlog.h"
#include "server/app/classrules.h"
#include "server/app/rostercommands.h"
#include "server/lecture/attendancebook.h"
#include "server/lecture/lecture.h"
#include "server/lecture/rostergrid.h"
#include "server/net/classroomserver.h"
#include "server/net/connection.h"
#include "server/records/lecturejournal.h"
#include "support/fakedialogs.h"
#include "support/files.h"
#include "support/testclient.h"

#include <QDir>
#include <QTemporaryDir>
#include <memory>

// The lecturer's program without its window: a roster with an assignment
// folder in a temporary directory, the class's rules with a journal in a
// data folder of its own, and the server listening on a free port.
struct Classroom
{
    QTemporaryDir dir;
    QTemporaryDir data; // the user's data folder, for the journals
    QString kadai = dir.filePath(QStringLiteral("kadai"));
    QString haifu = dir.filePath(QStringLiteral("haifu")); // the roster's handout folder
    RosterGrid grid;
    Lecture lecture;
    MemoryTextLog log;
    AttendanceBook book{grid};
    LectureJournal journal{lecture, book};
    ClassRules rules{lecture, book, journal};
    std::unique_ptr<ClassroomServer> server;

    explicit Classroom(const QStringList &students)
    {
        qputenv("XDG_DATA_HOME", QFile::encodeName(data.path()));
        QDir().mkpath(kadai);
        QDir().mkpath(haifu);
        // Every test student comes from this one machine.
        book.setProxyCheck(false);
        loadRoster(students);
        listen(log);
    }

    // Starts the server anew, writing its log to `target`.
    void listen(TextLog &target)
    {
        server.reset();
        server = std::make_unique<ClassroomServer>(rules, target);
        const Result<> listening = server->listen(0);
        QVERIFY2(listening.ok(), qPrintable(listening.error()));
    }

    void loadRoster(const QStringList &students)
    {
        const QString path = dir.filePath(QStringLiteral("roster.cfg"));
        writeBytes(
            path, cp932Lines(QStringList{"kougimei=情報処理演習Ⅰ", "tantousya=中村　誠",
                                         "kadaidir=" + kadai, "haifudir=" + haifu, "<start data>"} +
                             students + QStringList{"<end data>"}));
        openRoster(path);
    }

    // Opens the roster file at `path` as File > 開く does.
    void openRoster(const QString &path)
    {
        FakeFileDialogs dialogs;
        FakeMessageBox messages;
        RosterCommands(grid, lecture, dialogs, messages).load(path);
        QVERIFY2(messages.shown.isEmpty(), qPrintable(messages.shown.join(u'\n')));
    }

    quint16 port() const { return server->port(); }
    // Puts a file into the handout folder.
    void handout(const QString &name, const QByteArray &bytes) const
    {
        writeBytes(haifu + u'/' + name, bytes);
    }
    std::unique_ptr<TestClient> greeted(const QString &from = QStringLiteral("127.0.0.1"))
    {
        auto client = std::make_unique<TestClient>(port(), QHostAddress(from));
        if (!client->waitForLines(2))
            qWarning("no greeting");
        return client;
    }
    // Waits until the server has let connection `number` go.
    bool closed(qint64 number, int timeout = 10000)
    {
        return QTest::qWaitFor([&] { return !server->connection(number); }, timeout);
    }

    QStringList logLines() const { return log.text().split(QStringLiteral("\r\n")); }
    QByteArray stored(const QString &name) const { return readBytes(kadai + u'/' + name); }
    QStringList kadaiEntries() const
    {
        return QDir(kadai).entryList(QDir::AllEntries | QDir::Hidden | QDir::System |
                                     QDir::NoDotAndDotDot);
    }
    // Bytes of the upload in progress that have reached the temporary file.
    qint64 partStored() const
    {
        const QStringList parts = kadaiEntries().filter(wire::TemporaryPrefix);
        return parts.size() == 1 ? QFileInfo(kadai + u'/' + parts[0]).size() : -1;
    }
};
