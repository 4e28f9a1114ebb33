#!/usr/bin/env bash
# The package script on the programs of a finished build and the native
# programs of the host build, and the device checks of scripts/lib/device.sh.
#   tests/scripts.sh BUILD_FOLDER
set -uo pipefail
src=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "$1" && pwd)
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
expect() {   # what, expected, got
  [[ "$2" == "$3" ]] || fail "$1: expected [$2], got [$3]"
}

# A copy of the tree's scripts with a read-me saved with a byte order mark
# and CRLF, as an editor on Windows leaves it.
mkdir -p "$tmp/tree/scripts" "$tmp/tree/docs/package"
cp "$src/scripts/package" "$tmp/tree/scripts/"
cp -r "$src/docs/man" "$tmp/tree/docs/"
cp "$src/README.md" "$tmp/tree/"
mkdir -p "$tmp/tree/tools/station-demo"
cp "$src/tools/station-demo/kp3.toml" "$src/tools/station-demo/kp3-eeprom.hex" "$tmp/tree/tools/station-demo/"
printf '\xEF\xBB\xBFErste Zeile\r\n\r\nK\xC3\xBCrzer\r\n' > "$tmp/tree/docs/package/README.txt"
version=$(sed -n 's/^project([a-z_]* VERSION \([0-9.]*\) .*/\1/p' "$src/CMakeLists.txt")
name="coupler-tester-$version-win32"

# The native programs of the host build; while it has none, stand-ins that
# print the usage texts of the sources.
native=${HOST_BUILD:-$src/build-host}
# The usage's string literals, from the line that starts it to the line that
# ends it (a sed range), the first of each source line one line of the
# stand-in's help; the options the console programs share (JobUsage's table)
# come from console/job.cpp.
standin() {   # program, folder, its usage's source files (FILE[:FILE]), compiler options
  local sources
  IFS=: read -ra sources <<<"$3"
  { echo '#include <stdio.h>'
    echo 'static const char* const usage[] = {'
    sed -n '/USAGE\[\] =\|Usage()$\|LINES\[\]\[2\] =/,/;$/p' "${sources[@]}" | grep '"' |
      sed 's/^[^"]*\("\(\\.\|[^"\\]\)*"\).*$/\1,/'
    echo '0};'
    echo 'int main(void) { for (int i = 0; usage[i]; i++) puts(usage[i]); return 0; }'; } > "$tmp/$1.c"
  mkdir -p "$2" && cc "${@:4}" -o "$2/$1" "$tmp/$1.c" 2>/dev/null || fail "stand-in $1 not built from $3"
}
natives=(coupler-check coupler-i2c coupler-station coupler-report)
if ! (cd "$native" 2>/dev/null && ls "${natives[@]}" >/dev/null 2>&1); then
  echo "scripts: no native programs in $native: the package is checked on stand-ins"
  native="$tmp/native"
  standin coupler-check "$native" "$src/check/options.cpp:$src/console/job.cpp"
  standin coupler-i2c "$native" "$src/i2ctool/options.cpp:$src/console/job.cpp"
  standin coupler-station "$native" "$src/station/options.cpp"
  standin coupler-report "$native" "$src/report/main.cpp"
fi

output=$("$tmp/tree/scripts/package" --from "$build" --native "$native" --out "$tmp/dist" 2>&1)
expect "package exit code" 0 $?
zip="$tmp/dist/$name.zip"
expect "line with the zip's own SHA-256" "package: SHA-256 of the zip: $(sha256sum "$zip" | cut -d' ' -f1)" \
  "$(grep 'SHA-256 of the zip' <<<"$output")"
deb="$tmp/dist/coupler-tools_${version}_$(dpkg --print-architecture).deb"
expect "line with the package's own SHA-256" "package: SHA-256 of the deb: $(sha256sum "$deb" | cut -d' ' -f1)" \
  "$(grep 'SHA-256 of the deb' <<<"$output")"
mkdir "$tmp/x" && (cd "$tmp/x" && python3 -m zipfile -e "$zip" .)
expect "files in the zip" "LIESMICH-README.txt SHA256SUMS.txt beispiel coupler-check.exe coupler-i2c.exe \
coupler-report.exe coupler-station.exe coupler-tester.exe beispiel/kp3-eeprom.hex beispiel/kp3.toml" \
  "$(cd "$tmp/x/$name" && echo * beispiel/*)"
expect "sums checked against the zip's files" \
  "coupler-tester.exe: OK coupler-check.exe: OK coupler-i2c.exe: OK coupler-station.exe: OK coupler-report.exe: OK \
LIESMICH-README.txt: OK beispiel/kp3.toml: OK beispiel/kp3-eeprom.hex: OK" \
  "$(cd "$tmp/x/$name" && sha256sum -c SHA256SUMS.txt 2>&1 | tr '\n' ' ' | sed 's/ $//')"
expect "read-me bytes" "efbbbf4572737465205a65696c650d0a0d0a4bc3bc727a65720d0a" \
  "$(od -An -tx1 "$tmp/x/$name/LIESMICH-README.txt" | tr -d ' \n')"
