// The file hasher and the one cache of file hashes: pieces, stops, files
// changing under the reader, and in-place edits that hide from size and time.
#include "common/filehash.h"
#include "server/folders/hashcache.h"
#include "support/files.h"

#include <QCryptographicHash>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr qsizetype Piece = 1024 * 1024;

QByteArray sha256(const QByteArray &bytes)
{
    return QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex();
}

QByteArray bytesOf(qsizetype size)
{
    QByteArray bytes(size, Qt::Uninitialized);
    for (qsizetype i = 0; i < size; ++i)
        bytes[i] = char((i * 7 + i / 4099) & 0xff);
    return bytes;
}

void write(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    QCOMPARE(file.write(bytes), qint64(bytes.size()));
}

int openRead(const QString &path)
{
    return ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
}

} // namespace

class TestHasher : public QObject
{
    Q_OBJECT
    QTemporaryDir m_dir;
    std::atomic_bool m_never{false};

    QString path(const char *name) const { return m_dir.filePath(QLatin1StringView(name)); }

private Q_SLOTS:
    void hashesFilesOfManyPiecesAndNone_data()
    {
        QTest::addColumn<qsizetype>("size");
        QTest::newRow("empty") << qsizetype(0);
        QTest::newRow("one byte") << qsizetype(1);
        QTest::newRow("exactly one piece") << Piece;
        QTest::newRow("three pieces and a bit") << 3 * Piece + 17;
    }
    void hashesFilesOfManyPiecesAndNone()
    {
        QFETCH(qsizetype, size);
        const QByteArray bytes = bytesOf(size);
        write(path("f"), bytes);
        const int dir =
            ::open(QFile::encodeName(m_dir.path()).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        const Result<FileHash> hashed = hashFileAt(dir, "f", m_never);
        ::close(dir);
        QVERIFY2(hashed.ok(), qPrintable(hashed.error()));
        QCOMPARE(hashed->sha256, sha256(bytes));
        QCOMPARE(hashed->identity.size, qint64(size));
        QVERIFY(!hashed->changed);
    }

    void linksAndSpecialFilesAreNotRead()
    {
        write(path("real"), "abc");
        QVERIFY(QFile::link(path("real"), path("link")));
        QCOMPARE(::mkfifo(QFile::encodeName(path("pipe")).constData(), 0600), 0);
        const int dir =
            ::open(QFile::encodeName(m_dir.path()).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        QVERIFY(hashFileAt(dir, "real", m_never).ok());
        QVERIFY(!hashFileAt(dir, "link", m_never).ok());
        QVERIFY(!hashFileAt(dir, "pipe", m_never).ok()); // would block if opened for reading
        QVERIFY(!hashFileAt(dir, "missing", m_never).ok());
        ::close(dir);
    }

    void aFileChangedWhileHashedIsReported_data()
    {
        QTest::addColumn<bool>("grows");
        QTest::newRow("appended to") << true;
        QTest::newRow("written in place") << false;
    }
    void aFileChangedWhileHashedIsReported()
    {
        QFETCH(bool, grows);
        const QString file = path("changing");
        write(file, bytesOf(3 * Piece));
        const int fd = openRead(file);
        QVERIFY(fd >= 0);
        int calls = 0;
        const Result<FileHash> hashed = hashDescriptor(fd, m_never, [&] {
            ++calls;
            QFile other(file);
            QVERIFY(other.open(grows ? QIODevice::Append : QIODevice::ReadWrite));
            other.write(grows ? QByteArray("more") : QByteArray(10, 'z'));
        });
        ::close(fd);
        QCOMPARE(calls, 1);
        QVERIFY(hashed.ok());
        QVERIFY(hashed->changed);
    }

    void aStopEndsTheReadingWithinAPiece()
    {
        const QString file = path("large");
        write(file, bytesOf(8 * Piece));
        const int fd = openRead(file);
        std::atomic_bool stop{false};
        int pieces = 0;
        const Result<FileHash> hashed = hashDescriptor(fd, stop, [&] {
            ++pieces;
            stop = true;
        });
        ::close(fd);
        QCOMPARE(pieces, 1);
        QVERIFY(!hashed.ok());
        QVERIFY(!hashed.error().isEmpty());
    }

    void theCacheReadsEachVersionOnce()
    {
        const QString file = path("cached");
        const QByteArray first = bytesOf(Piece + 5);
        write(file, first);
        HashCache cache;
        for (int round = 0; round < 2; ++round) {
            const int fd = openRead(file);
            const Result<FileHash> hashed = cache.hash(fd, m_never);
            ::close(fd);
            QVERIFY(hashed.ok());
            QCOMPARE(hashed->sha256, sha256(first));
        }
        QCOMPARE(cache.hashed(), 1);

        // Same size, same modification time, other bytes: a miss.
        QByteArray second = first;
        second.replace(0, 4, "EDIT");
        rewriteKeepingTimes(file, "EDIT");
        const int fd = openRead(file);
        const Result<FileHash> again = cache.hash(fd, m_never);
        ::close(fd);
        QCOMPARE(cache.hashed(), 2);
        QCOMPARE(again->sha256, sha256(second));
    }

    void aReadingOfAChangingFileIsNotKept()
    {
        const QString file = path("unsettled");
        write(file, bytesOf(2 * Piece));
        HashCache cache;
        const int fd = openRead(file);
        const Result<FileHash> hashed = cache.hash(fd, m_never, [&] {
            QFile other(file);
            QVERIFY(other.open(QIODevice::Append));
            other.write("x");
        });
        ::close(fd);
        QVERIFY(hashed->changed);
        QVERIFY(cache.find(hashed->identity).isEmpty());
    }

    void rememberedHashesNeedNoReading()
    {
        const QString file = path("stored");
        write(file, "upload");
        const int fd = openRead(file);
        HashCache cache;
        cache.remember(FileIdentity::ofDescriptor(fd), sha256("upload"));
        const Result<FileHash> hashed = cache.hash(fd, m_never);
        ::close(fd);
        QCOMPARE(hashed->sha256, sha256("upload"));
        QCOMPARE(cache.hashed(), 0);
    }
};

QTEST_GUILESS_MAIN(TestHasher)
#include "tst_hasher.moc"
