#!/usr/bin/env bash
# coupler-report.exe under Wine: its page and table are UTF-8 like the
# native program's (the Windows build's own texts are Windows-1252 and must
# be converted), with the same figures.
#
#   tests/report/wine.sh WINE COUPLER_REPORT_EXE WORK_FOLDER
set -euo pipefail
wine=$1 report=$2 work=$3
here=$(cd "$(dirname "$0")" && pwd)
rm -rf "$work" && mkdir -p "$work/records"
python3 "$here/make_records.py" "$work/records"
cd "$work"
"$wine" "$report" records --html report.html --csv report.csv 2>report.err
status=0
fail() { echo "wine: $*" >&2; status=1; }
for file in report.html report.csv; do
  iconv -f UTF-8 -t UTF-8 "$file" >/dev/null 2>&1 || fail "$file is not UTF-8 throughout"
done
grep -q '<title>Prüfbericht</title>' report.html || fail "the page's title"
grep -q 'Erstdurchlauf-Ausbeute: 80 %' report.html || fail "the first-pass yield"
header=$'\xef\xbb\xbfzeit;seriennummer;plan;station;bediener;ergebnis;erster_fehler;Koppler prüfen/Einschwingzeit SDA;'
[[ $(head -1 report.csv) == "$header"* ]] || fail "the table's header: $(head -1 report.csv)"
grep -q '^2026-12-08T09:09:00+01:00;KP3-0013;Demo-Platine KP-3 B (5d41402abc4b);Platz 1;Schulz;NICHT BESTANDEN;Temperatur;.*;38,5;' report.csv ||
  fail "the row of the unit whose temperature failed"
grep -q 'übergangene Zeilen ohne Datensatz' report.err || fail "the skipped lines: $(cat report.err)"
exit $status