# The version in each program's file properties (UTF-16 in the resource).
for exe in coupler-tester.exe coupler-check.exe coupler-i2c.exe coupler-station.exe coupler-report.exe; do
  python3 -c 'import re, sys; u=lambda t: re.escape(t.encode("utf-16-le"))
sys.exit(not re.search(u("FileVersion\0") + b"(\0\0)?" + u(sys.argv[2] + "\0"), open(sys.argv[1], "rb").read()))' \
    "$tmp/x/$name/$exe" "$version" || fail "$exe: no FileVersion $version"
done

# A build whose version cannot be read gives no zip.
mkdir -p "$tmp/empty/generated"
output=$("$tmp/tree/scripts/package" --from "$tmp/empty" --native "$native" --out "$tmp/none" 2>&1)
expect "exit code without a version" 1 $?
expect "message without a version" "package: no version in $tmp/empty/generated/version.h: configure the build again" "$output"
[[ ! -e "$tmp/none" ]] || [[ -z "$(ls -A "$tmp/none")" ]] || fail "a zip without a version: $(ls "$tmp/none")"

# The Debian package: its files, their owner and modes, its fields.
expect "files in the package" "$(sed 's/^ *//' <<EOT
  drwxr-xr-x root/root ./
  drwxr-xr-x root/root ./usr/
  drwxr-xr-x root/root ./usr/bin/
  -rwxr-xr-x root/root ./usr/bin/coupler-check
  -rwxr-xr-x root/root ./usr/bin/coupler-i2c
  -rwxr-xr-x root/root ./usr/bin/coupler-report
  -rwxr-xr-x root/root ./usr/bin/coupler-station
  drwxr-xr-x root/root ./usr/share/
  drwxr-xr-x root/root ./usr/share/doc/
  drwxr-xr-x root/root ./usr/share/doc/coupler-tools/
  -rw-r--r-- root/root ./usr/share/doc/coupler-tools/README.md.gz
  -rw-r--r-- root/root ./usr/share/doc/coupler-tools/changelog.gz
  -rw-r--r-- root/root ./usr/share/doc/coupler-tools/copyright
  drwxr-xr-x root/root ./usr/share/lintian/
  drwxr-xr-x root/root ./usr/share/lintian/overrides/
  -rw-r--r-- root/root ./usr/share/lintian/overrides/coupler-tools
  drwxr-xr-x root/root ./usr/share/man/
  drwxr-xr-x root/root ./usr/share/man/man1/
  -rw-r--r-- root/root ./usr/share/man/man1/coupler-check.1.gz
  -rw-r--r-- root/root ./usr/share/man/man1/coupler-i2c.1.gz
  -rw-r--r-- root/root ./usr/share/man/man1/coupler-report.1.gz
  -rw-r--r-- root/root ./usr/share/man/man1/coupler-station.1.gz
EOT
)" "$(dpkg-deb --contents "$deb" | awk '{ print $1, $2, $6 }')"
expect "package fields" "coupler-tools $version electronics optional" \
  "$(dpkg-deb --show --showformat='${Package} ${Version} ${Section} ${Priority}' "$deb")"
# The description and the changelog name every program the package holds.
for program in "${natives[@]}"; do
  [[ $(dpkg-deb --field "$deb" Description) == *"$program "* ]] || fail "description without $program"
  [[ $(dpkg-deb --fsys-tarfile "$deb" | tar -xO ./usr/share/doc/coupler-tools/changelog.gz | zcat) == *"$program"* ]] ||
    fail "changelog without $program"
done
[[ $(dpkg-deb --field "$deb" Depends) == *"libc6 (>= "* ]] || fail "Depends without libc6: $(dpkg-deb --info "$deb")"
expect "lintian" "" "$(cd "$tmp" && lintian "$deb" 2>&1 | grep -v 'root privileges')"
# Unpacked into a scratch root: the programs run from the PATH, and the
# manual pages format without a warning and name every option and command
# of the help, and no other option, each option with an item of its own.
dpkg -x "$deb" "$tmp/root"
# The programs' texts are Windows-1252: bytes, not characters.
words() { LC_ALL=C sed 's/\\-/-/g' | LC_ALL=C grep -ao -- '--[a-z]*' | sort -u | tr '\n' ' '; }
for program in "${natives[@]}"; do
  help=$(PATH="$tmp/root/usr/bin:$PATH" "$program" --help)
  expect "$program --help exit code" 0 $?
  page="$tmp/root/usr/share/man/man1/$program.1.gz"
  [[ -f "$page" ]] || { fail "$program.1 is missing"; continue; }
  expect "$program.1 warnings" "" "$(zcat "$page" | groff -k -man -ww -z 2>&1)"
  options=$(printf '%s\n--help\n' "$help" | words)
  expect "$program.1 options named" "$options" "$(zcat "$page" | words)"
  expect "$program.1 options with an item" "$options" "$(zcat "$page" | sed -n '/^\.TP/{n;p}' | words)"
  for command in $(LC_ALL=C sed -n 's/^  \([a-z]\+\) .*/\1/p' <<<"$help"); do
    zgrep -qw "^\.B[IR]\? \"\?$command" "$page" || fail "$program.1 without the command $command"
  done
