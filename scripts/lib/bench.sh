# The Wine bench: a private prefix per build folder, one X server and one
# wineserver per run. Sourced by scripts/test and scripts/run.
#
# bench_runs_32bit  whether this machine runs 32-bit programs (Wine needs that
#                for the 32-bit Windows programs)
# bench_runs_wine64 whether Wine's 64-bit loader is installed
# bench_build_64bit whether $BENCH_BUILD holds 64-bit Windows programs (the
#                build of cmake/mingw-x86_64.cmake, tested where 32-bit cannot run)
# bench_lock     one run at a time per build folder (they share the prefix and
#                its server): waits for the lock, saying every few seconds what
#                holds it; no process the run starts inherits it
# bench_unlock   lets it go; safe to call twice (it also goes when the script ends)
# bench_prefix   creates build/wineprefix once (and keeps it); a prefix whose
#                set-up did not finish is removed and made again
# bench_start    starts Xvfb (unless told to use $DISPLAY) and a persistent wineserver
# bench_stop     stops only what bench_start started; safe to call twice

BENCH_ROOT=${BENCH_ROOT:-$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)}
BENCH_BUILD=${BENCH_BUILD:-$BENCH_ROOT/build}

export WINEPREFIX="$BENCH_BUILD/wineprefix"
export WINEARCH=win64
export WINEDEBUG=-all
# Mono and Gecko are not needed; this also keeps wineboot from asking for them.
export WINEDLLOVERRIDES="mscoree,mshtml="

BENCH_XVFB_PID=""
BENCH_STARTED_SERVER=0
BENCH_LOCK_PID=""  # the process that holds the lock for this script (bench_lock)

# Every serial port a prefix knows is set explicitly: COM1..COM20 point at an
# existing directory, which makes CreateFileA fail as for a missing port on
# Windows (an empty value would still give a handle). The host's own ports are
# so pushed above COM20, and no test or run ever opens a device of the host.
bench_port_settings() {
  local absent="$WINEPREFIX/absent-port" n
  mkdir -p "$absent"
  {
    printf 'REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\Software\\Wine\\Ports]\n'
    for n in $(seq 1 20); do
      printf '"COM%d"="%s"\n' "$n" "$absent"
    done
    # Without a window manager Wine waits about 2 s whenever a managed window
    # hides (every closed message box); unmanaged windows do not.
    printf '\n[HKEY_CURRENT_USER\\Software\\Wine\\X11 Driver]\n"Managed"="N"\n'
  } > "$WINEPREFIX/bench-settings.reg"
  wine regedit /S "$WINEPREFIX/bench-settings.reg" >/dev/null 2>&1
}

# Some kernels are built or booted without i386 support: there every 32-bit
# executable, Wine's loader among them, fails with "Exec format error".
bench_runs_32bit() {
  /lib/ld-linux.so.2 --version >/dev/null 2>&1
}

bench_runs_wine64() {
  [[ -x /usr/lib/wine/wine64 ]]
}

bench_build_64bit() {
  grep -q '^CMAKE_TOOLCHAIN_FILE:.*/mingw-x86_64\.cmake$' "$BENCH_BUILD/CMakeCache.txt" 2>/dev/null
}

# Where 32-bit cannot run, every wine command of the bench, its scripts and the
# virtual coupler's daemon goes to the 64-bit loader, and so does every
# process Wine starts.
if ! bench_runs_32bit && bench_runs_wine64; then
  case ":$PATH:" in
    *":$BENCH_ROOT/scripts/lib/wine64:"*) ;;
    *) export PATH="$BENCH_ROOT/scripts/lib/wine64:$PATH" ;;
  esac
  export WINELOADER=/usr/lib/wine/wine64
fi

# The processes that have FILE open or hold a lock on it, "PID (command)"
# each, leaving out this script and its own holder.
_bench_holders() {
  local file=$1 inode pid fd seen=" $$ $BASHPID ${BENCH_LOCK_PID:-} " out=""
  inode=$(stat -c %i "$file" 2>/dev/null) || return 0
  # /proc/locks names the process that took the lock, which may have ended
  # while a child it started keeps the descriptor.
  for pid in $(awk -v inode=":$inode" 'index($6, inode) && substr($6, length($6) - length(inode) + 1) == inode { print $5 }' /proc/locks 2>/dev/null) \
    $(find /proc/[0-9]*/fd -maxdepth 1 -lname "$file" 2>/dev/null | cut -d/ -f3); do
    [[ "$seen" == *" $pid "* || ! -e /proc/$pid/cmdline ]] && continue
    seen+="$pid "
    # This script's own holder waiting for its turn is not a holder.
    [[ -n "${BENCH_LOCK_PID:-}" && "$(awk '/^PPid:/ { print $2 }' "/proc/$pid/status" 2>/dev/null)" == "$BENCH_LOCK_PID" ]] &&
      continue
    local command
    command=$(tr '\0' ' ' <"/proc/$pid/cmdline" 2>/dev/null | cut -c1-80 | sed 's/ *$//')
    # Another run's holder: the run it holds the lock for.
    [[ "$command" =~ ^tail\ --pid=([0-9]+) ]] &&
      command="for ${BASH_REMATCH[1]}: $(tr '\0' ' ' <"/proc/${BASH_REMATCH[1]}/cmdline" 2>/dev/null | cut -c1-80)"
    out+="${out:+, }$pid ($command)"
  done
  echo "${out:-nobody seen}"
}

