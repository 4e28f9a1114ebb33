// coupler-report's figures: per plan (by the plan file's hash) the first-pass
// yield, the failures by step, and each measurement's distribution.
#pragma once

#include <stdint.h>

#include <string>
#include <vector>

#include "report/records.h"

// Passed of counted, under a label (a day, a station, an operator).
struct Yield {
    std::string label;
    int64_t passed = 0, units = 0;
};
// Failing units' first failed steps, most frequent first (equal counts in
// the order of the plan's steps).
struct ParetoBar {
    std::string step;
    int64_t count = 0;
};
// The histogram's bins span the values' range in equal parts: as many as the
// square root of the count, rounded up, at most 20; the largest value counts
// in the last bin.
struct Histogram {
    double from = 0, width = 0;
    std::vector<int64_t> counts;
};
struct Summary {
    int64_t n = 0;
    double mean = 0, deviation = 0, min = 0, max = 0;  // deviation: the sample's (n - 1)
    bool hasCapability = false;
    const char* capabilityName = "";  // "Cpk", "Cpu" (high limit only) or "Cpl" (low limit only)
    double capability = 0;
};
struct Series {
    std::string step, name, unit;
    bool hasLow = false, hasHigh = false;
    double low = 0, high = 0;
    std::vector<double> values;        // in the records' time order
    std::vector<std::string> serials;  // of each value
};
struct PlanReport {
    std::string name, version, sha256;
    std::vector<const UnitRecord*> records;  // in time order
    int64_t units = 0, firstPassed = 0, retests = 0;
    std::vector<Yield> byDay, byStation, byOperator;
    std::vector<ParetoBar> pareto;
    std::vector<Series> series;              // measurements with a number, in the plan's order
    std::vector<const UnitRecord*> failing;  // failed records, in time order
    std::vector<int64_t> failingAttempt;     // 1 for a unit's first record, 2 for its first retest ...
};

// The records grouped by plan hash, each plan's records in time order;
// plans by their last record, latest first.
std::vector<PlanReport> PlanReports(const std::vector<UnitRecord>& records);
Summary Summarize(const Series& series);
Histogram HistogramOf(const std::vector<double>& values);
