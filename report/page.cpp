// The page's texts are the program's own (Windows-1252 in the Windows build)
// and go through ToUtf8; the records' texts are UTF-8 already and are only
// escaped. Every chart has a colour of its own, so that a picture of the page
// shows which of them were drawn.
#include "report/page.h"

#include <math.h>
#include <stdarg.h>
#include <stdio.h>

#include <algorithm>

#include "console/output.h"
#include "console/record.h"

namespace {

const char* const YIELD_COLOUR = "#2e6da4";
const char* const PARETO_COLOUR = "#c0504d";
const char* const HISTOGRAM_COLOUR = "#5b9a45";
const char* const RUN_COLOUR = "#7b4fa0";
const char* const POINT_COLOUR = "#4b2a68";
const char* const LIMIT_COLOUR = "#e08a00";
const char* const CUMULATIVE_COLOUR = "#333333";

// A program text, formatted (printf), in UTF-8.
std::string Say8(const char* format, ...)
{
    va_list arguments, again;
    va_start(arguments, format);
    va_copy(again, arguments);
    int length = vsnprintf(nullptr, 0, format, arguments);
    va_end(arguments);
    std::string text(length > 0 ? static_cast<size_t>(length) : 0, '\0');
    if (length > 0)
        vsnprintf(&text[0], text.size() + 1, format, again);
    va_end(again);
    return ToUtf8(text.c_str());
}

std::string Percent(int64_t part, int64_t whole)
{
    return whole > 0 ? Decimal(100.0 * part / whole, 1) + " %" : "—";
}

// A record's text that may be missing (operator, station: null).
std::string Shown(const std::string& text) { return text.empty() ? Say8("—") : HtmlEscape(text); }

// "1 Datei", "2 Dateien".
std::string Counted(int64_t count, const char* one, const char* more)
{
    return Say8("%lld %s", (long long)count, count == 1 ? one : more);
}

// A record's text cut for a chart's label, between characters (UTF-8), and escaped.
std::string Label(const std::string& text, size_t bytes)
{
    if (text.empty())
        return Say8("—");
    if (text.size() <= bytes)
        return HtmlEscape(text);
    size_t cut = bytes;
    while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80)
        cut--;
    return HtmlEscape(text.substr(0, cut)) + Say8("…");
}

std::string VerdictWord(const std::string& verdict)
{
    if (verdict == "passed")
        return Say8("BESTANDEN");
    if (verdict == "failed")
        return Say8("NICHT BESTANDEN");
    if (verdict == "aborted")
        return Say8("ABGEBROCHEN");
    if (verdict == "impossible")
        return Say8("NICHT MÖGLICH");
    return verdict;
}

std::string Px(double value) { return Say8("%.1f", value); }

// A text in an SVG: anchor start, middle or end.
std::string SvgText(double x, double y, const char* anchor, const std::string& text, const char* extra = "")
{
    return "<text x=\"" + Px(x) + "\" y=\"" + Px(y) + "\" text-anchor=\"" + anchor + "\"" + extra + ">" +
           text + "</text>";
}

std::string Rect(double x, double y, double width, double height, const char* colour)
{
    return "<rect x=\"" + Px(x) + "\" y=\"" + Px(y) + "\" width=\"" + Px(width) + "\" height=\"" +
           Px(height) + "\" fill=\"" + colour + "\"/>";
}

std::string Line(double x1, double y1, double x2, double y2, const char* colour, const char* extra = "")
{
    return "<line x1=\"" + Px(x1) + "\" y1=\"" + Px(y1) + "\" x2=\"" + Px(x2) + "\" y2=\"" + Px(y2) +
           "\" stroke=\"" + colour + "\"" + extra + "/>";
}

std::string SvgOpen(int width, int height, const std::string& title)
{
    return Say8("<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"%d\" height=\"%d\" viewBox=\"0 0 %d %d\" "
                "role=\"img\" shape-rendering=\"crispEdges\"><title>",
                width, height, width, height) +
           title + "</title>";
}

