#!/usr/bin/env bash
# The longest GUI-thread stall of each workflow, as an engineer meets it: the
# tool on a virtual display (xvfb-run), logged in to KestDeviceSim with the
# live 2D view and the readout running, driven through its own windows by a
# script (KEST_SCRIPT, see tool/ui/ScriptDriver.h) while the stall probe
# (KEST_STALL_LOG) writes the longest delay of every second. Each round is one
# tool process going through every workflow; the script marks where each one
# starts, and a workflow's stall is the longest of the seconds from its mark to
# the next (a second that straddles two counts for both). Prints min / median
# / max over the rounds, in milliseconds; the goal is <= 50 ms.
#   bench/gui_stalls.sh [build folder (default build)] [rounds (default 3)]
# KEST_BENCH_KEEP=1 keeps the work folder (stall logs, traces, scripts).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
rounds=${2:-3}
address=127.0.24.1
command -v xvfb-run >/dev/null || { echo "needs xvfb-run (apt-get install xvfb)"; exit 2; }
work=$(mktemp -d)
sim=
cleanup() {
  [ -n "$sim" ] && kill "$sim" 2>/dev/null && wait "$sim" 2>/dev/null
  if [ -n "${KEST_BENCH_KEEP:-}" ]; then echo "work folder: $work"; else rm -rf "$work"; fi
}
trap cleanup EXIT

# Two 256 MB packages: a zip (deflated, of incompressible bytes like a
# firmware image) and a tar, each with its upinfo.txt.
python3 - "$work" <<'PY'
import os, sys, tarfile, zipfile, io
work = sys.argv[1]
payload = os.path.join(work, "app.bin")
with open(payload, "wb") as f:
    for _ in range(256):
        f.write(os.urandom(1 << 20))
upinfo = b"version=V-bench\r\nfiletype=2\r\n"
with zipfile.ZipFile(os.path.join(work, "update.zip"), "w", zipfile.ZIP_DEFLATED, compresslevel=1) as z:
    z.writestr("upinfo.txt", upinfo)
    z.write(payload, "app.bin")
with tarfile.open(os.path.join(work, "update.tar"), "w") as t:
    info = tarfile.TarInfo("upinfo.txt"); info.size = len(upinfo)
    t.addfile(info, io.BytesIO(upinfo))
    t.add(payload, "app.bin")
os.remove(payload)
PY

"$build/sim/KestDeviceSim" --address "$address" --fps 25 --push-ms 0 > "$work/sim.log" 2>&1 &
sim=$!
sleep 1

# One round: login, live view, then every workflow, each started by a mark and
# followed by a quiet pause so that its late work stays in its own seconds.
write_script() {  # $1 round folder
  local r=$1 reg=配准
  cat <<SCRIPT
press 登录
command 1000
command 1002
sleep 4000
mark idle
sleep 3000
mark choose-zip
command 32778
press 选择升级文件
file $work/update.zip
press OK
sleep 3000
mark choose-tar
press 选择升级文件
file $work/update.tar
press OK
sleep 3000
mark upgrade
press 确定
press OK
sleep 3000
mark registration
command 32773
click 220 15 $reg
sleep 1500
click 180 70 $reg
click 20 340 $reg
sleep 500
click 20 340 $reg
sleep 500
click 280 340 $reg
sleep 500
click 540 340 $reg
click 230 120 $reg
click 20 170 $reg
sleep 500
click 20 220 $reg
press No
click 120 270 $reg
sleep 3000
mark ply-export
command 32796
file $r/cloud.ply
press OK
sleep 3000
mark version
command 32781
close 版本信息
sleep 3000
mark reboot
command 32784
press OK
sleep 3000
mark device-ip
command 32785
press 确定
press Yes
press OK
sleep 3000
mark alg-window
command 32776
sleep 3000
command 32789
sleep 3000
mark 3d-view
command 1001
sleep 4000
mark end
quit
SCRIPT
}

for round in $(seq 1 "$rounds"); do
  r="$work/round$round"
  mkdir -p "$r"
  printf '[Baseinfo]\r\nHisIp=%s\r\nAlgShowPasswd=pqe713\r\n' "$address" > "$r/KestTools.ini"
  write_script "$r" > "$r/script.txt"
  (cd "$r" && KEST_STALL_LOG="$r/stall.log" KEST_SCRIPT="$r/script.txt" \
     timeout 600 xvfb-run -a -s "-screen 0 1920x1080x24" "$build/tool/KestTools" --no-log \
     > "$r/trace.log" 2> "$r/stderr.log") || echo "round $round: KestTools ended with $?"
  if grep -q 'kest-script failed' "$r/stderr.log" || ! grep -q 'mark end' "$r/stderr.log"; then
    echo "round $round did not run through its script:"; grep 'kest-script' "$r/stderr.log" | tail -3
    KEST_BENCH_KEEP=1
  fi
  # Per workflow of this round: "name longest_ms".
  awk '
    BEGIN { n = 0; m = 0 }
    /^kest-script mark / { name[n] = $3; at[n] = $4; n++ }
    /^stall / { split($2, t, "."); s = t[1] * 1000 + t[2]; v = substr($3, 8);
                ls[m] = s; lv[m] = v; m++ }
    /^stall-summary/ { summary = $0 }
    END {
      for (i = 0; i + 1 < n; i++) {
        worst = 0
        for (j = 0; j < m; j++)
          if (ls[j] < at[i + 1] && ls[j] + 1000 > at[i] && lv[j] + 0 > worst) worst = lv[j] + 0
        printf "%s %.1f\n", name[i], worst
      }
      print "whole-run " substr(summary, index(summary, "longest_ms=") + 11) + 0
    }' "$r/stderr.log" "$r/stall.log" > "$r/result.txt"
done

echo "Longest GUI-thread stall per workflow over $rounds rounds, ms (goal <= 50):"
printf '%-14s %8s %8s %8s\n' workflow min median max
cat "$work"/round*/result.txt | awk '{ print $1 }' | awk '!seen[$0]++' | while read -r name; do
  grep -h "^$name " "$work"/round*/result.txt | awk '{ print $2 }' | sort -n |
    awk -v name="$name" '{ v[NR] = $1 } END {
      printf "%-14s %8.1f %8.1f %8.1f\n", name, v[1], v[int((NR + 1) / 2)], v[NR] }'
done
echo "(whole-run: the probe's own summary of the round, login and start-up included)"
