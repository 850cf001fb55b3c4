#pragma once

#include <QDate>
#include <QDateTime>
#include <QTime>
#include <functional>

// The one source of the date and time of day for both programs, so that a
// test can run a lecture at any hour (deadlines, midnight, a whole term) and
// `faketime` can run a whole program on another date.
class Clock
{
public:
    static QDateTime now();
    static QDate today() { return now().date(); }
    static QTime timeOfDay() { return now().time(); }

    // Tests only: time comes from `source` until it is reset with an empty
    // function.
    static void setSource(std::function<QDateTime()> source);
};
