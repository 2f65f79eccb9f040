#!/usr/bin/env bash
# Installs what is missing, builds, starts the simulated device on 127.0.0.1
# and the tool in demo-run/, whose KestTools.ini points at the simulator.
# Usage: scripts/demo.sh [RECORDING]
#   RECORDING, a record file or a folder of them (as 打开数据存储 writes), is
#   played by the simulator on its stream and collection ports instead of its
#   own passage scene.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
replay=()
if [ $# -gt 1 ]; then
  echo "usage: scripts/demo.sh [RECORDING]" >&2
  exit 2
elif [ $# -eq 1 ]; then
  if [ ! -e "$1" ]; then
    echo "scripts/demo.sh: no such file or folder: $1" >&2
    exit 2
  fi
  replay=(--replay "$(realpath "$1")")
fi
"$root/scripts/install-deps.sh"
"$root/scripts/build.sh" build

run="$root/demo-run"
mkdir -p "$run"
if [ ! -f "$run/KestTools.ini" ]; then
  printf '[Baseinfo]\r\nHisIp=127.0.0.1\r\nAlgShowPasswd=0\r\n' > "$run/KestTools.ini"
fi

"$root/build/sim/KestDeviceSim" --address 127.0.0.1 "${replay[@]}" > "$run/sim.log" 2>&1 &
sim=$!
trap 'kill -INT $sim 2>/dev/null; wait $sim 2>/dev/null || true' EXIT
# The simulator refuses a recording it cannot play at once: show why.
until grep -q "running" "$run/sim.log"; do
  if ! kill -0 "$sim" 2>/dev/null; then
    cat "$run/sim.log" >&2
    trap - EXIT
    wait "$sim" || exit $?
    exit 1
  fi
  sleep 0.1
done
echo "KestDeviceSim runs on 127.0.0.1 (log: $run/sim.log)${replay:+, playing ${replay[1]}}"

cd "$run"
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "No display found: running the tool under xvfb-run."
  xvfb-run -a -s "-screen 0 1920x1080x24" "$root/build/tool/KestTools"
else
  "$root/build/tool/KestTools"
fi