bench_lock() {
  local lock="$BENCH_BUILD/.bench.lock" taken tenths=0
  mkdir -p "$BENCH_BUILD"
  : >>"$lock"
  taken=$(mktemp -u "$BENCH_BUILD/.bench.taken.XXXXXX")
  # A holder of its own takes the lock and keeps it until this script ends
  # (tail --pid): the descriptor stays there, so no server, daemon or Wine
  # helper this script starts can keep the lock after it.
  ( exec 9>>"$lock" </dev/null >/dev/null 2>&1
    flock 9 && : >"$taken" && exec tail --pid=$$ -f /dev/null ) &
  BENCH_LOCK_PID=$!
  while [[ ! -e "$taken" ]]; do
    if ! kill -0 "$BENCH_LOCK_PID" 2>/dev/null; then
      echo "bench: could not take $lock" >&2
      BENCH_LOCK_PID=""
      return 1
    fi
    # After a second, then every five, what holds it.
    if (( tenths % 50 == 10 )); then
      echo "bench: waiting $((tenths / 10)) s for $lock, held by: $(_bench_holders "$lock")" >&2
    fi
    sleep 0.1
    tenths=$((tenths + 1))
  done
  rm -f "$taken"
}

bench_unlock() {
  if [[ -n "$BENCH_LOCK_PID" ]]; then
    kill "$BENCH_LOCK_PID" 2>/dev/null || true
    wait "$BENCH_LOCK_PID" 2>/dev/null || true
    BENCH_LOCK_PID=""
  fi
}

# The marker is written only after a complete set-up (wineboot done, its
# helpers ended, the system's DLLs in place); a prefix without it is half made
# (an interrupted or hung set-up) and is made again, never used. A set-up that
# hangs is ended after 5 minutes with everything it started.
bench_prefix() {
  if [[ -f "$WINEPREFIX/.bench-ready" ]]; then
    return 0
  fi
  echo "bench: creating the Wine prefix $WINEPREFIX (once, about 20 s)" >&2
  wineserver -k >/dev/null 2>&1 || true
  rm -rf "$WINEPREFIX"
  mkdir -p "$WINEPREFIX"
  BENCH_STARTED_SERVER=1  # bench_stop ends the set-up's processes if the script is stopped
  local made=0
  if DISPLAY= timeout 300 wine wineboot -i >/dev/null 2>&1 && timeout 120 wineserver -w; then
    bench_port_settings
    timeout 120 wineserver -w && made=1
  fi
  BENCH_STARTED_SERVER=0
  if [[ $made -eq 0 || ! -f "$WINEPREFIX/drive_c/windows/system32/kernel32.dll" ]]; then
    echo "bench: the set-up of $WINEPREFIX did not finish; removed, the next run makes it again" >&2
    wineserver -k >/dev/null 2>&1 || true
    rm -rf "$WINEPREFIX"
    return 1
  fi
  touch "$WINEPREFIX/.bench-ready"
}

# bench_start [--use-display]: with --use-display and a $DISPLAY, windows open
# there; otherwise a private Xvfb is started.
bench_start() {
  local wine=0
  if bench_runs_32bit || bench_build_64bit; then
    bench_prefix
    wine=1
  else
    # The virtual coupler still serves the native programs.
    mkdir -p "$WINEPREFIX/dosdevices"
  fi
  if [[ "${1:-}" == "--use-display" && -n "${DISPLAY:-}" ]]; then
    :
  else
    local fifo
    fifo=$(mktemp -u)
    mkfifo "$fifo"
    Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$fifo" >/dev/null 2>&1 &
    BENCH_XVFB_PID=$!
    local number
    read -r -t 20 number <"$fifo" || true
    rm -f "$fifo"
    if [[ -z "$number" ]]; then
      echo "bench: Xvfb did not start" >&2
      return 1
    fi
    export DISPLAY=":$number"
  fi
  # Serial port mappings are read when the prefix's server starts; the
  # virtual coupler (if built) maps its ports before that.
  if declare -F coupler_start >/dev/null; then
    coupler_start >/dev/null
  fi
  if [[ $wine -eq 1 ]]; then
    wineserver -p >/dev/null 2>&1
    BENCH_STARTED_SERVER=1
    # Start the prefix's services once, so the first test does not pay for them.
    wine cmd /c exit 0 >/dev/null 2>&1 || true
  fi
}

bench_stop() {
  if [[ $BENCH_STARTED_SERVER -eq 1 ]]; then
    wineserver -k >/dev/null 2>&1 || true
    wineserver -w >/dev/null 2>&1 || true
    BENCH_STARTED_SERVER=0
  fi
  if declare -F coupler_stop >/dev/null; then
    coupler_stop
  fi
  if [[ -n "$BENCH_XVFB_PID" ]]; then
    kill "$BENCH_XVFB_PID" 2>/dev/null || true
    wait "$BENCH_XVFB_PID" 2>/dev/null || true
    BENCH_XVFB_PID=""
  fi
  bench_unlock
}

# The coupler's bench functions, when the virtual coupler is part of the tree.
if [[ -f "$BENCH_ROOT/scripts/lib/coupler.sh" ]]; then
  # shellcheck source=/dev/null
  source "$BENCH_ROOT/scripts/lib/coupler.sh"
fi
