#!/usr/bin/env bash
# The package script on the programs of a finished build, and the device
# checks of scripts/lib/device.sh.   tests/scripts.sh BUILD_FOLDER
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
printf '\xEF\xBB\xBFErste Zeile\r\n\r\nK\xC3\xBCrzer\r\n' > "$tmp/tree/docs/package/README.txt"
version=$(sed -n 's/^project([a-z_]* VERSION \([0-9.]*\) .*/\1/p' "$src/CMakeLists.txt")
name="coupler-tester-$version-win32"

output=$("$tmp/tree/scripts/package" --from "$build" --out "$tmp/dist" 2>&1)
expect "package exit code" 0 $?
zip="$tmp/dist/$name.zip"
expect "line with the zip's own SHA-256" "package: SHA-256 of the zip: $(sha256sum "$zip" | cut -d' ' -f1)" \
  "$(grep 'SHA-256 of the zip' <<<"$output")"
mkdir "$tmp/x" && (cd "$tmp/x" && python3 -m zipfile -e "$zip" .)
expect "files in the zip" "LIESMICH-README.txt SHA256SUMS.txt coupler-check.exe coupler-i2c.exe coupler-tester.exe" \
  "$(cd "$tmp/x/$name" && echo *)"
expect "sums checked against the zip's files" \
  "coupler-tester.exe: OK coupler-check.exe: OK coupler-i2c.exe: OK LIESMICH-README.txt: OK" \
  "$(cd "$tmp/x/$name" && sha256sum -c SHA256SUMS.txt 2>&1 | tr '\n' ' ' | sed 's/ $//')"
expect "read-me bytes" "efbbbf4572737465205a65696c650d0a0d0a4bc3bc727a65720d0a" \
  "$(od -An -tx1 "$tmp/x/$name/LIESMICH-README.txt" | tr -d ' \n')"
# The version in each program's file properties (UTF-16 in the resource).
for exe in coupler-tester.exe coupler-check.exe coupler-i2c.exe; do
  python3 -c 'import re, sys; u=lambda t: re.escape(t.encode("utf-16-le"))
sys.exit(not re.search(u("FileVersion\0") + b"(\0\0)?" + u(sys.argv[2] + "\0"), open(sys.argv[1], "rb").read()))' \
    "$tmp/x/$name/$exe" "$version" || fail "$exe: no FileVersion $version"
done

# A build whose version cannot be read gives no zip.
mkdir -p "$tmp/empty/generated"
output=$("$tmp/tree/scripts/package" --from "$tmp/empty" --out "$tmp/none" 2>&1)
expect "exit code without a version" 1 $?
expect "message without a version" "package: no version in $tmp/empty/generated/version.h: configure the build again" "$output"
[[ ! -e "$tmp/none" ]] || [[ -z "$(ls -A "$tmp/none")" ]] || fail "a zip without a version: $(ls "$tmp/none")"

# Usage texts: the script's leading comment, its last line last.
while IFS='|' read -r script last; do
  expect "$script usage, last line" "$last" "$("$src/scripts/$script" --no-such-option 2>&1 | tail -n 1)"
done <<EOT
run|and the tester is closed again.
bench|docs/performance.md records the latest figures.
package|Prints the zip, its size, its own SHA-256 and the sums of the files in it.
EOT

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
