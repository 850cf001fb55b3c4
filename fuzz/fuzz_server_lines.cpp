// The server's reading of a connection: line framing in text mode, the
// command interpreter, put lines and the upload receiver, fed with bytes in
// arrivals of a size the input chooses. Nothing may be written outside the
// assignment folder, and a connection that ends leaves no temporary file.
#include "common/wire.h"
#include "fuzz/fuzzsupport.h"
#include "platform/socket.h"
#include "platform/textlog.h"
#include "server/app/classrules.h"
#include "server/folders/versionnames.h"
#include "server/lecture/attendancebook.h"
#include "server/lecture/lecture.h"
#include "server/lecture/rostergrid.h"
#include "server/net/classroomserver.h"
#include "server/net/connection.h"
#include "server/records/lecturejournal.h"

#include <QCoreApplication>
#include <QDirIterator>

#include <QFile>
#include <QTemporaryDir>
#include <cstdint>

namespace {

// fuzzFolder()/lecture holds the assignment folder "kadai" and "cwd", the
// current folder, where a relative path would land.
QString lectureFolder()
{
    return fuzzFolder() + QStringLiteral("/lecture");
}

QStringList entries(const QString &folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System |
                                  QDir::NoDotAndDotDot);
}

// The history of replaced files: a real folder of folders, one per stored
// name, holding only plain version files and no temporary file.
void checkAndEmptyHistory(const QString &history)
{
    const QFileInfo info(history);
    FUZZ_CHECK(info.isDir() && !info.isSymLink());
    for (const QString &name : entries(history)) {
        const QFileInfo folder(history + u'/' + name);
        FUZZ_CHECK(folder.isDir() && !folder.isSymLink() && wire::isSafeFileName(name));
        for (const QString &version : entries(folder.filePath())) {
            const QFileInfo file(folder.filePath() + u'/' + version);
            FUZZ_CHECK(file.isFile() && !file.isSymLink());
            FUZZ_CHECK(versionnames::parseVersionFileName(version).has_value());
        }
    }
    FUZZ_CHECK(QDir(history).removeRecursively());
}

void checkAndEmptyFolders()
{
    FUZZ_CHECK(entries(fuzzFolder()) == QStringList{QStringLiteral("lecture")});
    FUZZ_CHECK(entries(lectureFolder()) ==
               (QStringList{QStringLiteral("cwd"), QStringLiteral("kadai")}));
    FUZZ_CHECK(entries(lectureFolder() + QStringLiteral("/cwd")).isEmpty());
    const QString kadai = lectureFolder() + QStringLiteral("/kadai");
    for (const QString &name : entries(kadai)) {
        if (name == versionnames::FolderName) {
            checkAndEmptyHistory(kadai + u'/' + name);
            continue;
        }
        const QFileInfo info(kadai + u'/' + name);
        FUZZ_CHECK(info.isFile() && !info.isSymLink());
        FUZZ_CHECK(wire::isSafeFileName(name));
        FUZZ_CHECK(!name.startsWith(wire::TemporaryPrefix));
        FUZZ_CHECK(QFile::remove(info.filePath()));
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    static QCoreApplication app(*argc, *argv);
    FUZZ_CHECK(QDir().mkpath(lectureFolder() + QStringLiteral("/kadai")));
    FUZZ_CHECK(QDir().mkpath(lectureFolder() + QStringLiteral("/cwd")));
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    // The first byte cuts the rest into arrivals of that many bytes (0: one).
    const QByteArrayView stream(data + 1, qsizetype(size - 1));
    const qsizetype step = data[0] != 0 ? data[0] : qMax<qsizetype>(stream.size(), 1);
    // Only while the input runs: libFuzzer reads its folders relative to ours.
    const QString startFolder = QDir::currentPath();
    FUZZ_CHECK(QDir::setCurrent(lectureFolder() + QStringLiteral("/cwd")));
    {
        RosterGrid grid;
        grid.replaceRowsFrom(1, {{QStringLiteral("taro"), QStringLiteral("太郎")},
                                 {QStringLiteral("花子"), QStringLiteral("花子")},
                                 {QStringLiteral("計"), QStringLiteral("2 人")}});
        grid.setRosterCount(2);
        Lecture lecture;
        lecture.setKougimei(QStringLiteral("情報処理演習Ⅰ"));
        lecture.setTantousya(QStringLiteral("中村　誠"));
        lecture.setKadaidir(lectureFolder() + QStringLiteral("/kadai"));
        MemoryTextLog log;
        AttendanceBook book(grid);
        // The journal goes to a folder of its own, outside the checked ones.
        static const QTemporaryDir data;
        qputenv("XDG_DATA_HOME", QFile::encodeName(data.path()));
        LectureJournal journal(lecture, book);
        ClassRules rules(lecture, book, journal);
        ClassroomServer server(rules, log);
        // A socket that never connects: replies go nowhere.
        const qint64 number = server.adopt(new Socket);
        for (qsizetype at = 0; at < stream.size() && server.connection(number); at += step)
            server.connection(number)->receive(
                stream.sliced(at, qMin(step, stream.size() - at)).toByteArray());
        if (Connection *connection = server.connection(number))
            connection->close();
        FUZZ_CHECK(!server.connection(number));
    }
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    FUZZ_CHECK(QDir::setCurrent(startFolder));
    checkAndEmptyFolders();
    return 0;
}