// Passed of units per label: a table and a bar per row (the bar's length the yield).
std::string YieldBlock(const char* heading, const std::vector<Yield>& yields)
{
    std::string html = "<div class=\"card\"><h3>" + Say8("%s", heading) + "</h3><table><tr><th>" +
                       Say8("%s", heading) + "</th><th>" + Say8("Einheiten") + "</th><th>" +
                       Say8("bestanden") + "</th><th>" + Say8("Ausbeute") + "</th></tr>";
    for (const Yield& yield : yields)
        html += "<tr><td>" + Shown(yield.label) + "</td><td class=\"n\">" +
                Say8("%lld", (long long)yield.units) + "</td><td class=\"n\">" +
                Say8("%lld", (long long)yield.passed) + "</td><td class=\"n\">" +
                Percent(yield.passed, yield.units) + "</td></tr>";
    html += "</table>";
    const int width = 330, row = 24, left = 100, bar = 170;
    int height = static_cast<int>(yields.size()) * row + 8;
    html += SvgOpen(width, height, Say8("Ausbeute je %s", heading));
    for (size_t i = 0; i < yields.size(); i++) {
        double y = 4 + static_cast<double>(i) * row;
        double share = yields[i].units > 0 ? static_cast<double>(yields[i].passed) / yields[i].units : 0;
        std::string label = Label(yields[i].label, 16);
        html += SvgText(left - 6, y + 15, "end", label);
        html += Rect(left, y + 2, bar, row - 6, "#e6e6e6");
        html += Rect(left, y + 2, round(bar * share), row - 6, YIELD_COLOUR);
        html += SvgText(left + bar + 6, y + 15, "start", Percent(yields[i].passed, yields[i].units));
    }
    return html + "</svg></div>";
}

std::string ParetoBlock(const PlanReport& plan)
{
    std::string html = "<h3>" + Say8("Fehler nach Schritt (Pareto, erster Durchlauf)") + "</h3>";
    if (plan.pareto.empty())
        return html + "<p>" + Say8("Keine fehlerhaften Einheiten.") + "</p>";
    int64_t total = 0;
    for (const ParetoBar& bar : plan.pareto)
        total += bar.count;
    const int width = 800, height = 300, left = 130, right = 60, top = 16, bottom = 110;
    double plotWidth = width - left - right, plotHeight = height - top - bottom;
    double slot = std::min(110.0, plotWidth / plan.pareto.size());
    int64_t most = plan.pareto.front().count;
    html += SvgOpen(width, height, Say8("Pareto der Fehler nach Schritt"));
    html += Line(left, top, left, top + plotHeight, "#888888") +
            Line(left, top + plotHeight, left + plotWidth, top + plotHeight, "#888888") +
            Line(left + plotWidth, top, left + plotWidth, top + plotHeight, "#888888");
    html += SvgText(left - 6, top + 5, "end", Say8("%lld", (long long)most)) +
            SvgText(left - 6, top + plotHeight, "end", "0") +
            SvgText(left + plotWidth + 6, top + 5, "start", "100 %") +
            SvgText(left + plotWidth + 6, top + plotHeight, "start", "0 %");
    std::string points;
    int64_t cumulative = 0;
    for (size_t i = 0; i < plan.pareto.size(); i++) {
        const ParetoBar& bar = plan.pareto[i];
        double x = left + slot * i, barHeight = round(plotHeight * bar.count / most);
        html += Rect(round(x + slot * 0.15), top + plotHeight - barHeight, round(slot * 0.7), barHeight,
                     PARETO_COLOUR);
        // The count inside a bar tall enough, so that the cumulative line's points do not hide it.
        bool inside = barHeight > 20;
        html += SvgText(x + slot / 2, top + plotHeight - barHeight + (inside ? 15 : -4), "middle",
                        Say8("%lld", (long long)bar.count), inside ? " style=\"fill:#fff\"" : "");
        std::string label = Label(bar.step, 26);
        double labelX = x + slot / 2, labelY = top + plotHeight + 14;
        html += SvgText(labelX, labelY, "end", label,
                        (" transform=\"rotate(-30 " + Px(labelX) + " " + Px(labelY) + ")\"").c_str());
        cumulative += bar.count;
        double cy = top + plotHeight - plotHeight * cumulative / total;
        points += Px(x + slot / 2) + "," + Px(cy) + " ";
        html += "<circle cx=\"" + Px(x + slot / 2) + "\" cy=\"" + Px(cy) + "\" r=\"3\" fill=\"" +
                CUMULATIVE_COLOUR + "\"/>";
    }
    html += "<polyline points=\"" + points + "\" fill=\"none\" stroke=\"" + CUMULATIVE_COLOUR +
            "\" stroke-width=\"2\" shape-rendering=\"auto\"/>";
    return html + "</svg>";
}

