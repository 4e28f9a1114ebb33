#include "report/stats.h"

#include <math.h>

#include <algorithm>
#include <map>

namespace {

void Count(std::vector<Yield>* yields, const std::string& label, bool passed)
{
    auto found =
        std::find_if(yields->begin(), yields->end(), [&](const Yield& y) { return y.label == label; });
    if (found == yields->end())
        found = yields->insert(yields->end(), Yield{label, 0, 0});
    found->units++;
    found->passed += passed;
}

void SortByLabel(std::vector<Yield>* yields)
{
    std::sort(yields->begin(), yields->end(),
              [](const Yield& a, const Yield& b) { return a.label < b.label; });
}

Series* SeriesFor(PlanReport* plan, const std::string& step, const std::string& name)
{
    for (Series& series : plan->series)
        if (series.step == step && series.name == name)
            return &series;
    Series series;
    series.step = step;
    series.name = name;
    plan->series.push_back(series);
    return &plan->series.back();
}

void Analyse(PlanReport* plan)
{
    std::stable_sort(
        plan->records.begin(), plan->records.end(), [](const UnitRecord* a, const UnitRecord* b) {
            return a->instant != b->instant ? a->instant < b->instant : a->sequence < b->sequence;
        });
    std::map<std::string, int64_t> attempts;
    std::vector<std::string> stepOrder;
    std::map<std::string, int64_t> failedAt;
    for (const UnitRecord* record : plan->records) {
        int64_t attempt = ++attempts[record->serial];
        bool passed = record->verdict == "passed";
        if (attempt == 1) {
            plan->units++;
            plan->firstPassed += passed;
            // The day as the station's clock wrote it.
            Count(&plan->byDay, record->time.substr(0, 10), passed);
            Count(&plan->byStation, record->station, passed);
            Count(&plan->byOperator, record->operatorName, passed);
            if (record->verdict == "failed")
                failedAt[record->firstFailed]++;
        } else {
            plan->retests++;
        }
        if (record->verdict == "failed") {
            plan->failing.push_back(record);
            plan->failingAttempt.push_back(attempt);
        }
        for (const StepRecord& step : record->steps) {
            if (std::find(stepOrder.begin(), stepOrder.end(), step.name) == stepOrder.end())
                stepOrder.push_back(step.name);
            for (const Measured& measured : step.measurements) {
                if (!measured.hasValue)
                    continue;
                Series* series = SeriesFor(plan, step.name, measured.name);
                if (series->values.empty()) {
                    series->unit = measured.unit;
                    series->hasLow = measured.hasLow, series->low = measured.low;
                    series->hasHigh = measured.hasHigh, series->high = measured.high;
                }
                series->values.push_back(measured.value);
                series->serials.push_back(record->serial);
            }
        }
    }
    SortByLabel(&plan->byDay);
    SortByLabel(&plan->byStation);
    SortByLabel(&plan->byOperator);
    for (const auto& failed : failedAt)
        plan->pareto.push_back(ParetoBar{failed.first, failed.second});
    auto rank = [&](const std::string& step) {
        return std::find(stepOrder.begin(), stepOrder.end(), step) - stepOrder.begin();
    };
    std::sort(plan->pareto.begin(), plan->pareto.end(), [&](const ParetoBar& a, const ParetoBar& b) {
        return a.count != b.count ? a.count > b.count : rank(a.step) < rank(b.step);
    });
}

}  // namespace

std::vector<PlanReport> PlanReports(const std::vector<UnitRecord>& records)
{
    std::vector<const UnitRecord*> ordered;
    for (const UnitRecord& record : records)
        ordered.push_back(&record);
    std::stable_sort(ordered.begin(), ordered.end(), [](const UnitRecord* a, const UnitRecord* b) {
        return a->instant != b->instant ? a->instant < b->instant : a->sequence < b->sequence;
    });
    std::vector<PlanReport> plans;
    for (const UnitRecord* record : ordered) {
        auto found = std::find_if(plans.begin(), plans.end(),
                                  [&](const PlanReport& plan) { return plan.sha256 == record->planSha256; });
        if (found == plans.end()) {
            PlanReport plan;
            plan.name = record->planName, plan.version = record->planVersion,
            plan.sha256 = record->planSha256;
            found = plans.insert(plans.end(), plan);
        }
        found->records.push_back(record);
    }
    for (PlanReport& plan : plans)
        Analyse(&plan);
    // The plan in use on top: by its last record, latest first.
    std::stable_sort(plans.begin(), plans.end(), [](const PlanReport& a, const PlanReport& b) {
        const UnitRecord *lastA = a.records.back(), *lastB = b.records.back();
        return lastA->instant != lastB->instant ? lastA->instant > lastB->instant
                                                : lastA->sequence > lastB->sequence;
    });
    return plans;
}

Summary Summarize(const Series& series)
{
    Summary summary;
    summary.n = static_cast<int64_t>(series.values.size());
    if (summary.n == 0)
        return summary;
    double sum = 0;
    summary.min = summary.max = series.values[0];
    for (double value : series.values) {
        sum += value;
        summary.min = std::min(summary.min, value);
        summary.max = std::max(summary.max, value);
    }
    summary.mean = sum / summary.n;
    if (summary.n < 2)
        return summary;
    double squares = 0;
    for (double value : series.values)
        squares += (value - summary.mean) * (value - summary.mean);
    summary.deviation = sqrt(squares / (summary.n - 1));
    // Equal values whose mean is not exact in binary leave a spread of rounding only.
    if (summary.deviation <= 1e-12 * std::max(1.0, fabs(summary.mean)))
        summary.deviation = 0;
    if (summary.deviation <= 0 || (!series.hasLow && !series.hasHigh))
        return summary;
    summary.hasCapability = true;
    double toHigh = series.high - summary.mean, toLow = summary.mean - series.low;
    if (series.hasLow && series.hasHigh)
        summary.capabilityName = "Cpk",
        summary.capability = std::min(toHigh, toLow) / (3 * summary.deviation);
    else if (series.hasHigh)
        summary.capabilityName = "Cpu", summary.capability = toHigh / (3 * summary.deviation);
    else
        summary.capabilityName = "Cpl", summary.capability = toLow / (3 * summary.deviation);
    return summary;
}

Histogram HistogramOf(const std::vector<double>& values)
{
    Histogram histogram;
    if (values.empty())
        return histogram;
    double low = *std::min_element(values.begin(), values.end());
    double high = *std::max_element(values.begin(), values.end());
    size_t bins = std::min<size_t>(20, static_cast<size_t>(ceil(sqrt(static_cast<double>(values.size())))));
    if (high <= low)
        bins = 1;
    histogram.from = low;
    histogram.width = high > low ? (high - low) / bins : 1;
    histogram.counts.assign(bins, 0);
    for (double value : values) {
        size_t bin = static_cast<size_t>((value - low) / histogram.width);
        histogram.counts[std::min(bin, bins - 1)]++;
    }
    return histogram;
}
