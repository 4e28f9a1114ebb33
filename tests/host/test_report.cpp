// coupler-report's figures and texts from records written here by hand:
// which lines are records, the first-pass yield with retests, the failures
// by step, a measurement's summary and histogram, the CSV row, the escaping.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "report/page.h"
#include "report/records.h"
#include "report/stats.h"

namespace {

// One unit's record of the plan "Demo" (or another hash), with the plan's
// three steps and the temperature measured where a value is given.
std::string Unit(const char* serial, const char* time, const char* verdict, const char* firstFailed,
                 const char* station, const char* operatorName, const char* temperature = "null",
                 const char* sha = "0123456789abcdef")
{
    auto text = [](const char* t) { return t ? "\"" + std::string(t) + "\"" : std::string("null"); };
    return std::string("{\"program\":\"coupler-station\",\"plan\":{\"name\":\"Demo\",\"version\":\"B\","
                       "\"sha256\":\"") +
           sha + "\"},\"serial\":" + text(serial) + ",\"operator\":" + text(operatorName) +
           ",\"station\":" + text(station) + ",\"time\":\"" + time + "\",\"verdict\":\"" + verdict +
           "\",\"detail\":null,\"first_failed\":" + text(firstFailed) +
           ",\"steps\":[{\"name\":\"Koppler prüfen\",\"measurements\":[]},{\"name\":\"Bausteine\"},"
           "{\"name\":\"Temperatur\",\"measurements\":[{\"name\":\"Temperatur\",\"unit\":\"°C\",\"value\":" +
           temperature + ",\"low\":15,\"high\":35}]}]}";
}

std::vector<PlanReport> Plans(const std::vector<std::string>& lines, RecordSet* set)
{
    std::string text;
    for (const std::string& line : lines)
        text += line + "\n";
    RecordsFromText(text, set);
    EXPECT_EQ(set->skipped, 0);
    return PlanReports(set->records);
}

TEST(Report, LinesThatAreNoRecordAreCountedAndLeftOut)
{
    std::string good = Unit("KP-1", "2026-12-08T09:00:00+01:00", "passed", nullptr, "P1", "Meier");
    struct Case {
        std::string line;
        bool record;
    } cases[] = {
        {good, true},
        {good.substr(0, good.size() / 2), false},  // a station still writing its last line
        {"{\"program\":\"coupler-check\",\"time\":\"2026-12-08T09:00:00+01:00\",\"verdict\":\"passed\"}",
         false},
        {"[1,2]", false},
        {"nicht JSON", false},
        {Unit("KP-1", "2026-12-08 09:00:00", "passed", nullptr, "P1", "Meier"),
         false},  // time without offset
        {Unit(nullptr, "2026-12-08T09:00:00+01:00", "passed", nullptr, "P1", "Meier"), false},  // no serial
        {Unit("KP-2", "2026-12-08T09:00:00+01:00", "failed", "Bausteine", nullptr, nullptr),
         true},  // nulls allowed
        {good + "\r", true},
    };
    for (const Case& c : cases) {
        RecordSet set;
        RecordsFromText(c.line + "\n", &set);
        EXPECT_EQ(set.records.size(), c.record ? 1u : 0u) << c.line;
        EXPECT_EQ(set.skipped, c.record ? 0 : 1) << c.line;
    }
    RecordSet set;
    RecordsFromText(good + "\n\n" + good.substr(0, 40), &set);  // empty lines are no fault
    EXPECT_EQ(set.records.size(), 1u);
    EXPECT_EQ(set.skipped, 1);
}

TEST(Report, TimesWithTheirOffsetOrderInUtc)
{
    struct Case {
        const char* time;
        bool valid;
        int64_t seconds;
    } cases[] = {
        {"2026-12-08T09:15:02+01:00", true, 1796717702}, {"2026-12-08T08:15:02+00:00", true, 1796717702},
        {"2026-12-08T03:45:02-04:30", true, 1796717702}, {"1970-01-01T00:00:00+01:00", true, -3600},
        {"2026-13-08T09:15:02+01:00", false, 0},         {"2026-12-08T09:15:02Z", false, 0},
        {"2026-12-08T09:15:02+0100", false, 0},
    };
    for (const Case& c : cases) {
        int64_t seconds = 0;
        EXPECT_EQ(RecordInstant(c.time, &seconds), c.valid) << c.time;
        EXPECT_EQ(seconds, c.valid ? c.seconds : 0) << c.time;
    }
}

TEST(Report, FirstPassYieldCountsEachUnitsFirstRecordByTime)
{
    RecordSet set;
    std::vector<PlanReport> plans = Plans(
        {
            Unit("A", "2026-12-07T09:00:00+01:00", "passed", nullptr, "P1", "Meier"),
            Unit("B", "2026-12-07T09:05:00+01:00", "failed", "Temperatur", "P1", "Meier"),
            Unit("B", "2026-12-07T10:00:00+01:00", "passed", nullptr, "P2", "Schulz"),  // retest
            // F's passing record is read first, but its failing one is earlier (08:30 at +01:00).
            Unit("F", "2026-12-08T09:00:00+01:00", "passed", nullptr, "P2", "Schulz"),
            Unit("F", "2026-12-08T07:30:00+00:00", "failed", "Koppler prüfen", "P1", "Schulz"),
            Unit("C", "2026-12-08T08:00:00+01:00", "failed", "Bausteine", "P2", "Schulz"),
            Unit("D", "2026-12-08T08:10:00+01:00", "failed", "Temperatur", "P2", nullptr),
            Unit("E", "2026-12-08T08:20:00+01:00", "aborted", nullptr, "P2", "Meier"),
            Unit("X", "2026-12-06T08:00:00+01:00", "passed", nullptr, "P9", "Meier", "null",
                 "fedcba9876543210"),
        },
        &set);
    ASSERT_EQ(plans.size(), 2u);
    const PlanReport& plan = plans[0];  // the one with the latest record comes first
    EXPECT_EQ(plan.sha256, "0123456789abcdef");
    EXPECT_EQ(plan.units, 6);
    EXPECT_EQ(plan.firstPassed, 1);
    EXPECT_EQ(plan.retests, 2);
    EXPECT_EQ(plans[1].units, 1);
    struct Row {
        const std::vector<Yield>* yields;
        std::vector<Yield> expected;
    } rows[] = {
        {&plan.byDay, {{"2026-12-07", 1, 2}, {"2026-12-08", 0, 4}}},
        {&plan.byStation, {{"P1", 1, 3}, {"P2", 0, 3}}},
        {&plan.byOperator, {{"", 0, 1}, {"Meier", 1, 3}, {"Schulz", 0, 2}}},
    };
    for (const Row& row : rows) {
        ASSERT_EQ(row.yields->size(), row.expected.size());
        for (size_t i = 0; i < row.expected.size(); i++) {
            EXPECT_EQ((*row.yields)[i].label, row.expected[i].label);
            EXPECT_EQ((*row.yields)[i].passed, row.expected[i].passed) << row.expected[i].label;
            EXPECT_EQ((*row.yields)[i].units, row.expected[i].units) << row.expected[i].label;
        }
    }
    // Most frequent first; a tie in the plan's order of steps.
    std::vector<std::pair<std::string, int64_t>> pareto = {
        {"Temperatur", 2}, {"Koppler prüfen", 1}, {"Bausteine", 1}};
    ASSERT_EQ(plan.pareto.size(), pareto.size());
    for (size_t i = 0; i < pareto.size(); i++) {
        EXPECT_EQ(plan.pareto[i].step, pareto[i].first);
        EXPECT_EQ(plan.pareto[i].count, pareto[i].second);
    }
    std::vector<std::string> failing = {"B", "C", "D", "F"};  // F at 08:30
    ASSERT_EQ(plan.failing.size(), failing.size());
    for (size_t i = 0; i < failing.size(); i++)
        EXPECT_EQ(plan.failing[i]->serial, failing[i]);
}

TEST(Report, MeasurementSummaryAndCapability)
{
    struct Case {
        std::vector<double> values;
        bool hasLow, hasHigh;
        double low, high;
        double mean, deviation;
        const char* capabilityName;  // "" where none is shown
        double capability;
    } cases[] = {
        {{2, 4, 4, 4, 5, 5, 7, 9}, true, true, 0, 12, 5, 2.13809, "Cpk", 0.779512},
        {{2, 4, 4, 4, 5, 5, 7, 9}, false, true, 0, 12, 5, 2.13809, "Cpu", 1.091317},
        {{2, 4, 4, 4, 5, 5, 7, 9}, true, false, 0, 12, 5, 2.13809, "Cpl", 0.779512},
        {{2, 4, 4, 4, 5, 5, 7, 9}, false, false, 0, 0, 5, 2.13809, "", 0},
        {{3, 3, 3}, true, true, 0, 12, 3, 0, "", 0},         // no spread: no capability
        {{0.1, 0.1, 0.1}, true, true, 0, 1, 0.1, 0, "", 0},  // equal values, a mean not exact in binary
        {{21.5}, true, true, 15, 35, 21.5, 0, "", 0},        // one value: neither
    };
    for (const Case& c : cases) {
        Series series;
        series.values = c.values;
        series.hasLow = c.hasLow, series.hasHigh = c.hasHigh, series.low = c.low, series.high = c.high;
        Summary summary = Summarize(series);
        EXPECT_EQ(summary.n, static_cast<int64_t>(c.values.size()));
        EXPECT_NEAR(summary.mean, c.mean, 1e-9);
        EXPECT_NEAR(summary.deviation, c.deviation, 1e-5);
        EXPECT_EQ(summary.hasCapability, c.capabilityName[0] != 0);
        if (summary.hasCapability) {
            EXPECT_STREQ(summary.capabilityName, c.capabilityName);
            EXPECT_NEAR(summary.capability, c.capability, 1e-5);
        }
    }
}

TEST(Report, HistogramBins)
{
    struct Case {
        std::vector<double> values;
        std::vector<int64_t> counts;
    } cases[] = {
        {{1, 2, 2, 3, 4, 5, 5, 5, 9}, {4, 4, 1}},  // 3 bins of 8/3 from 1; the largest in the last
        {{7, 7, 7}, {3}},
        {{0.5, 0.25, 0.75, 1.0}, {2, 2}},
    };
    for (const Case& c : cases) {
        Histogram histogram = HistogramOf(c.values);
        EXPECT_EQ(histogram.counts, c.counts);
    }
    std::vector<double> many;
    for (int i = 0; i < 500; i++)
        many.push_back(i);
    Histogram histogram = HistogramOf(many);
    ASSERT_EQ(histogram.counts.size(), 20u);
    EXPECT_EQ(histogram.counts[0], 25);
    EXPECT_EQ(histogram.counts[19], 25);
}

TEST(Report, NumbersWithADecimalComma)
{
    struct Case {
        double value;
        int decimals;
        const char* shown;
    } cases[] = {{21.5, 3, "21,5"},         {2.0, 3, "2"},      {-0.0001, 3, "0"},
                 {1234.5678, 2, "1234,57"}, {-3.25, 1, "-3,2"}, {0.1, 6, "0,1"}};
    for (const Case& c : cases)
        EXPECT_EQ(Decimal(c.value, c.decimals), c.shown);
}

TEST(Report, CsvRowsQuoteAndUseTheDecimalComma)
{
    RecordSet set;
    std::vector<PlanReport> plans = Plans({Unit("KP;1", "2026-12-07T09:00:00+01:00", "failed", "Temperatur",
                                                "Platz \\\"2\\\"", nullptr, "38.25")},
                                          &set);
    std::string csv = ReportCsv(plans);
    EXPECT_EQ(
        csv,
        "\xEF\xBB\xBFzeit;seriennummer;plan;station;bediener;ergebnis;erster_fehler;Temperatur/Temperatur\r\n"
        "2026-12-07T09:00:00+01:00;\"KP;1\";Demo B (0123456789ab);\"Platz \"\"2\"\"\";;"
        "NICHT BESTANDEN;Temperatur;38,25\r\n");
}

TEST(Report, RecordTextsShowAsText)
{
    struct Case {
        const char* text;
        const char* escaped;
    } cases[] = {{"<b>", "&lt;b&gt;"},
                 {"A & B", "A &amp; B"},
                 {"\"x\" 'y'", "&quot;x&quot; &#39;y&#39;"},
                 {"Prüfung", "Prüfung"}};
    for (const Case& c : cases)
        EXPECT_EQ(HtmlEscape(c.text), c.escaped);
    RecordSet set;
    std::vector<PlanReport> plans = Plans(
        {Unit("<b>", "2026-12-07T09:00:00+01:00", "failed", "<i>Schritt</i>", "P1", "Meier", "20")}, &set);
    std::string page = ReportHtml(plans, set);
    EXPECT_NE(page.find("<meta charset=\"utf-8\">"), std::string::npos);
    EXPECT_NE(page.find("Demo, Version B — Plan 0123456789ab<"), std::string::npos);
    EXPECT_NE(page.find("<td>&lt;b&gt;</td>"), std::string::npos);
    EXPECT_EQ(page.find("<b>"), std::string::npos);
    EXPECT_EQ(page.find("<i>"), std::string::npos);
    EXPECT_EQ(page.find("<script"), std::string::npos);
    EXPECT_EQ(page.find("http://", page.find("<body>")), page.find("http://www.w3.org/2000/svg"));
}

}  // namespace