// The axis of a measurement's charts: its values and its limits, with a margin.
void AxisRange(const Series& series, const Summary& summary, double* from, double* to)
{
    *from = summary.min, *to = summary.max;
    if (series.hasLow)
        *from = std::min(*from, series.low), *to = std::max(*to, series.low);
    if (series.hasHigh)
        *from = std::min(*from, series.high), *to = std::max(*to, series.high);
    double margin = *to > *from ? (*to - *from) * 0.08 : (fabs(*from) > 0 ? fabs(*from) * 0.1 : 1);
    *from -= margin, *to += margin;
}

// A limit's label; where both are one value, the high one says so and the low one nothing.
std::string LimitLabel(const Series& series, bool low)
{
    if (series.hasLow && series.hasHigh && series.low == series.high)
        return low ? "" : Say8("UGW = OGW ") + Decimal(series.high, 3);
    return Say8(low ? "UGW " : "OGW ") + Decimal(low ? series.low : series.high, 3);
}

std::string HistogramSvg(const Series& series, const Summary& summary)
{
    const int width = 540, height = 230, left = 40, right = 16, top = 20, bottom = 40;
    double plotWidth = width - left - right, plotHeight = height - top - bottom;
    double from, to;
    AxisRange(series, summary, &from, &to);
    auto xOf = [&](double value) { return left + plotWidth * (value - from) / (to - from); };
    Histogram histogram = HistogramOf(series.values);
    int64_t most = *std::max_element(histogram.counts.begin(), histogram.counts.end());
    std::string svg = SvgOpen(width, height, Say8("Histogramm ") + HtmlEscape(series.name));
    svg += Line(left, top + plotHeight, left + plotWidth, top + plotHeight, "#888888") +
           Line(left, top, left, top + plotHeight, "#888888");
    svg += SvgText(left - 6, top + 5, "end", Say8("%lld", (long long)most)) +
           SvgText(left - 6, top + plotHeight, "end", "0");
    for (size_t i = 0; i < histogram.counts.size(); i++) {
        double x1 = xOf(histogram.from + histogram.width * i),
               x2 = xOf(histogram.from + histogram.width * (i + 1));
        if (histogram.counts.size() == 1)  // all values alike: a narrow bar at the value
            x1 = xOf(histogram.from) - 4, x2 = xOf(histogram.from) + 4;
        double barHeight = round(plotHeight * histogram.counts[i] / most);
        svg += Rect(round(x1) + 1, top + plotHeight - barHeight, std::max(1.0, round(x2) - round(x1) - 1),
                    barHeight, HISTOGRAM_COLOUR);
    }
    svg += SvgText(xOf(summary.min), top + plotHeight + 16, "middle", Decimal(summary.min, 3));
    if (summary.max > summary.min)
        svg += SvgText(xOf(summary.max), top + plotHeight + 16, "middle", Decimal(summary.max, 3));
    if (series.hasLow)
        svg += Line(xOf(series.low), top - 4, xOf(series.low), top + plotHeight, LIMIT_COLOUR,
                    " stroke-width=\"2\" stroke-dasharray=\"6 3\"") +
               SvgText(xOf(series.low), top + plotHeight + 32, "middle", LimitLabel(series, true));
    if (series.hasHigh)
        svg += Line(xOf(series.high), top - 4, xOf(series.high), top + plotHeight, LIMIT_COLOUR,
                    " stroke-width=\"2\" stroke-dasharray=\"6 3\"") +
               SvgText(xOf(series.high), top + plotHeight + 32, "middle", LimitLabel(series, false));
    return svg + "</svg>";
}

