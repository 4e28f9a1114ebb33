# Runs one of the console programs on a virtual coupler or on an adapter, and
# exits with the program's exit code: the native build (build-host/) by
# default, the Windows one under Wine with --wine. Sourced by scripts/check
# and scripts/i2c (needs root set to the checkout).
#
# console_run NAME TARGET "VALUED" [DAEMON OPTION...] -- [ARGUMENT...]
#   NAME     the word error lines begin with ("check")
#   TARGET   the program's build target (coupler-check)
#   VALUED   the program's options that take a value, blank-separated: their
#            value is never taken for the port
#   DAEMON   options for the virtual coupler's daemon (--chips all ...)
# Of the arguments, --wine runs the Windows program; --port COMn=/dev/DEVICE
# takes a real adapter instead of the virtual coupler; --fault, --adapter,
# --chips, --write-protect and --temperature go to the virtual coupler; a
# whole word COMn (also "COM3:") is the port,
# COM3 when none is given; everything else goes to the program. The native
# program gets the device instead of COMn: the virtual coupler's
# pseudo-terminal (with its 64-bit preload library), or DEVICE.

console_run() {
  local name=$1 target=$2 valued=" $3 "
  shift 3
  local extra=()
  while [[ $# -gt 0 && "$1" != -- ]]; do extra+=("$1"); shift; done
  [[ $# -gt 0 ]] && shift
  local com=COM3 device="" daemon=() args=() port_given=0 wine=0 ports=()
  while [[ $# -gt 0 ]]; do
    case "$1" in
      --wine) wine=1; shift ;;
      --port)
        [[ $# -ge 2 && "$2" =~ ^([Cc][Oo][Mm])([1-9]|1[0-9]|20)=(/.+)$ ]] || {
          echo "$name: --port takes COMn=/dev/device with n from 1 to 20" >&2; exit 2; }
        com="COM${BASH_REMATCH[2]}" device=${BASH_REMATCH[3]}
        shift 2 ;;
      --fault|--adapter|--chips|--write-protect|--temperature)
        [[ $# -ge 2 ]] || { echo "$name: $1 takes a value" >&2; exit 2; }
        daemon+=("$1" "$2")
        shift 2 ;;
      --list|--help) port_given=1; args+=("$1"); shift ;;
      *)
        if [[ "$valued" == *" $1 "* ]]; then
          args+=("$1"); shift
          if [[ $# -gt 0 ]]; then args+=("$1"); shift; fi
          continue
        fi
        if [[ "$1" =~ ^[Cc][Oo][Mm][0-9]+:?$ ]]; then
          # The virtual coupler serves COM1 to COM20; the program judges the rest.
          port_given=1
          if [[ "$1" =~ ^[Cc][Oo][Mm]([1-9]|1[0-9]|20):?$ ]]; then
            com="COM${BASH_REMATCH[1]}"
            ports+=(${#args[@]})
          fi
        fi
        args+=("$1"); shift ;;
    esac
  done
  if [[ $port_given -eq 0 ]]; then
    args=("$com" "${args[@]}")
    ports=(0)
  fi
  if [[ -n "$device" && ${#daemon[@]} -gt 0 ]]; then
    echo "$name: --fault, --adapter, --chips, --write-protect and --temperature need the virtual coupler, not --port" >&2
    exit 2
  fi

  source "$root/scripts/lib/device.sh"
  if [[ -n "$device" ]]; then
    device_check "$com" "$device" || exit 2
  fi

  # A native run needs neither Wine nor MinGW.
  if [[ $wine -eq 1 ]]; then
    "$root/scripts/setup"
  else
    "$root/scripts/setup" --native
  fi
  BENCH_ROOT=$root
  source "$root/scripts/lib/build.sh"
  if [[ $wine -eq 1 ]]; then
    build_all "$target" >/dev/null
  else
    build_host "$target" >/dev/null
    coupler_build native
  fi

  source "$root/scripts/lib/bench.sh"
  if [[ $wine -eq 1 ]] && ! bench_runs_32bit && bench_runs_wine64; then
    # As the test run does: the same sources built as a 64-bit program.
    build_win64 "$target" >/dev/null
    BENCH_BUILD=$WIN64_BUILD
    source "$root/scripts/lib/bench.sh"
    COUPLER_DIR="$BENCH_BUILD/coupler"
    coupler_build
  fi
  trap bench_unlock EXIT
  bench_lock || exit 2
  if [[ $wine -eq 0 ]]; then
    # The daemon puts its ports into the prefix's folder; a native program needs no Wine there.
    mkdir -p "$WINEPREFIX/dosdevices"
  elif bench_runs_32bit || bench_build_64bit; then
    bench_prefix
  else
    echo "$name: this machine does not run 32-bit programs (Exec format error): --wine cannot run here" >&2
    exit 2
  fi

  CONSOLE_DAEMON_PID="" CONSOLE_DEVICE=
  [[ $wine -eq 0 ]] || CONSOLE_DEVICE=$device
  trap _console_cleanup EXIT
  if [[ -n "$device" ]]; then
    [[ $wine -eq 0 ]] || device_map "$com" "$device"
  else
    # The virtual coupler comes first, so that the port is in place when the
    # prefix's server starts.
    local state="$COUPLER_DIR/$name-state" log="$COUPLER_DIR/$name-daemon.log"
    rm -f "$state.ports"
    "$COUPLER_DIR/vcoupler-daemon" --state "$state" --prefix "$WINEPREFIX" --ports "${com#COM}" \
      --absent "$COUPLER_DIR/absent" --present "${extra[@]}" "${daemon[@]}" </dev/null >"$log" 2>&1 &
    CONSOLE_DAEMON_PID=$!
    local _
    for _ in $(seq 1 100); do
      [[ -f "$state.ports" ]] || ! kill -0 "$CONSOLE_DAEMON_PID" 2>/dev/null && break
      sleep 0.05
    done
    if [[ ! -f "$state.ports" ]]; then
      echo "$name: the virtual coupler did not start:" >&2
      cat "$log" >&2
      exit 2
    fi
    export COUPLER_STATE="$state"
  fi

  local code=0
  if [[ $wine -eq 0 ]]; then
    # The port word becomes the device: the adapter's, or the pseudo-terminal
    # the virtual coupler serves as COMn ("COM3 /dev/pts/K" in its list).
    local native=${device:-$(awk -v com="$com" '$1 == com { print $2 }' "$COUPLER_DIR/$name-state.ports")} at
    for at in "${ports[@]}"; do args[$at]=$native; done
    if [[ -z "$device" ]]; then
      LD_PRELOAD="$COUPLER_DIR/lib/x86_64-linux-gnu/libvcoupler.so" "$HOST_BUILD/$target" "${args[@]}" || code=$?
    else
      "$HOST_BUILD/$target" "${args[@]}" || code=$?
    fi
    exit "$code"
  fi
  [[ -n "$device" ]] || export LD_PRELOAD="$COUPLER_PRELOAD"
  wineserver -p >/dev/null 2>&1
  wine cmd /c exit 0 >/dev/null 2>&1 || true
  wine "$BENCH_BUILD/$target.exe" "${args[@]}" || code=$?
  exit "$code"
}

_console_cleanup() {
  if [[ -n "$CONSOLE_DAEMON_PID" ]]; then
    kill "$CONSOLE_DAEMON_PID" 2>/dev/null || true
    wait "$CONSOLE_DAEMON_PID" 2>/dev/null || true
  fi
  # The prefix keeps no host device.
  [[ -z "$CONSOLE_DEVICE" ]] || bench_port_settings
  wineserver -k >/dev/null 2>&1 || true
  bench_unlock
}
