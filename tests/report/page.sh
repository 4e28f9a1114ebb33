#!/usr/bin/env bash
# coupler-report's page in a real browser: records from make_records.py, the
# page, Chromium's picture of it, and the picture checked: not blank, and
# each chart's colour (the yield bars, the Pareto bars, a histogram's bars, a
# run chart's line) covering an area as only a drawn chart does.
#
#   tests/report/page.sh COUPLER_REPORT WORK_FOLDER [PICTURE_TO_KEEP]
# Exits 77 (skipped) when Chromium is not installed (scripts/setup installs it).
set -euo pipefail
report=$1 work=$2 keep=${3:-}
here=$(cd "$(dirname "$0")" && pwd)
rm -rf "$work" && mkdir -p "$work/records" "$work/empty"
python3 "$here/make_records.py" "$work/records"
# Exit codes: code, then the arguments.
while read -r code args; do
  set +e
  # shellcheck disable=SC2086 # the arguments are words of the table
  (cd "$work" && "$report" $args >/dev/null 2>&1)
  got=$?
  set -e
  [[ $got -eq $code ]] || { echo "page: coupler-report $args: exit $got, not $code" >&2; exit 1; }
done <<'CODES'
0 records/alt.jsonl --csv alt.csv
1 empty --html empty.html
2 missing.jsonl --html missing.html
2 records --html no-such-folder/report.html
2 records
CODES
[[ ! -e "$work/empty.html" ]] || { echo "page: a page was written without records" >&2; exit 1; }
browser=$(command -v chromium || command -v chromium-browser || true)
if [[ -z "$browser" ]]; then
  echo "page: Chromium is not installed (scripts/setup installs it): the page's picture is not checked" >&2
  exit 77
fi
"$report" "$work/records" --html "$work/report.html" 2>"$work/report.err"
grep -q "übergangene Zeilen ohne Datensatz (.*): 2$" "$work/report.err" || { echo "page: the skipped lines were not told:" >&2; cat "$work/report.err" >&2; exit 1; }
profile=$(mktemp -d)
trap 'rm -rf "$profile"' EXIT
timeout 120 "$browser" --headless --no-sandbox --disable-gpu --disable-quic --no-first-run \
  --disable-background-networking --disable-component-update --disable-sync --user-data-dir="$profile" \
  --screenshot="$work/page.png" --window-size=1200,2000 "file://$work/report.html" >"$work/browser.log" 2>&1
[[ -s "$work/page.png" ]] || { echo "page: Chromium wrote no picture" >&2; tail -5 "$work/browser.log" >&2; exit 1; }

# Pixels of exactly this colour (the charts draw their areas without smoothing).
pixels() {
  convert "$work/page.png" -alpha off -fill black +opaque "$1" -fill white -opaque "$1" -colorspace gray \
    -format '%[fx:round(mean*w*h)]' info:
}
status=0
colours=$(identify -format '%k' "$work/page.png")
echo "page: $colours colours"
if [[ $colours -lt 100 ]]; then
  echo "page: the picture is blank or nearly so ($colours colours)" >&2
  status=1
fi
# name colour least: the least is a fraction of what the sample records draw.
while read -r name colour least; do
  count=$(pixels "$colour")
  echo "page: $name ($colour): $count pixels"
  if [[ $count -lt $least ]]; then
    echo "page: $name missing: $count pixels of $colour, at least $least expected" >&2
    status=1
  fi
done <<'CHARTS'
yield-bars #2e6da4 3000
pareto-bars #c0504d 5000
histogram-bars #5b9a45 1500
run-chart #7b4fa0 600
CHARTS
[[ -z "$keep" ]] || cp "$work/page.png" "$keep"
exit $status