std::string RunSvg(const Series& series, const Summary& summary)
{
    const int width = 540, height = 230, left = 64, right = 16, top = 20, bottom = 40;
    double plotWidth = width - left - right, plotHeight = height - top - bottom;
    double from, to;
    AxisRange(series, summary, &from, &to);
    size_t count = series.values.size();
    auto xOf = [&](size_t i) { return left + (count > 1 ? plotWidth * i / (count - 1) : plotWidth / 2); };
    auto yOf = [&](double value) { return top + plotHeight - plotHeight * (value - from) / (to - from); };
    std::string svg = SvgOpen(width, height, Say8("Verlauf ") + HtmlEscape(series.name));
    svg += Line(left, top + plotHeight, left + plotWidth, top + plotHeight, "#888888") +
           Line(left, top, left, top + plotHeight, "#888888");
    svg += SvgText(left - 6, yOf(summary.max) + 4, "end", Decimal(summary.max, 3));
    if (summary.max > summary.min)
        svg += SvgText(left - 6, yOf(summary.min) + 4, "end", Decimal(summary.min, 3));
    svg +=
        SvgText(left, top + plotHeight + 16, "start", "1") +
        SvgText(left + plotWidth, top + plotHeight + 16, "end", Say8("%zu", count)) +
        SvgText(left + plotWidth / 2, top + plotHeight + 32, "middle", Say8("Prüfungen in zeitlicher Folge"));
    if (series.hasLow)
        svg += Line(left, yOf(series.low), left + plotWidth, yOf(series.low), LIMIT_COLOUR,
                    " stroke-width=\"2\" stroke-dasharray=\"6 3\"") +
               SvgText(left + plotWidth - 4, yOf(series.low) - 4, "end", LimitLabel(series, true));
    if (series.hasHigh)
        svg += Line(left, yOf(series.high), left + plotWidth, yOf(series.high), LIMIT_COLOUR,
                    " stroke-width=\"2\" stroke-dasharray=\"6 3\"") +
               SvgText(left + plotWidth - 4, yOf(series.high) - 4, "end", LimitLabel(series, false));
    std::string points;
    for (size_t i = 0; i < count; i++)
        points += Px(xOf(i)) + "," + Px(yOf(series.values[i])) + " ";
    svg += "<polyline points=\"" + points + "\" fill=\"none\" stroke=\"" + RUN_COLOUR +
           "\" stroke-width=\"2\" shape-rendering=\"auto\"/>";
    for (size_t i = 0; i < count; i++) {
        double value = series.values[i];
        bool outside = (series.hasLow && value < series.low) || (series.hasHigh && value > series.high);
        svg += "<circle cx=\"" + Px(xOf(i)) + "\" cy=\"" + Px(yOf(value)) +
               "\" r=\"3.5\" shape-rendering=\"auto\" fill=\"" + (outside ? PARETO_COLOUR : POINT_COLOUR) +
               "\"><title>" + HtmlEscape(series.serials[i]) + ": " + Decimal(value, 6) + "</title></circle>";
    }
    return svg + "</svg>";
}

std::string MeasurementBlock(const Series& series)
{
    Summary summary = Summarize(series);
    std::string unit = series.unit.empty() ? "" : " [" + HtmlEscape(series.unit) + "]";
    std::string html =
        "<div class=\"card wide\"><h3>" + HtmlEscape(series.step) + " / " + HtmlEscape(series.name) + unit +
        "</h3><table><tr><th>n</th><th>" + Say8("Mittelwert") + "</th><th>s</th><th>" + Say8("Min") +
        "</th><th>" + Say8("Max") + "</th><th>" + Say8("UGW") + "</th><th>" + Say8("OGW") + "</th><th>" +
        (summary.hasCapability ? Say8("%s", summary.capabilityName) : Say8("Cpk")) + "</th></tr>";
    html += "<tr><td class=\"n\">" + Say8("%lld", (long long)summary.n) + "</td><td class=\"n\">" +
            Decimal(summary.mean, 4) + "</td><td class=\"n\">" +
            (summary.n >= 2 ? Decimal(summary.deviation, 4) : Say8("—")) + "</td><td class=\"n\">" +
            Decimal(summary.min, 4) + "</td><td class=\"n\">" + Decimal(summary.max, 4) +
            "</td><td class=\"n\">" + (series.hasLow ? Decimal(series.low, 4) : Say8("—")) +
            "</td><td class=\"n\">" + (series.hasHigh ? Decimal(series.high, 4) : Say8("—")) +
            "</td><td class=\"n\">" + (summary.hasCapability ? Decimal(summary.capability, 2) : Say8("—")) +
            "</td></tr></table>";
    html +=
        "<div class=\"charts\">" + HistogramSvg(series, summary) + RunSvg(series, summary) + "</div></div>";
    return html;
}

