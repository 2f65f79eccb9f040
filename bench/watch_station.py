#!/usr/bin/env python3
"""kestctl watch against a whole station of simulated gates.

   bench/watch_station.py [build folder (default build)] [rounds (3)] [seconds (60)] [sizes (10,50,200)]

Each round runs, for each station size N, one KestDeviceSim playing N gates on
127.0.50.1 - 127.0.50.N (every gate pushing every 100 ms) and one
`kestctl --devices FILE --json watch` over all of them. After the measured
seconds the simulator is stopped first (every push it made is then in its
log), kestctl is given a second to print what is still on its way and then
ends on SIGINT. Reported per size, min/median/max over the rounds:

  pushed / printed  pushes in the simulator's log and events kestctl printed;
                    every device's printed frames must be its pushed frames,
                    once each and in the same order (checked frame by frame)
  p99 latency       from the push (the simulator's log time, taken just after
                    the send, whole ms) to the moment this script read the
                    printed line from kestctl's pipe
  CPU per event     kestctl's user + system CPU time over the measured window
                    (from 3 s after the start, when every link is up) divided
                    by the events printed in that window
  RSS per device    kestctl's resident memory at the end of the window / N
  threads           kestctl's threads at the end of the window
"""
import calendar
import os
import signal
import statistics
import subprocess
import sys
import tempfile
import threading
import time

root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
build = os.path.abspath(sys.argv[1]) if len(sys.argv) > 1 else os.path.join(root, "build")
rounds = int(sys.argv[2]) if len(sys.argv) > 2 else 3
seconds = float(sys.argv[3]) if len(sys.argv) > 3 else 60.0
sizes = [int(s) for s in sys.argv[4].split(",")] if len(sys.argv) > 4 else [10, 50, 200]
sim_path = os.path.join(build, "sim", "KestDeviceSim")
ctl_path = os.path.join(build, "tool", "kestctl")
warmup = 3.0  # s before the measured window: every link is up by then
ticks = os.sysconf("SC_CLK_TCK")
page = os.sysconf("SC_PAGE_SIZE")


def address(i):
    return "127.0.50.%d" % (i + 1)


def cpu_seconds(pid):
    with open("/proc/%d/stat" % pid) as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / ticks  # utime + stime


def status(pid, key):
    with open("/proc/%d/status" % pid) as f:
        for line in f:
            if line.startswith(key + ":"):
                return int(line.split()[1])
    return 0


def utc8_ms(stamp):
    # "2026-12-08 09:05:07_042", UTC+8
    day, clock = stamp.split(" ")
    hms, millis = clock.split("_")
    t = time.strptime(day + " " + hms, "%Y-%m-%d %H:%M:%S")
    return (calendar.timegm(t) - 28800) * 1000 + int(millis)


