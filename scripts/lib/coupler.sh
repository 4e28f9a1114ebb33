# The virtual coupler on the bench: pseudo-terminals that look like serial
# ports COM1..COM20 with a coupler attached, for the programs under Wine.
# Sourced by the bench scripts (needs BENCH_ROOT and BENCH_BUILD).
#
# coupler_build   builds the daemon and the preload library into build/coupler/
#                 with the host compiler, and the toggle-lines.exe try-out
#                 program with MinGW; does nothing when they are up to date.
#                 coupler_build native: only the daemon and the 64-bit library,
#                 what a native program on the virtual coupler needs
# coupler_start   starts the daemon for $WINEPREFIX, exports COUPLER_STATE (the
#                 state file the tests' client and the preload library use) and
#                 LD_PRELOAD, and prints the LD_PRELOAD value
# coupler_stop    stops only the daemon coupler_start started; safe to call twice

COUPLER_SOURCE="$BENCH_ROOT/tools/virtual-coupler"
COUPLER_DIR="$BENCH_BUILD/coupler"
# The preload library for every Wine process. ld.so replaces $LIB by the
# process's library folder (lib/i386-linux-gnu or lib/x86_64-linux-gnu on
# Debian), so 32-bit programs get the 32-bit build and 64-bit helpers (such as
# the wineserver) a 64-bit one, and neither complains about the other.
COUPLER_PRELOAD="$COUPLER_DIR/\$LIB/libvcoupler.so"
COUPLER_DAEMON_PID=""
COUPLER_SAVED_PRELOAD=""

# _coupler_stale TARGET SOURCE...: true when TARGET is missing or older than a source.
_coupler_stale() {
  local target=$1 source
  shift
  [[ -f "$target" ]] || return 0
  for source in "$@"; do
    [[ "$source" -nt "$target" ]] && return 0
  done
  return 1
}

coupler_build() {
  local flags="-O2 -Wall -Wextra" src="$COUPLER_SOURCE" native=0
  [[ "${1:-}" != native ]] || native=1
  # The coupler model and the I2C bus are C, shared by the daemon and the library.
  local shared=("$src/model.c" "$src/bus.c" "$src/bus_decoder.c" "$src/bus_chips.c")
  local headers=("$src/coupler_state.h" "$src/model.h" "$src/bus.h" "$src/bus_decoder.h" "$src/bus_chips.h"
    "$src/faults.h")
  mkdir -p "$COUPLER_DIR/lib/i386-linux-gnu" "$COUPLER_DIR/lib/x86_64-linux-gnu"
  # The daemon by concern (daemon.h names its modules).
  local daemon=("$src/daemon.cpp" "$src/daemon_ptys.cpp" "$src/daemon_server.cpp" "$src/daemon_view.cpp"
    "$src/daemon_trace.cpp")
  if _coupler_stale "$COUPLER_DIR/vcoupler-daemon" "${daemon[@]}" "$src/daemon.h" "${shared[@]}" "${headers[@]}"; then
    local source objects=()
    for source in "${shared[@]}"; do
      objects+=("$COUPLER_DIR/$(basename "$source" .c).o")
      gcc -std=gnu11 $flags -c "$source" -o "${objects[-1]}" || return 1
    done
    g++ -std=c++17 $flags -o "$COUPLER_DIR/vcoupler-daemon" "${daemon[@]}" "${objects[@]}" -pthread || return 1
  fi
  local bits folder
  for bits in 32 64; do
    [[ $bits == 32 && $native -eq 1 ]] && continue
    [[ $bits == 32 ]] && folder=i386-linux-gnu || folder=x86_64-linux-gnu
    if _coupler_stale "$COUPLER_DIR/lib/$folder/libvcoupler.so" "$src/preload.c" "${shared[@]}" "${headers[@]}"; then
      gcc -std=gnu11 -m$bits -shared -fPIC $flags -o "$COUPLER_DIR/lib/$folder/libvcoupler.so" \
        "$src/preload.c" "${shared[@]}" -ldl -pthread || return 1
    fi
  done
  if [[ $native -eq 0 ]] && _coupler_stale "$COUPLER_DIR/toggle-lines.exe" "$src/toggle_lines.c"; then
    i686-w64-mingw32-gcc-posix $flags -static -o "$COUPLER_DIR/toggle-lines.exe" \
      "$src/toggle_lines.c" || return 1
  fi
}

coupler_start() {
  if [[ -z "${WINEPREFIX:-}" ]]; then
    echo "coupler: WINEPREFIX is not set" >&2
    return 1
  fi
  coupler_build || return 1
  rm -f "$COUPLER_DIR/state.ports"
  "$COUPLER_DIR/vcoupler-daemon" --state "$COUPLER_DIR/state" --prefix "$WINEPREFIX" \
    --ports 1-20 --absent "$COUPLER_DIR/absent" </dev/null >"$COUPLER_DIR/daemon.log" 2>&1 &
  COUPLER_DAEMON_PID=$!
  # The daemon lists its ports once everything is in place.
  local i
  for i in $(seq 1 100); do
    [[ -f "$COUPLER_DIR/state.ports" ]] && break
    if ! kill -0 "$COUPLER_DAEMON_PID" 2>/dev/null; then
      echo "coupler: the daemon stopped:" >&2
      cat "$COUPLER_DIR/daemon.log" >&2
      COUPLER_DAEMON_PID=""
      return 1
    fi
    sleep 0.05
  done
  export COUPLER_STATE="$COUPLER_DIR/state"
  COUPLER_SAVED_PRELOAD="${LD_PRELOAD:-}"
  export LD_PRELOAD="$COUPLER_PRELOAD${COUPLER_SAVED_PRELOAD:+ $COUPLER_SAVED_PRELOAD}"
  echo "$COUPLER_PRELOAD"
}

coupler_stop() {
  if [[ -n "$COUPLER_DAEMON_PID" ]]; then
    kill "$COUPLER_DAEMON_PID" 2>/dev/null || true
    wait "$COUPLER_DAEMON_PID" 2>/dev/null || true
    COUPLER_DAEMON_PID=""
    if [[ -n "$COUPLER_SAVED_PRELOAD" ]]; then
      export LD_PRELOAD="$COUPLER_SAVED_PRELOAD"
    else
      unset LD_PRELOAD
    fi
    unset COUPLER_STATE
  fi
}
