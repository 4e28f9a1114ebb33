// coupler-report: the station's records (JSON Lines files, or folders of
// them) as one HTML page and, if asked, a CSV table for a spreadsheet.
#include <string.h>

#include <string>
#include <vector>

#include "console/files.h"
#include "console/output.h"
#include "report/page.h"
#include "report/records.h"
#include "report/stats.h"

namespace {

enum ExitCode { EXIT_WRITTEN = 0, EXIT_NO_RECORDS = 1, EXIT_CANNOT = 2 };

const char USAGE[] =
    "Aufruf: coupler-report DATEI.jsonl|ORDNER ... --html BERICHT.html [--csv TABELLE.csv]\n"
    "        coupler-report --help\n"
    "Liest die Datensätze der Prüfplätze (je Einheit eine Zeile; aus einem Ordner jede *.jsonl-Datei)\n"
    "und schreibt eine HTML-Seite (Ausbeute, Pareto der Fehler, Messwerte mit Cpk, fehlerhafte\n"
    "Einheiten) und, mit --csv, eine Tabelle. Ende: 0 geschrieben, 1 keine Datensätze gefunden,\n"
    "2 nicht lesbar oder nicht schreibbar.";

bool Save(const char* path, const std::string& content)
{
    if (FileSave(path, content.data(), content.size(), false) == FILE_SAVED)
        return true;
    Say(SAY_ERROR, "coupler-report: %s: nicht geschrieben", path);
    return false;
}

}  // namespace

int main(int argc, char** argv)
{
    OutputStart(false);
    std::vector<std::string> paths;
    const char* html = nullptr;
    const char* csv = nullptr;
    for (int i = 1; i < argc; i++) {
        if (!strcmp(argv[i], "--help")) {
            Say(SAY_ALWAYS, "%s", USAGE);
            return EXIT_WRITTEN;
        } else if (!strcmp(argv[i], "--html") || !strcmp(argv[i], "--csv")) {
            if (i + 1 >= argc || !argv[i + 1][0]) {
                Say(SAY_ERROR, "coupler-report: %s ohne Dateinamen", argv[i]);
                return EXIT_CANNOT;
            }
            (!strcmp(argv[i], "--html") ? html : csv) = argv[i + 1];
            i++;
        } else if (argv[i][0] == '-' && argv[i][1]) {
            Say(SAY_ERROR, "coupler-report: unbekannte Option %s (coupler-report --help)", argv[i]);
            return EXIT_CANNOT;
        } else {
            paths.push_back(argv[i]);
        }
    }
    if (paths.empty() || (!html && !csv)) {
        Say(SAY_ERROR, "coupler-report: %s (coupler-report --help)",
            paths.empty() ? "keine Datei und kein Ordner mit Datensätzen angegeben"
                          : "--html oder --csv fehlt");
        return EXIT_CANNOT;
    }
    // The outputs are checked first: a report of many files is not read for nothing.
    for (const char* out : {html, csv}) {
        std::string why;
        if (out && !FileWritable(out, false, &why)) {
            Say(SAY_ERROR, "coupler-report: %s: %s", out, why.c_str());
            return EXIT_CANNOT;
        }
    }
    RecordSet set;
    std::string why;
    if (!RecordsRead(paths, &set, &why)) {
        Say(SAY_ERROR, "coupler-report: %s", why.c_str());
        return EXIT_CANNOT;
    }
    if (set.skipped > 0)
        Say(SAY_ERROR,
            "coupler-report: übergangene Zeilen ohne Datensatz (unvollständig oder nicht von "
            "coupler-station): %lld",
            (long long)set.skipped);
    if (set.records.empty()) {
        Say(SAY_ERROR, "coupler-report: keine Datensätze gefunden (gelesene Dateien: %lld)",
            (long long)set.files);
        return EXIT_NO_RECORDS;
    }
    std::vector<PlanReport> plans = PlanReports(set.records);
    if ((html && !Save(html, ReportHtml(plans, set))) || (csv && !Save(csv, ReportCsv(plans))))
        return EXIT_CANNOT;
    return EXIT_WRITTEN;
}
