#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QTimer>

// An append-only file that a killed program cannot take its last lines
// from: every append is handed to the system at once, and the file is forced
// to the disk within a second of the first append that is not there yet.
// Forcing on every append would cost each student's reply a disk flush.
class JournalFile : public QObject
{
    Q_OBJECT
public:
    explicit JournalFile(QObject *parent = nullptr);
    ~JournalFile() override;

    // Opens `path` for appending, creating it and its folder when missing.
    bool open(const QString &path);
    void close();
    bool isOpen() const { return m_fd >= 0; }
    const QString &path() const { return m_path; }
    // Bytes in the file now; -1 when it is not open.
    qint64 size() const;

    bool append(const QByteArray &bytes);
    // Forces what was appended to the disk now.
    void sync();

Q_SIGNALS:
    // An open, append or flush failed; `reason` is the system's.
    void failed(const QString &path, const QString &reason);

private:
    void fail(const QString &reason);

    int m_fd = -1;
    QString m_path;
    QTimer m_syncTimer;
};