std::string FailingBlock(const PlanReport& plan)
{
    std::string html = "<h3>" + Say8("Fehlerhafte Einheiten") + "</h3>";
    if (plan.failing.empty())
        return html + "<p>" + Say8("Keine fehlerhaften Einheiten.") + "</p>";
    html += "<table><tr><th>" + Say8("Seriennummer") + "</th><th>" + Say8("Zeit") + "</th><th>" +
            Say8("Station") + "</th><th>" + Say8("Bediener") + "</th><th>" + Say8("Durchlauf") + "</th><th>" +
            Say8("Erster fehlerhafter Schritt") + "</th><th>" + Say8("Befund") + "</th></tr>";
    for (size_t i = 0; i < plan.failing.size(); i++) {
        const UnitRecord& record = *plan.failing[i];
        html += "<tr><td>" + HtmlEscape(record.serial) + "</td><td>" + HtmlEscape(record.time) + "</td><td>" +
                Shown(record.station) + "</td><td>" + Shown(record.operatorName) + "</td><td class=\"n\">" +
                Say8("%lld", (long long)plan.failingAttempt[i]) + "</td><td>" + Shown(record.firstFailed) +
                "</td><td>" + Shown(record.detail) + "</td></tr>";
    }
    return html + "</table>";
}

const char STYLE[] =
    "body{font-family:'Liberation "
    "Sans',Arial,sans-serif;font-size:14px;color:#222;margin:16px;max-width:1160px}"
    "h1{font-size:22px;margin:0 0 4px}h2{font-size:18px;margin:28px 0 8px;border-bottom:2px solid #555}"
    "h3{font-size:15px;margin:12px 0 6px}table{border-collapse:collapse;margin:4px 0 8px}"
    "th,td{border:1px solid #ccc;padding:2px 6px;text-align:left;vertical-align:top}th{background:#f0f0f0}"
    "td.n{text-align:right}.cards{display:flex;flex-wrap:wrap;gap:12px}"
    ".card{border:1px solid #ddd;padding:6px 10px;background:#fff}.wide{width:100%;box-sizing:border-box}"
    ".charts{display:flex;flex-wrap:wrap;gap:8px}.big{font-size:20px;font-weight:bold}"
    "svg{font-family:inherit;font-size:12px;display:block}svg text{fill:#222}";

}  // namespace

std::string HtmlEscape(const std::string& text)
{
    std::string escaped;
    for (char c : text) {
        switch (c) {
        case '&':
            escaped += "&amp;";
            break;
        case '<':
            escaped += "&lt;";
            break;
        case '>':
            escaped += "&gt;";
            break;
        case '"':
            escaped += "&quot;";
            break;
        case '\'':
            escaped += "&#39;";
            break;
        default:
            escaped += c;
        }
    }
    return escaped;
}

std::string Decimal(double value, int decimals)
{
    char text[64];
    snprintf(text, sizeof text, "%.*f", decimals, value);
    std::string shown = text;
    size_t point = shown.find('.');
    if (point != std::string::npos) {
        while (shown.back() == '0')
            shown.pop_back();
        if (shown.back() == '.')
            shown.pop_back();
        else
            shown[point] = ',';
    }
    return shown == "-0" ? "0" : shown;
}

