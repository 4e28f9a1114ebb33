# Real serial adapters for the programs under Wine. Sourced by scripts/run and
# scripts/check (needs WINEPREFIX for device_map).
#
# device_check COMn DEVICE  true when DEVICE can serve as COMn; otherwise one
#                           line on stderr saying what is wrong and what to do
# device_map COMn DEVICE    maps COMn to DEVICE in the prefix's registry and
#                           restarts the prefix's server, which reads it

device_check() {
  local com=$1 device=$2 user
  user=$(id -un)
  if [[ ! -e "$device" ]]; then
    echo "$com: $device does not exist: plug in the adapter (ls /dev/ttyUSB* /dev/ttyACM* lists the adapters there are)" >&2
    return 1
  fi
  if [[ ! -c "$device" ]]; then
    echo "$com: $device is not a character device: name the adapter's device, for example /dev/ttyUSB0" >&2
    return 1
  fi
  if [[ ! -r "$device" || ! -w "$device" ]]; then
    echo "$com: $user cannot open $device for reading and writing: on Debian join the dialout group (sudo adduser $user dialout, then log in again)" >&2
    return 1
  fi
}

device_map() {
  wine reg add 'HKLM\Software\Wine\Ports' /v "$1" /d "$2" /f >/dev/null 2>&1
  wineserver -k >/dev/null 2>&1 || true
  wineserver -w
}
