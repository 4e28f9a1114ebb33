#!/usr/bin/env bash
# The shipped 32-bit programs and the 64-bit ones the Windows suites run
# (where this machine runs no 32-bit program) import the same functions from
# the same DLLs and carry the same resources, so that what the suites prove
# of one holds for the other. Names that differ by pointer width only count
# as one (the 32-bit headers map SetWindowLongPtrA to SetWindowLongA); the C
# runtime's own imports that differ by processor are left out.
#   tests/widths.sh BUILD32 BUILD64     (77: skipped, no 64-bit build)
set -uo pipefail
b32=$1 b64=$2
programs=(coupler-tester coupler-check coupler-i2c)
for p in "${programs[@]}"; do
  [[ -f "$b64/$p.exe" ]] || { echo "widths: no 64-bit $p.exe in $b64: skipped"; exit 77; }
done

# What the C runtime and the compiler's libraries import for one processor
# only (start-up, exception unwinding, their locale): not the program's own.
# Left out of both widths' lists: a program's own call of one goes unseen.
runtime32='KERNEL32.DLL (FreeLibrary|GetModuleHandleA|LoadLibraryA)|MSVCRT.DLL (__p__(acmdln|commode|fmode)|__mb_cur_max|_iob|_setjmp3|setlocale|strchr)'
runtime64='KERNEL32.DLL (Rtl(CaptureContext|LookupFunctionEntry|UnwindEx|VirtualUnwind)|__C_specific_handler)|MSVCRT.DLL (___lc_codepage_func|___mb_cur_max_func|__iob_func|_acmdln|_commode|_fmode|_setjmp)'
runtime="$runtime32|$runtime64"
# "DLL function" per import, names reduced to the 32-bit one: imports
# OBJDUMP PROGRAM RUNTIME.
imports() {
  "$1" -p "$2" | awk '/DLL Name:/ { dll = toupper($3) } dll && /^\t[0-9a-f]+\t/ { print dll, $3 }' |
    sed -E 's/LongPtr([AW]?)$/Long\1/' | grep -vxE "$3" | sort -u
}
# "type/name/language size" per resource.
resources() {
  "$1" -p "$2" | sed -n '/The .rsrc Resource Directory section/,/^$/p' |
    awk '/Entry:/ { level = index($0, "Entry:"); entry = $0; sub(/.*Entry: /, "", entry); sub(/, Value.*/, "", entry)
                    while (depth > 0 && at[depth] >= level) depth--
                    at[++depth] = level; key[depth] = entry }
         /Leaf:/  { path = ""; for (i = 1; i <= depth; i++) path = path "/" key[i]
                    size = $0; sub(/.*Size: /, "", size); sub(/,.*/, "", size); print path, size }' | sort
}

failures=0
for p in "${programs[@]}"; do
  for what in imports resources; do
    one=$($what i686-w64-mingw32-objdump "$b32/$p.exe" "$runtime")
    other=$($what x86_64-w64-mingw32-objdump "$b64/$p.exe" "$runtime")
    if [[ -z "$one" ]]; then
      echo "FAIL: $p: no $what read from the 32-bit program"; failures=$((failures + 1))
    elif [[ "$one" != "$other" ]]; then
      echo "FAIL: $p: $what differ (< 32-bit, > 64-bit):"
      diff <(echo "$one") <(echo "$other") | grep '^[<>]'
      failures=$((failures + 1))
    else
      echo "widths: $p: $(echo "$one" | wc -l) $what alike"
    fi
  done
done
[[ $failures -eq 0 ]]
