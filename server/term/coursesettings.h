#pragma once

#include <QDate>
#include <QString>
#include <QStringList>
#include <QStringView>
#include <QTime>
#include <optional>

// The keys of a roster file that say how attendance is judged over a term:
// when the lecture starts, how late still counts as present, how many
// sessions are planned, what share a student must attend and over which
// dates. Every key is optional; a missing one takes its default, and a value
// that cannot be read is named in problems() and takes the default too.
class CourseSettings
{
public:
    // The defaults, with the term that contains `today`.
    explicit CourseSettings(QDate today);
    // The keys of a roster file's text; the student block is passed over.
    static CourseSettings fromText(QStringView text, QDate today);

    // kaisi: without it every mark counts as present.
    std::optional<QTime> start() const { return m_start; }
    int onTimeMinutes() const { return m_onTimeMinutes; }           // tikoku
    int absentAfterMinutes() const { return m_absentAfterMinutes; } // kesseki
    int plannedSessions() const { return m_plannedSessions; }       // kaisu
    // sikaku as numerator / denominator: 2/3, 80 or 80% (80/100), 0.8 (8/10).
    int requiredNumerator() const { return m_requiredNumerator; }
    int requiredDenominator() const { return m_requiredDenominator; }
    int latesPerAbsence() const { return m_latesPerAbsence; } // tikokukansan, 0: never
    QDate from() const { return m_from; }                     // kikan
    QDate to() const { return m_to; }

    // S − ⌈S × sikaku⌉ with S = kaisu − `excused`, the product rounded to
    // one decimal first: absences a student may have and still sit the exam.
    int allowedAbsences(int excused = 0) const;

    // One text per value that was not used, naming the key and the line.
    const QStringList &problems() const { return m_problems; }

    // The Japanese term containing `day`: 1 April – 30 September or
    // 1 October – 31 March.
    static std::pair<QDate, QDate> termOf(QDate day);
    // A date written exactly YYYY-MM-DD; invalid otherwise.
    static QDate dayOf(const QString &text);

private:
    void apply(const QString &key, const QString &value, int lineNumber);
    bool setStart(const QString &value);
    bool setRequired(const QString &value);
    bool setPeriod(const QString &value);
    void checkLateWindow(int lineNumber);

    std::optional<QTime> m_start;
    int m_onTimeMinutes = 10;
    int m_absentAfterMinutes = 30;
    int m_plannedSessions = 15;
    int m_requiredNumerator = 2;
    int m_requiredDenominator = 3;
    int m_latesPerAbsence = 0;
    QDate m_from;
    QDate m_to;
    int m_lateWindowLine = 0; // the later of the tikoku and kesseki lines
    QStringList m_problems;
};
