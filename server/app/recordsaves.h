#pragma once

#include <QByteArray>
#include <QString>
#include <functional>

class FileDialogs;
class QFileDevice;
class Lecture;
class MessageBox;
class RosterGrid;
class TextLog;

// The File menu's saves of the lecture's records: the roster table as
// comma-separated text and the activity log, both in code page 932.
class RecordSaves
{
public:
    RecordSaves(const RosterGrid &grid, const Lecture &lecture, const TextLog &log,
                FileDialogs &dialogs, MessageBox &messages);

    void saveTable();
    void saveLog();

private:
    QString askPath(const QString &extension, const QString &filter);
    // Writes what `fill` puts into the file in place of `path`, or nothing.
    void write(const QString &path, const std::function<bool(QFileDevice &)> &fill);

    const RosterGrid &m_grid;
    const Lecture &m_lecture;
    const TextLog &m_log;
    FileDialogs &m_dialogs;
    MessageBox &m_messages;
};
