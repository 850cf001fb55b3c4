#include "common/clock.h"

namespace {
std::function<QDateTime()> &source()
{
    static std::function<QDateTime()> instance;
    return instance;
}
} // namespace

QDateTime Clock::now()
{
    return source() ? source()() : QDateTime::currentDateTime();
}

void Clock::setSource(std::function<QDateTime()> clockSource)
{
    source() = std::move(clockSource);
}
