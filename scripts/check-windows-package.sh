#!/usr/bin/env bash
# End-to-end check of the Windows package: unpacks KestSdk_Win-windows-x64.zip
# into an empty folder, builds its sample client with the mingw-w64 compiler
# against nothing but the unpacked files, and runs it under Wine against the
# Linux KestDeviceSim. Passes when the client received pushes and a response
# to each of its three commands.
# Usage: scripts/check-windows-package.sh <zip> <KestDeviceSim> [address]
set -euo pipefail
zip=$(realpath "$1")
sim=$(realpath "$2")
address=${3:-127.0.12.1}
wine=/usr/lib/wine/wine64
wineserver=/usr/lib/wine/wineserver
export WINEPREFIX=${WINEPREFIX:-$(dirname "$zip")/wine}
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
unset WINEPATH

work=$(mktemp -d)
sim_pid=""
cleanup() {
  if [ -n "$sim_pid" ]; then kill "$sim_pid" 2>/dev/null || true; wait "$sim_pid" 2>/dev/null || true; fi
  "$wineserver" -k >/dev/null 2>&1 || true
  "$wineserver" -w >/dev/null 2>&1 || true  # until it and its processes are gone
  rm -rf "$work"
}
trap cleanup EXIT

# Wine's background processes keep the streams they inherit: give them none.
mkdir -p "$WINEPREFIX"  # the server needs the folder; wineboot fills it
"$wineserver" -p >/dev/null 2>&1 </dev/null || [ $? -eq 2 ] || { echo "wineserver did not start"; exit 1; }  # 2: one runs already
"$wine" wineboot >/dev/null 2>&1 </dev/null || { echo "wineboot failed"; exit 1; }

cd "$work"
unzip -q "$zip"
cd KestSdk_Win-windows-x64
# The build line of the package's README.
x86_64-w64-mingw32-g++-posix -std=c++17 -O2 -Iinclude sample/client.cpp -Llib -lKestSdk_Win \
  -o bin/client.exe

"$sim" --address "$address" --push-ms 200 >"$work/sim.log" 2>&1 &
sim_pid=$!
for _ in $(seq 50); do
  grep -q "running" "$work/sim.log" && break
  sleep 0.1
done
grep -q "running" "$work/sim.log" || { cat "$work/sim.log"; echo "simulator did not start"; exit 1; }

rc=0
"$wine" bin/client.exe "$address" 12580 20 >"$work/client.log" 2>&1 </dev/null || rc=$?
tr -d '\r' <"$work/client.log" | grep -E "^(push|response):|^pushes:" | head -8
summary=$(tr -d '\r' <"$work/client.log" | grep "^pushes:" || true)
responses=$(echo "$summary" | sed -n 's/.*responses: \([0-9]*\).*/\1/p')
if [ "$rc" -ne 0 ] || [ -z "$responses" ] || [ "$responses" -lt 3 ]; then
  echo "--- client output"; cat "$work/client.log"
  echo "--- simulator output"; cat "$work/sim.log"
  echo "Windows package check FAILED (client exit code $rc)"
  exit 1
fi
echo "Windows package check passed: $summary"
