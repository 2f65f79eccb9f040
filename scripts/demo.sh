#!/usr/bin/env bash
# Installs what is missing, builds, starts the simulated device on 127.0.0.1
# and the tool in demo-run/, whose KestTools.ini points at the simulator.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/install-deps.sh"
"$root/scripts/build.sh" build

run="$root/demo-run"
mkdir -p "$run"
if [ ! -f "$run/KestTools.ini" ]; then
  printf '[Baseinfo]\r\nHisIp=127.0.0.1\r\nAlgShowPasswd=0\r\n' > "$run/KestTools.ini"
fi

"$root/build/sim/KestDeviceSim" --address 127.0.0.1 > "$run/sim.log" 2>&1 &
sim=$!
trap 'kill -INT $sim 2>/dev/null; wait $sim 2>/dev/null || true' EXIT
echo "KestDeviceSim runs on 127.0.0.1 (log: $run/sim.log)"

cd "$run"
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "No display found: running the tool under xvfb-run."
  xvfb-run -a -s "-screen 0 1920x1080x24" "$root/build/tool/KestTools"
else
  "$root/build/tool/KestTools"
fi
