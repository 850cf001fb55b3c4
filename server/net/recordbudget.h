#pragma once

#include <QElapsedTimer>
#include <QtGlobal>

// What one client (one address) may add to the day log and to the lecture
// journal in a minute, so that no client can fill the disk or bury the
// others' entries. The two are kept apart: lines a client sends fill only
// its share of the log, and never cost the next student behind the same
// address (a NAT, a terminal server) his upload. Log entries past their
// share are only counted, and one entry tells how many were left out;
// uploads and fetches past the journal's share are refused, so that every
// stored file has its receipt.
class RecordBudget
{
public:
    static constexpr qint64 WindowMs = 60 * 1000;
    // A mebibyte a minute, less room for the entry that tells what was left out.
    static constexpr qint64 BytesPerWindow = 1024 * 1024 - 4096;

    RecordBudget() { m_clock.start(); }

    // Takes `bytes` of the log's share for an entry; false when it is to be
    // left out (counted).
    bool spend(qint64 bytes);
    // Takes `bytes` of the journal's share for a record that is written all
    // the same (a receipt, a refusal, a delivery).
    void charge(qint64 bytes);
    // Whether a journal record of `bytes` still fits.
    bool hasRoomFor(qint64 bytes);
    // Entries left out so far, counted anew from here.
    qint64 takeLeftOut();
    // Bytes an entry of `text` may take on disk (code page 932, time in front).
    static qint64 bytesOf(qsizetype textChars) { return 2 * qint64(textChars) + 16; }

private:
    void renewIfDue();

    QElapsedTimer m_clock;
    qint64 m_windowStart = 0;
    qint64 m_logSpent = 0;
    qint64 m_journalSpent = 0;
    qint64 m_leftOut = 0;
};
