#pragma once

#include <QElapsedTimer>
#include <QtGlobal>

// What one client (one address) may add to the lecture journal and the day
// log together in a minute, so that no client can fill the disk or bury the
// others' entries. Log entries past it are only counted, and one entry tells
// how many were left out; uploads past it are refused, so that every stored
// file has its receipt.
class RecordBudget
{
public:
    static constexpr qint64 WindowMs = 60 * 1000;
    // A mebibyte a minute, less room for the entry that tells what was left out.
    static constexpr qint64 BytesPerWindow = 1024 * 1024 - 4096;

    RecordBudget() { m_clock.start(); }

    // Takes `bytes` for an entry; false when it is to be left out (counted).
    bool spend(qint64 bytes);
    // Takes `bytes` for an entry that is written all the same (a receipt).
    void charge(qint64 bytes);
    bool hasRoomFor(qint64 bytes);
    // Entries left out so far, counted anew from here.
    qint64 takeLeftOut();
    // Bytes an entry of `text` may take on disk (code page 932, time in front).
    static qint64 bytesOf(qsizetype textChars) { return 2 * qint64(textChars) + 16; }

private:
    void renewIfDue();

    QElapsedTimer m_clock;
    qint64 m_windowStart = 0;
    qint64 m_spent = 0;
    qint64 m_leftOut = 0;
};
