#!/usr/bin/env bash
# CPU of the whole KestTools process per frame, as a user feels it: the tool
# on a virtual display, logged in to KestDeviceSim streaming at 25 frames/s,
# with 打开流 and 打开目标显示 pressed (and 打开3V模式 with KEST_WITH_3D=1; on a
# virtual display OpenGL is Mesa's software renderer, whose threads count
# too). Process CPU time (user + system) over
# the measured seconds, divided by the frames the receiver traced meanwhile.
# Needs xvfb-run's Xvfb and xdotool (apt-get install xdotool).
#   bench/process_cpu.sh [build folder (default build)] [seconds (default 20)]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
seconds=${2:-20}
command -v xdotool >/dev/null || { echo "needs xdotool"; exit 2; }
work=$(mktemp -d)
display=:91
address=127.0.2.203
printf '[Baseinfo]\r\nHisIp=%s\r\nAlgShowPasswd=0\r\n' "$address" > "$work/KestTools.ini"
Xvfb "$display" -screen 0 1920x1080x24 >/dev/null 2>&1 &
xvfb=$!
"$build/sim/KestDeviceSim" --address "$address" --fps 25 --push-ms 0 >/dev/null 2>&1 &
sim=$!
trap 'kill $tool $sim $xvfb 2>/dev/null || true; wait 2>/dev/null || true; rm -rf "$work"' EXIT
sleep 1
cd "$work"
DISPLAY=$display "$build/tool/KestTools" --no-log > "$work/trace.log" 2>&1 &
tool=$!
sleep 2
export DISPLAY=$display
xdotool key Return  # 登录 (the address comes from the settings file)
sleep 2
# The main window's buttons, by their client positions under the menu bar.
window=$(xdotool search --onlyvisible --name '^KestTools$' | head -1)
menu=22  # menu bar height, about
xdotool mousemove --window "$window" $((40 + 213)) $((630 + menu + 25)) click 1   # 打开流
xdotool mousemove --window "$window" $((912 + 213)) $((630 + menu + 25)) click 1  # 打开目标显示
if [ -n "${KEST_WITH_3D:-}" ]; then
  xdotool mousemove --window "$window" $((476 + 213)) $((630 + menu + 25)) click 1  # 打开3V模式
fi
sleep 3
[ -n "${KEST_SNAPSHOT:-}" ] && xwd -root -silent > "$KEST_SNAPSHOT"  # to check what ran
ticks=$(getconf CLK_TCK)
cpu() { awk '{print $14 + $15}' "/proc/$tool/stat"; }
frames() { grep -c 'objnum = ' "$work/trace.log" || true; }
# CPU time of each thread: id, name (the pipeline's threads are named
# kest-...; the GUI thread carries the program's name), nanoseconds on a
# processor (schedstat: finer than the clock ticks of stat).
threads() {
  for t in /proc/$tool/task/*; do
    printf '%s %s %s\n' "${t##*/}" "$(tr ' ' '_' < "$t/comm")" "$(awk '{print $1}' "$t/schedstat")"
  done | sort
}
threads > "$work/threads0"; c0=$(cpu); f0=$(frames)
sleep "$seconds"
c1=$(cpu); f1=$(frames); threads > "$work/threads1"
awk -v c=$((c1 - c0)) -v f=$((f1 - f0)) -v t="$ticks" -v s="$seconds" 'BEGIN {
  printf "KestTools: %d frames in %d s, %.2f s CPU, %.3f ms CPU per frame (target <= 1.0)\n",
         f, s, c / t, (f > 0 ? 1000 * c / t / f : 0) }'
join "$work/threads0" "$work/threads1" | awk -v f=$((f1 - f0)) '
  $5 > $3 && f > 0 { printf "  %-16s %.3f ms per frame\n", $2, ($5 - $3) / 1e6 / f }'