std::string ReportHtml(const std::vector<PlanReport>& plans, const RecordSet& set)
{
    std::string html = "<!DOCTYPE html>\n<html lang=\"de\"><head><meta charset=\"utf-8\"><title>" +
                       Say8("Prüfbericht") + "</title><style>" + STYLE + "</style></head><body>\n";
    html += "<h1>" + Say8("Prüfbericht") + "</h1><p>" +
            Counted(static_cast<int64_t>(set.records.size()), "Datensatz", "Datensätze") + Say8(" aus ") +
            Counted(set.files, "Datei", "Dateien") + ", " +
            Counted(static_cast<int64_t>(plans.size()), "Prüfplan", "Prüfpläne");
    if (set.skipped > 0)
        html += "; " + Counted(set.skipped, "Zeile", "Zeilen") + Say8(" ohne Datensatz übergangen");
    html += "</p>\n";
    for (const PlanReport& plan : plans) {
        html += "<section><h2>" + HtmlEscape(plan.name) +
                (plan.version.empty() ? "" : Say8(", Version ") + HtmlEscape(plan.version)) +
                Say8(" — Plan ") + HtmlEscape(plan.sha256.substr(0, 12)) + "</h2>";
        html += "<p class=\"big\">" + Say8("Erstdurchlauf-Ausbeute: ") +
                Percent(plan.firstPassed, plan.units) + "</p><p>" +
                Counted(plan.units, "Einheit", "Einheiten") +
                Say8(", davon %lld im ersten Durchlauf bestanden; ", (long long)plan.firstPassed) +
                Counted(plan.retests, "Nachprüfung", "Nachprüfungen") + "; " +
                Counted(static_cast<int64_t>(plan.records.size()), "Datensatz", "Datensätze") +
                Say8(" von ") + HtmlEscape(plan.records.front()->time) + Say8(" bis ") +
                HtmlEscape(plan.records.back()->time) + "</p>\n";
        html += "<div class=\"cards\">" + YieldBlock("Tag", plan.byDay) +
                YieldBlock("Station", plan.byStation) + YieldBlock("Bediener", plan.byOperator) + "</div>\n";
        html += ParetoBlock(plan) + "\n";
        html += FailingBlock(plan) + "\n";
        html += "<h3>" + Say8("Messwerte") + "</h3>";
        if (plan.series.empty())
            html += "<p>" + Say8("Keine Messwerte mit Zahlen.") + "</p>";
        for (const Series& series : plan.series)
            html += MeasurementBlock(series) + "\n";
        html += "</section>\n";
    }
    return html + "</body></html>\n";
}

std::string ReportCsv(const std::vector<PlanReport>& plans)
{
    std::vector<std::string> columns;  // "step/measurement", in the order first met
    for (const PlanReport& plan : plans)
        for (const UnitRecord* record : plan.records)
            for (const StepRecord& step : record->steps)
                for (const Measured& measured : step.measurements)
                    if (std::find(columns.begin(), columns.end(), step.name + "/" + measured.name) ==
                        columns.end())
                        columns.push_back(step.name + "/" + measured.name);
    std::string csv = "\xEF\xBB\xBF" + Say8("zeit;seriennummer;plan;station;bediener;ergebnis;erster_fehler");
    for (const std::string& column : columns)
        csv += ";" + LogField(column);
    csv += "\r\n";
    for (const PlanReport& plan : plans) {
        std::string planName = plan.name + (plan.version.empty() ? "" : " " + plan.version) + " (" +
                               plan.sha256.substr(0, 12) + ")";
        for (const UnitRecord* record : plan.records) {
            std::vector<std::string> cells(columns.size());
            for (const StepRecord& step : record->steps)
                for (const Measured& measured : step.measurements)
                    if (measured.hasValue) {
                        size_t at =
                            std::find(columns.begin(), columns.end(), step.name + "/" + measured.name) -
                            columns.begin();
                        cells[at] = Decimal(measured.value, 6);
                    }
            csv += LogField(record->time) + ";" + LogField(record->serial) + ";" + LogField(planName) + ";" +
                   LogField(record->station) + ";" + LogField(record->operatorName) + ";" +
                   LogField(VerdictWord(record->verdict)) + ";" + LogField(record->firstFailed);
            for (const std::string& cell : cells)
                csv += ";" + cell;
            csv += "\r\n";
        }
    }
    return csv;
}
