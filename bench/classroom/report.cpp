#include "bench/classroom/report.h"

#include "bench/classroom/support.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>

namespace {
std::vector<Goal> g_goals;

double at(const std::vector<double> &sorted, double p)
{
    return sorted[std::min(sorted.size() - 1, size_t(p * double(sorted.size())))];
}
} // namespace

void report(const Goal &goal)
{
    g_goals.push_back(goal);
    std::printf("  %-4s %s: %s (goal %s)\n", goal.met ? "ok" : "MISS", goal.goal.c_str(),
                goal.figure.c_str(), goal.target.c_str());
    std::fflush(stdout);
}

int finishReport()
{
    std::printf("\n| Goal | Measured | Target | Ratio | |\n|---|---|---|---|---|\n");
    bool allMet = true;
    for (const Goal &row : g_goals) {
        std::printf("| %s | %s | %s | %.2f | %s |\n", row.goal.c_str(), row.figure.c_str(),
                    row.target.c_str(), row.ratio, row.met ? "met" : "MISSED");
        allMet = allMet && row.met;
    }
    if (mismatches() > 0) {
        std::printf("\nFAILED: %d mismatches (see above)\n", mismatches());
        return 1;
    }
    return allMet ? 0 : 3;
}

std::string printed(const char *pattern, ...)
{
    char text[256];
    va_list args;
    va_start(args, pattern);
    std::vsnprintf(text, sizeof text, pattern, args);
    va_end(args);
    return text;
}

std::string percentiles(std::vector<double> values)
{
    if (values.empty())
        return "-";
    std::sort(values.begin(), values.end());
    return printed("p50 %.1f ms, p90 %.1f ms, p99 %.1f ms, max %.1f ms", at(values, 0.5) * 1000,
                   at(values, 0.9) * 1000, at(values, 0.99) * 1000, values.back() * 1000);
}

double percentile(std::vector<double> values, double p)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    return at(values, p);
}

double mib(double bytes)
{
    return bytes / (1024.0 * 1024.0);
}
