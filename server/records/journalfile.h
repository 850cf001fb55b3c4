#pragma once

#include "common/result.h"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QTimer>
#include <future>

// An append-only file that a killed program cannot take its last lines
// from: every append is handed to the system at once, and the file is forced
// to the disk within a second of the first append that is not there yet.
// Forcing on every append would cost each student's reply a disk flush, and
// forcing on the window's thread would freeze it on a slow disk: the timed
// flush runs on a thread of its own.
//
// Only whole records count: an append that fails part-way is taken back, so
// the next record never joins the remains of a broken one.
class JournalFile : public QObject
{
    Q_OBJECT
public:
    explicit JournalFile(QObject *parent = nullptr);
    ~JournalFile() override;

    // Opens `path` for appending, creating it and its folder when missing.
    // Failures carry the system's reason; the caller knows the path.
    Result<> open(const QString &path);
    void close();
    bool isOpen() const { return m_fd >= 0; }
    const QString &path() const { return m_path; }
    // Bytes in the file now; -1 when it is not open.
    qint64 size() const;

    // Appends `record` whole, or leaves the file as it was.
    Result<> append(const QByteArray &record);
    // Forces what was appended to the disk now, on this thread.
    Result<> sync();

    // The call that forces a file to the disk (fdatasync); the benchmark
    // puts a slow one in its place.
    using SyncCall = int (*)(int fd);
    static void setSyncCall(SyncCall call);

Q_SIGNALS:
    // The timed flush failed; `message` is the system's reason.
    void syncFailed(const QString &message);

private:
    void takeBackPartialRecord(qint64 start);
    void startBackgroundSync();
    void finishBackgroundSync(quint64 generation, int error);
    void waitForBackgroundSync();

    int m_fd = -1;
    QString m_path;
    bool m_lineOpen = false;  // the file ends inside a record we could not take back
    bool m_syncAgain = false; // appended while a flush was running
    std::future<void> m_syncing;
    quint64 m_syncGeneration = 0;
    QTimer m_syncTimer;
};
