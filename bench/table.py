"""Prints the benchmark table from the lines bench/run.sh collected:
case|client|bytes|wall maxrss_kb user sys"""
import statistics
import sys
from collections import OrderedDict

rows = OrderedDict()
for line in open(sys.argv[1]):
    case, client, size, times = line.rstrip("\n").split("|")
    wall, rss, user, system = times.split()
    rows.setdefault(case, OrderedDict()).setdefault(client, []).append(
        (float(wall), int(rss), float(user) + float(system), int(size)))

print(f"{'case':<40} {'client':<8} {'wall s':>7} {'MiB/s':>8} {'RSS MiB':>8} {'CPU s':>6}"
      f" {'x curl':>7} {'x aria2c':>8}")
for case, clients in rows.items():
    speed = {}
    for client, runs in clients.items():
        wall = statistics.median(r[0] for r in runs)
        speed[client] = runs[0][3] / wall / (1 << 20) if wall > 0 else 0
    for client, runs in clients.items():
        wall = statistics.median(r[0] for r in runs)
        rss = max(r[1] for r in runs) / 1024
        cpu = statistics.median(r[2] for r in runs)
        ratios = ""
        if client == "vardane":
            c = speed.get("curl")
            a = speed.get("aria2c")
            ratios = (f"{speed[client] / c:>7.2f}" if c else f"{'':>7}") + " " + \
                     (f"{speed[client] / a:>8.2f}" if a else "")
        print(f"{case:<40} {client:<8} {wall:>7.2f} {speed[client]:>8.1f} {rss:>8.1f}"
              f" {cpu:>6.2f} {ratios}")
