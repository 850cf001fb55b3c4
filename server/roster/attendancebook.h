#pragma once

#include <QObject>
#include <QString>

class RosterGrid;

// What a student's claims do to the roster: attendance marks and submission
// stamps in the grid, and the answer the student gets. The conversation asks;
// the book decides and writes.
class AttendanceBook : public QObject
{
    Q_OBJECT
public:
    enum class Attendance { Taken, Already, Unknown };

    struct Submission
    {
        QString userId;
        QString fileName;
        qint64 size = 0;
        QByteArray sha256; // 64 hex digits
    };

    explicit AttendanceBook(RosterGrid &grid, QObject *parent = nullptr);

    // Marks `userId` present from `address` unless already recorded.
    Attendance markPresent(const QString &userId, const QString &address);
    // Stamps the submission time in the student's row, if there is one.
    void recordSubmission(const Submission &submission);

Q_SIGNALS:
    void marked(int row, const QString &userId, const QString &time, const QString &address);
    void submitted(const AttendanceBook::Submission &submission, const QString &time);

private:
    RosterGrid &m_grid;
};