def one_run(n, seed, work):
    log_path = os.path.join(work, "sim-%d.log" % n)
    devices = os.path.join(work, "devices-%d.txt" % n)
    with open(devices, "w") as f:
        f.write("".join(address(i) + "\n" for i in range(n)))
    with open(log_path, "w") as log:
        sim = subprocess.Popen([sim_path, "--addresses", "%s-%s" % (address(0), address(n - 1)),
                                "--push-ms", "100", "--seed", str(seed)],
                               stdout=log, stderr=subprocess.STDOUT)
    deadline = time.time() + 30
    while time.time() < deadline:
        with open(log_path) as f:
            if "running" in f.read():
                break
        time.sleep(0.1)
    ctl = subprocess.Popen([ctl_path, "--devices", devices, "--json", "watch"],
                           stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, bufsize=0)
    lines = []  # (read time in ms since 1970, line)

    def reader():
        for raw in ctl.stdout:
            lines.append((time.time() * 1000.0, raw.decode("utf-8", "replace").rstrip("\n")))

    thread = threading.Thread(target=reader)
    thread.start()
    start = time.time()
    time.sleep(warmup)
    cpu0 = cpu_seconds(ctl.pid)
    window0 = time.time() * 1000.0
    time.sleep(max(0.0, seconds - warmup))
    cpu1 = cpu_seconds(ctl.pid)
    window1 = time.time() * 1000.0
    rss_kb = status(ctl.pid, "VmRSS")
    threads = status(ctl.pid, "Threads")
    sim.send_signal(signal.SIGTERM)
    sim.wait()
    time.sleep(1.0)
    ctl.send_signal(signal.SIGINT)
    ctl.wait()
    thread.join()

    pushed = {}
    with open(log_path) as f:
        for line in f:
            if ": push " not in line or "[gate]" not in line:
                continue
            stamp = line[1:line.index("]")]
            rest = line.split("[gate] ", 1)[1]
            device = rest.split(":", 1)[0]
            frame = rest.split(": push ", 1)[1].split("  (", 1)[0]
            pushed.setdefault(device, []).append((utc8_ms(stamp), frame))
    printed = {}
    in_window = 0
    for read_ms, line in lines:
        if not line.startswith('{"type":"event"'):
            continue
        device = line.split('"device":"', 1)[1].split('"', 1)[0]
        frame = line.split('"frame":"', 1)[1].split('"', 1)[0]
        printed.setdefault(device, []).append((read_ms, frame))
        if window0 <= read_ms <= window1:
            in_window += 1
    total_pushed = sum(len(v) for v in pushed.values())
    total_printed = sum(len(v) for v in printed.values())
    mismatched = 0
    latencies = []
    for i in range(n):
        a = address(i)
        p = pushed.get(a, [])
        q = printed.get(a, [])
        if [f for _, f in p] != [f for _, f in q]:
            mismatched += 1
            continue
        latencies += [qt - pt for (pt, _), (qt, _) in zip(p, q)]
    latencies.sort()
    p99 = latencies[min(len(latencies) - 1, int(0.99 * len(latencies)))] if latencies else -1
    cpu_per_event_us = (cpu1 - cpu0) * 1e6 / in_window if in_window else -1
    return {
        "pushed": total_pushed, "printed": total_printed, "mismatched": mismatched,
        "p99_ms": p99, "max_ms": latencies[-1] if latencies else -1,
        "cpu_us": cpu_per_event_us, "events_per_s": in_window / ((window1 - window0) / 1000.0),
        "rss_kb_per_device": rss_kb / n, "rss_mb": rss_kb / 1024.0, "threads": threads,
        "exit": ctl.returncode, "seconds": time.time() - start,
    }


def mmm(values, fmt):
    return "/".join(fmt % v for v in (min(values), statistics.median(values), max(values)))


def main():
    for p in (sim_path, ctl_path):
        if not os.access(p, os.X_OK):
            sys.exit("needs %s (build it first)" % p)
    print("load average at start: %.2f %.2f %.2f" % os.getloadavg())
    results = {n: [] for n in sizes}
    with tempfile.TemporaryDirectory() as work:
        for r in range(rounds):
            for n in sizes:
                res = one_run(n, 1000 * r + 1, work)
                results[n].append(res)
                print("round %d, %3d gates: %s" % (r + 1, n, res), flush=True)
    print("load average at end: %.2f %.2f %.2f" % os.getloadavg())
    print()
    print("| gates | pushed = printed, in order | events/s | p99 push-to-print ms | "
          "CPU µs per event | RSS MB | RSS KB per device | threads |")
    print("|---|---|---|---|---|---|---|---|")
    for n in sizes:
        rs = results[n]
        same = all(x["pushed"] == x["printed"] and x["mismatched"] == 0 for x in rs)
        print("| %d | %s (%s pushed) | %s | %s | %s | %s | %s | %s |" % (
            n, "yes" if same else "NO", mmm([x["pushed"] for x in rs], "%d"),
            mmm([x["events_per_s"] for x in rs], "%.0f"), mmm([x["p99_ms"] for x in rs], "%.1f"),
            mmm([x["cpu_us"] for x in rs], "%.1f"), mmm([x["rss_mb"] for x in rs], "%.1f"),
            mmm([x["rss_kb_per_device"] for x in rs], "%.0f"),
            mmm([x["threads"] for x in rs], "%d")))


if __name__ == "__main__":
    main()
