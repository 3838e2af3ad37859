"""Writes the benchmark table (Markdown) from the lines bench/run.sh collected:
row|tool|file bytes|wall user sys maxrss_kb|requests bytes_served|cmp ok|killed
"""
import statistics
import sys
from collections import OrderedDict

rows = OrderedDict()
for line in open(sys.argv[1]):
    row, tool, size, times, served, ok, killed = line.rstrip("\n").split("|")
    wall, user, system, rss = times.split()
    requests, sent = served.split()
    rows.setdefault(row, OrderedDict()).setdefault(tool, []).append(dict(
        size=int(size), wall=float(wall), user=float(user), sys=float(system),
        rss=int(rss), requests=int(requests), sent=int(sent), ok=ok == "1",
        killed=killed == "1"))

print("| row | tool | wall s min / median / max | MiB/s (median) | user s | sys s "
      "| peak RSS MB | requests | served / size | cmp |")
print("|---|---|---|---|---|---|---|---|---|---|")
for row, tools in rows.items():
    for tool, runs in tools.items():
        walls = sorted(r["wall"] for r in runs)
        wall = statistics.median(walls)
        size = runs[0]["size"]
        speed = size / wall / (1 << 20) if wall > 0 else 0
        served = max(r["sent"] / size for r in runs)
        served_text = f"{served:.3f}"
        if runs[0]["killed"]:
            again = statistics.median(max(r["sent"] - size, 0) for r in runs) / (1 << 20)
            served_text += f" ({again:.1f} MiB again)"
        ok = sum(r["ok"] for r in runs)
        print(f"| {row} | {tool} | {walls[0]:.2f} / {wall:.2f} / {walls[-1]:.2f} | {speed:.1f} "
              f"| {statistics.median(r['user'] for r in runs):.2f} "
              f"| {statistics.median(r['sys'] for r in runs):.2f} "
              f"| {max(r['rss'] for r in runs) / 1024:.1f} "
              f"| {statistics.median(r['requests'] for r in runs):g} "
              f"| {served_text} | {ok}/{len(runs)} |")
print()
print("MiB/s is the file size over the median wall time (process start to exit). "
      "served / size is the largest over the rounds of what the server's log says it "
      "sent, over the file size; after SIGKILL it counts both runs, and the resumed run's "
      "wall time stands in the wall columns. cmp counts the runs whose output was "
      "byte-identical to the served file.")
