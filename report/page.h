// coupler-report's outputs: the HTML page (one file: inline CSS and SVG, no
// script, nothing from the network) and the CSV table, both UTF-8.
#pragma once

#include <string>
#include <vector>

#include "report/records.h"
#include "report/stats.h"

// Text of a record as HTML text or attribute value: & < > " ' escaped.
std::string HtmlEscape(const std::string& text);
// A number with a decimal comma, at most decimals places, trailing zeros
// (and a comma left alone) dropped; "-0" shown as "0".
std::string Decimal(double value, int decimals);
// The page for the plans; set for how many lines and files were read.
std::string ReportHtml(const std::vector<PlanReport>& plans, const RecordSet& set);
// One row per record: time, serial, plan, station, operator, verdict, first
// failed step, then one column per measurement (step/measurement) of all plans.
std::string ReportCsv(const std::vector<PlanReport>& plans);