done
# Native programs missing, or built with the sanitizers: no zip, no package.
echo 'static const char* const USAGE[] = {"", nullptr};' > "$tmp/usage.cpp"
standin coupler-i2c "$tmp/asan" "$tmp/usage.cpp" -fsanitize=address
for program in coupler-check coupler-station coupler-report; do cp "$tmp/asan/coupler-i2c" "$tmp/asan/$program"; done
while IFS='|' read -r folder message; do
  output=$("$tmp/tree/scripts/package" --from "$build" --native "$folder" --out "$tmp/none" 2>&1)
  expect "exit code, native programs from $folder" 1 $?
  expect "message, native programs from $folder" "$message" "$output"
done <<EOT
$tmp/empty|package: $tmp/empty/coupler-check is missing: build the native programs first (cmake --preset host && cmake --build build-host --target coupler-check coupler-i2c coupler-station coupler-report)
$tmp/asan|package: $tmp/asan/coupler-check is built with the sanitizers: not a program for users
EOT
[[ ! -e "$tmp/none" ]] || [[ -z "$(ls -A "$tmp/none")" ]] || fail "files without the native programs: $(ls "$tmp/none")"

# Usage texts: the script's leading comment, its last line last.
while IFS='|' read -r script last; do
  expect "$script usage, last line" "$last" "$("$src/scripts/$script" --no-such-option 2>&1 | tail -n 1)"
done <<EOT
run|and the tester is closed again.
bench|docs/performance.md records the latest figures.
package|Prints the zip and the package, their sizes and their own SHA-256, then the sums of the files in the zip.
station|exit code 0 when they agree, 1 when they differ, 2 when it could not run.
EOT

# The station's demonstration: the faulty units and the kind of step each
# must fail at; then its judgement of records and a report of six units
# (KP3-0004 faulty), agreeing, and with a report that names one unit more.
expect "station's faulty units" "KP3-0004:bus KP3-0009:check KP3-0013:temperature KP3-0017:eeprom" \
  "$("$src/scripts/station" --list | awk -F'|' '$6 != "" { printf "%s%s:%s", n++ ? " " : "", $1, $6 }')"
mkdir -p "$tmp/station"
for n in 1 2 3 4 5 6; do
  verdict=passed first=null
  [[ $n == 4 ]] && verdict=failed first='"Bausteine"'
  echo "{\"serial\": \"KP3-000$n\", \"verdict\": \"$verdict\", \"first_failed\": $first, \"steps\": [{\"name\": \"Bausteine\", \"kind\": \"bus\"}]}" \
    >>"$tmp/station/platz-$((2 - n % 2)).jsonl"
  echo "KP3-000$n;$verdict" >>"$tmp/station/report.csv"
done
output=$(python3 "$src/scripts/lib/station_demo.py" check 6 "$tmp/station" "$tmp/station/report.csv")
expect "station check of agreeing records and report, exit code" 0 $?
expect "station check, the report's failing units" "station: report.csv failing (by the verdicts of 6 units): KP3-0004" \
  "$(grep report.csv <<<"$output")"
sed -i 's/KP3-0005;passed/KP3-0005;NICHT BESTANDEN/' "$tmp/station/report.csv"
output=$(python3 "$src/scripts/lib/station_demo.py" check 6 "$tmp/station" "$tmp/station/report.csv")
expect "station check of a report with a unit too many, exit code" 1 $?
expect "station check, the difference" "station: DIFFERS: the report's failing units differ: extra KP3-0005, missing none" \
  "$(grep DIFFERS <<<"$output")"

# Device checks: one line that says what is wrong, nothing for a usable device.
source "$src/scripts/lib/device.sh"
touch "$tmp/plain"
while IFS='|' read -r device code message; do
  got=$(device_check COM3 "$device" 2>&1)
  expect "device_check $device exit code" "$code" $?
  expect "device_check $device" "$message" "$got"
done <<EOT
$tmp/ttyUSB9|1|COM3: $tmp/ttyUSB9 does not exist: plug in the adapter (ls /dev/ttyUSB* /dev/ttyACM* lists the adapters there are)
$tmp/plain|1|COM3: $tmp/plain is not a character device: name the adapter's device, for example /dev/ttyUSB0
/dev/null|0|
EOT
# A device the user may not write (root may write anything: checked as
# nobody, who may not read this tree either: the checks go in as text).
as_user=() user=$(id -un)
[[ $(id -u) -eq 0 ]] && as_user=(setpriv --reuid=nobody --regid=nogroup --clear-groups) user=nobody
got=$(cd / && "${as_user[@]}" bash -c "$(cat "$src/scripts/lib/device.sh"); device_check COM4 /dev/kmsg" 2>&1)
expect "device_check without permission exit code" 1 $?
expect "device_check without permission" "COM4: $user cannot open /dev/kmsg for reading and writing: on Debian \
join the dialout group (sudo adduser $user dialout, then log in again)" "$got"

echo "scripts: $failures failures"
[[ $failures -eq 0 ]]
