#pragma once

// The goals of a run: each printed as it is measured, then all of them as a
// table at the end.
#include <string>
#include <vector>

struct Goal
{
    std::string goal;
    std::string figure;
    std::string target;
    double ratio; // of the figure to its limit, or to the plain copy
    bool met;
};

void report(const Goal &goal);
// Prints the table; the exit status: 0 all met, 1 a mismatch, 3 a goal missed.
int finishReport();

std::string printed(const char *pattern, ...) __attribute__((format(printf, 1, 2)));
// "p50 .. ms, p90 .. ms, p99 .. ms, max .. ms" of latencies in seconds.
std::string percentiles(std::vector<double> values);
// The value at fraction `p` (0..1) of the sorted values, 0 when there are none.
double percentile(std::vector<double> values, double p);
double mib(double bytes);
