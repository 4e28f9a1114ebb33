#!/usr/bin/env bash
# The station against separate calls: the six parts of
# tools/station-demo/kp3-bench.toml (the check twice, the bus, the EEPROM
# already programmed, the expander set and read back, the temperature, the
# sensor's configuration) as one coupler-station --once, and as the same work
# in separate calls (coupler-check --repeat 2, coupler-i2c scan, eeprom write
# --write, set and get 0x20, get 0x48 0 w, get 0x48 1), each opening the port
# and measuring the adapter again. Natively, on one virtual coupler behind a
# USB adapter model; the two halves take turns, run after run.
#
#   tools/bench/station.sh                   5 runs each behind --adapter 16,1
#   tools/bench/station.sh --runs 9 --adapter 4,1
#
# Prints every run's milliseconds and each half's median. Without
# coupler-station in the build only the separate calls run (said so). A call
# that fails or refuses (a loaded machine can make a program distrust the
# adapter's echo) discards its half of that run, with the program's reason;
# the medians are of the runs that went through. Exit code 1 when a half has
# none.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
runs=5 adapter=16,1
while [[ $# -gt 0 ]]; do
  case "$1" in
    --runs) [[ $# -ge 2 && "$2" =~ ^[1-9][0-9]?$ ]] || { echo "station bench: --runs takes 1 to 99" >&2; exit 2; }
      runs=$2; shift 2 ;;
    --adapter) [[ $# -ge 2 ]] || { echo "station bench: --adapter takes DELAY,COST" >&2; exit 2; }
      adapter=$2; shift 2 ;;
    *) sed -n '2,/^[^#]/{/^#/s/^# \{0,1\}//p}' "$0"; exit 2 ;;
  esac
done

"$root/scripts/setup"
BENCH_ROOT=$root
source "$root/scripts/lib/build.sh"
build_host coupler-check coupler-i2c >/dev/null
station=1
build_host coupler-station >/dev/null 2>&1 || station=0
coupler_build
source "$root/scripts/lib/bench.sh"
bench_lock || exit 2
mkdir -p "$WINEPREFIX/dosdevices"

plan="$root/tools/station-demo/kp3-bench.toml"
image="$root/tools/station-demo/kp3-eeprom.hex"
work=$(mktemp -d "$COUPLER_DIR/bench-station.XXXXXX")
state="$COUPLER_DIR/bench-station-state"
daemon=""
finish() {
  [[ -z "$daemon" ]] || { kill "$daemon" 2>/dev/null || true; wait "$daemon" 2>/dev/null || true; }
  rm -rf "$work"
  bench_unlock
}
trap finish EXIT

# The EEPROM holds the image already: the write finds nothing to write.
python3 - "$image" "$work/eeprom.bin" <<'PYTHON'
import sys
content = bytearray(b'\xff' * 256)
for line in open(sys.argv[1]):
    raw = bytes.fromhex(line.strip()[1:])
    if raw[3] == 0:
        at = raw[1] << 8 | raw[2]
        content[at:at + raw[0]] = raw[4:4 + raw[0]]
open(sys.argv[2], 'wb').write(content)
PYTHON
rm -f "$state.ports"
"$COUPLER_DIR/vcoupler-daemon" --state "$state" --prefix "$WINEPREFIX" --ports 3 --absent "$COUPLER_DIR/absent" \
  --present --chips all --eeprom "$work/eeprom.bin" --adapter "$adapter" </dev/null >"$work/daemon.log" 2>&1 &
daemon=$!
for _ in $(seq 1 100); do
  [[ -f "$state.ports" ]] || ! kill -0 "$daemon" 2>/dev/null && break
  sleep 0.05
done
[[ -f "$state.ports" ]] || { echo "station bench: the virtual coupler did not start:" >&2; cat "$work/daemon.log" >&2; exit 2; }
export COUPLER_STATE=$state
port=$(awk '$1 == "COM3" { print $2 }' "$state.ports")
preload="$COUPLER_DIR/lib/x86_64-linux-gnu/libvcoupler.so"

now_ms() { echo $(( $(date +%s%N) / 1000000 )); }
# call PROGRAM ARGUMENT...: one native call on the virtual coupler, its time
# kept by its command line; when it fails, its last line of output and false.
call() {
  local program=$1 code=0 start
  shift
  start=$(now_ms)
  LD_PRELOAD=$preload "$HOST_BUILD/$program" "$@" >"$work/output" 2>&1 </dev/null || code=$?
  if [[ $code -eq 0 ]]; then
    local shown="${*//$port/PORT}"
    echo "$(( $(now_ms) - start )) $program ${shown//$root\//}" >>"$work/calls"
    return 0
  fi
  echo "station bench:   $program $* ended with $code: $(grep -v '^$' "$work/output" | tail -n 1)"
  return 1
}
separate() {
  local run=$1
  call coupler-check "$port" --repeat 2 --quiet &&
    call coupler-i2c "$port" scan --quiet &&
    call coupler-i2c "$port" eeprom write "$image" --write --backup "$work/backup-$run.bin" &&
    call coupler-i2c "$port" set 0x20 0xF0 --write &&
    call coupler-i2c "$port" get 0x20 &&
    call coupler-i2c "$port" get 0x48 0 w &&
    call coupler-i2c "$port" get 0x48 1
}
# middle MS...: their median.
middle() {
  printf '%s\n' "$@" | sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}
# median LABEL MS...: the median of the runs that went through.
median() {
  local label=$1
  shift
  if [[ $# -eq 0 ]]; then
    echo "station bench: $label: no run went through"
    return 1
  fi
  echo "station bench: median of $label: $(middle "$@") ms ($# runs)"
}

echo "station bench: $(uname -srm), $(nproc) cores, adapter model $adapter, $runs runs each, natively"
[[ $station -eq 1 ]] || echo "station bench: coupler-station is not in the build: the separate calls only"
separate_ms=() station_ms=()
for run in $(seq 1 "$runs"); do
  start=$(now_ms)
  if separate "$run"; then
    separate_ms+=($(( $(now_ms) - start )))
    line="separate calls ${separate_ms[-1]} ms"
  else
    line="separate calls discarded"
  fi
  if [[ $station -eq 1 ]]; then
    start=$(now_ms)
    if call coupler-station "$plan" "$port" --once --serial "BENCH-$run" --record "$work/bench.jsonl"; then
      station_ms+=($(( $(now_ms) - start )))
      line+=", coupler-station ${station_ms[-1]} ms"
    else
      line+=", coupler-station discarded"
    fi
  fi
  echo "station bench: run $run: $line"
done
# Each separate call's median, the backup's file name left out.
sed 's/ --backup .*//' "$work/calls" 2>/dev/null | grep -v '^[0-9]* coupler-station ' |
  awk '{ ms = $1; $1 = ""; times[$0] = times[$0] " " ms; if (!($0 in seen)) { seen[$0] = 1; order[++n] = $0 } }
       END { for (i = 1; i <= n; i++) print order[i] "|" times[order[i]] }' |
  while IFS='|' read -r command times; do
    # shellcheck disable=SC2086 # the times are words
    echo "station bench:   median of${command}: $(middle $times) ms"
  done
code=0
median "the separate calls (7 programs)" ${separate_ms[@]+"${separate_ms[@]}"} || code=1
if [[ $station -eq 1 ]]; then
  median "coupler-station (1 program, the same 6 parts)" ${station_ms[@]+"${station_ms[@]}"} || code=1
fi
exit "$code"
