#!/usr/bin/env bash
# The window's cost: a 4-connection download forwarded to a running window
# (offscreen) beside the same download by vardane-cli get alone, in
# interleaved rounds, the window's CPU while idle with 10,000 tasks in its
# list, 10,000 tasks moved and deleted in the window by forwarded commands,
# and the window's start-up time, peak memory and idle CPU with 100,000
# tasks. Prints a Markdown table (OUT=FILE writes it there too).
#   bench/gui.sh                 ROUNDS=3 SIZE_MB=256 BUILD=build-bench
#                                BIG_TASKS=100000 STARTS=3 (ROUNDS=0: no downloads)
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD
ROUNDS=${ROUNDS:-3}
SIZE_MB=${SIZE_MB:-256}
BUILD=${BUILD:-build-bench}
IDLE_SECONDS=${IDLE_SECONDS:-30}
BIG_TASKS=${BIG_TASKS:-100000}
STARTS=${STARTS:-3}
export PATH=$PATH:/usr/sbin QT_QPA_PLATFORM=offscreen

for tool in nginx cmp; do
    command -v "$tool" >/dev/null || { echo "missing: $tool (scripts/setup.sh --tests)" >&2; exit 1; }
done
cmake -S . -B "$BUILD" -G Ninja >/dev/null
cmake --build "$BUILD" --target vardane-cli vardane >/dev/null
CLI=$ROOT/$BUILD/bin/vardane-cli
WIN=$ROOT/$BUILD/bin/vardane

source "$ROOT/bench/lib.sh"
bench_scratch vardane-gui-bench

mkdir -p "$W/www" "$W/nginx"
chmod 755 "$W" "$W/www"
head -c "$((SIZE_MB << 20))" /dev/urandom >"$W/www/big.bin"
chmod 644 "$W/www/big.bin"
PORT=$(free_port)
start_nginx "  access_log off;
  sendfile on;
  server { listen 127.0.0.1:$PORT; root $W/www; }"
URL=http://127.0.0.1:$PORT/big.bin
for _ in $(seq 50); do (exec 3<>"/dev/tcp/127.0.0.1/$PORT") 2>/dev/null && break; sleep 0.1; done

# Starts the window on a data root and waits until it answers forwarded
# commands; prints its pid.
start_window() {
    "$WIN" --home "$1" >"$1.window.log" 2>&1 &
    local pid=$!
    # The socket exists once the window holds the data root.
    for _ in $(seq 100); do
        [[ -S "$1/vardane.sock" ]] && break
        sleep 0.1
    done
    echo "$pid"
}

# Seconds a 4-connection get of the file takes on a fresh data root; with
# "window" the get is forwarded to a window running on that root.
timed_get() {
    local home=$W/home-$1-$2 out=$W/out-$1-$2
    mkdir -p "$home" "$out"
    "$CLI" --home "$home" limit off >/dev/null
    local win=""
    [[ $1 == window ]] && win=$(start_window "$home")
    local start end
    start=$(date +%s.%N)
    timeout 600 "$CLI" --home "$home" get "$URL" --connections 4 --dir "$out" >/dev/null
    end=$(date +%s.%N)
    [[ -n $win ]] && { kill "$win"; wait "$win" 2>/dev/null || true; }
    cmp -s "$out/big.bin" "$W/www/big.bin" || { echo "wrong bytes ($1, round $2)" >&2; exit 1; }
    rm -rf "$out"
    awk -v a="$start" -v b="$end" 'BEGIN {printf "%.2f", b - a}'
}

declare -A times
for r in $(seq "$ROUNDS"); do
    order=(cli window)
    ((r % 2 == 0)) && order=(window cli)
    for kind in "${order[@]}"; do
        times[$kind]+="$(timed_get "$kind" "$r") "
    done
done

# Idle CPU with 10,000 tasks: the window with its list loaded and nothing
# running, over IDLE_SECONDS.
IDLE=$W/home-idle
mkdir -p "$IDLE"
for i in $(seq 10000); do echo "http://127.0.0.1:9/f$i.bin"; done >"$W/list.txt"
"$CLI" --home "$IDLE" import "$W/list.txt" --yes >/dev/null
win=$(start_window "$IDLE")
sleep 5
ticks() { awk '{print $14 + $15}' "/proc/$1/stat"; }
t0=$(ticks "$win")
sleep "$IDLE_SECONDS"
t1=$(ticks "$win")

# Seconds a command forwarded to the window takes, from start to answer.
timed() {
    local start end
    start=$(date +%s.%N)
    "$@" >/dev/null
    end=$(date +%s.%N)
    awk -v a="$start" -v b="$end" 'BEGIN {printf "%.2f", b - a}'
}
# Every other task to the bottom (5,000 ids moved past 5,000 others), then
# the whole list deleted, as Select all + Del does.
ids=$("$CLI" --home "$IDLE" list | awk 'NR % 2 == 1 {print $1}')
# shellcheck disable=SC2086
move_s=$(timed "$CLI" --home "$IDLE" -y move-bottom $ids)
delete_s=$(timed "$CLI" --home "$IDLE" -y delete --all)
left=$("$CLI" --home "$IDLE" list | wc -l)
deleted=$("$CLI" --home "$IDLE" list deleted | wc -l)
[[ $left == 0 && $deleted == 10000 ]] || { echo "delete left $left, deleted $deleted" >&2; exit 1; }
kill "$win"; wait "$win" 2>/dev/null || true
idle_pct=$(awk -v d="$((t1 - t0))" -v hz="$(getconf CLK_TCK)" -v s="$IDLE_SECONDS" \
    'BEGIN {printf "%.2f", 100 * d / hz / s}')

# Start-up with BIG_TASKS tasks in Downloading.lst: the list and progress
# files written directly in their format (UTF-16LE with byte-order mark,
# CR LF lines), a tenth of the tasks failed, a third without a size. The
# start-up runs from launch until the window answers a forwarded command
# (its lists are loaded and its event loop runs); peak memory is the
# process's VmHWM after the idle time.
BIG=$W/home-big
/usr/bin/python3 - "$BIG" "$BIG_TASKS" <<'PY'
import os, sys
home, count = sys.argv[1], int(sys.argv[2])
tasks = os.path.join(home, "Tasks")
os.makedirs(tasks)
def utf16(text):
    return b"\xff\xfe" + text.encode("utf-16-le")
ids = []
for i in range(count):
    tid = "2026120812000000%06d" % i
    ids.append(tid)
    sized = i % 3 != 0
    fields = [("BaseURL", "http://127.0.0.1:9/f%d.bin" % i),
              ("LocalDir", home + "/Download/"), ("LocalFileName", "f%d.bin" % i),
              ("LocalTempFileName", ""), ("ProxyHTTP", "1"), ("ProxyFTP", "1"),
              ("State", "5" if i % 10 == 0 else "2"), ("ThreadCount", "4"), ("Folder", "0"),
              ("Cat", "SOFTWARE\\Vardane\\Categories\\Download"),
              ("FileSize", str(1048576 + i) if sized else ""),
              ("FilePos", str(i * 7919 % 1048576) if sized else "")]
    fields += [("Block_%d" % b, "") for b in range(4)]
    text = "[FileInfo]\r\n" + "".join("%s=%s\r\n" % kv for kv in fields)
    with open(os.path.join(tasks, tid + ".pro~"), "wb") as f:
        f.write(utf16(text))
with open(os.path.join(tasks, "Downloading.lst"), "wb") as f:
    f.write(utf16("".join(t + "\r\n" for t in ids)))
PY
start_s=""
for _ in $(seq "$STARTS"); do
    start=$(date +%s.%N)
    win=$(start_window "$BIG")
    for _ in $(seq 1200); do
        [[ -S "$BIG/vardane.sock" ]] && break
        sleep 0.1
    done
    timeout 120 "$CLI" --home "$BIG" list deleted >/dev/null
    end=$(date +%s.%N)
    start_s+="$(awk -v a="$start" -v b="$end" 'BEGIN {printf "%.2f", b - a}') "
    shown=$("$CLI" --home "$BIG" list | wc -l)
    [[ $shown == "$BIG_TASKS" ]] || { echo "the window lists $shown of $BIG_TASKS tasks" >&2; exit 1; }
    t0=$(ticks "$win")
    sleep "$IDLE_SECONDS"
    t1=$(ticks "$win")
    big_idle=$(awk -v d="$((t1 - t0))" -v hz="$(getconf CLK_TCK)" -v s="$IDLE_SECONDS" \
        'BEGIN {printf "%.2f", 100 * d / hz / s}')
    big_mb=$(awk '/^VmHWM/ {printf "%.0f", $2 / 1024}' "/proc/$win/status")
    kill "$win"
    while kill -0 "$win" 2>/dev/null; do sleep 0.1; done
done

median() { tr ' ' '\n' | grep . | sort -g | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }
{
    echo "Window cost, $(date -u +%Y-%m-%d), $(nproc) CPUs, load $(cut -d' ' -f1-3 /proc/loadavg), $SIZE_MB MiB over 4 connections, $ROUNDS rounds:"
    echo
    if ((ROUNDS > 0)); then
        cli_med=$(echo "${times[cli]}" | median)
        win_med=$(echo "${times[window]}" | median)
        echo "| run | seconds per round | median | MiB/s (median) |"
        echo "|---|---|---|---|"
        rate() { awk -v m="$SIZE_MB" -v s="$1" 'BEGIN {printf "%.0f", m / s}'; }
        echo "| vardane-cli get | ${times[cli]}| $cli_med | $(rate "$cli_med") |"
        echo "| get forwarded to the window | ${times[window]}| $win_med | $(rate "$win_med") |"
        echo
    fi
    echo "Window idle with 10,000 tasks: $idle_pct% of one CPU over $IDLE_SECONDS s."
    echo
    echo "| forwarded to the window with 10,000 tasks | seconds |"
    echo "|---|---|"
    echo "| move-bottom of 5,000 tasks | $move_s |"
    echo "| delete --all (10,000 tasks) | $delete_s |"
    echo
    echo "| window with $BIG_TASKS tasks | value | goal |"
    echo "|---|---|---|"
    echo "| start-up to first answer, s ($STARTS starts) | $start_s(median $(echo "$start_s" | median)) | under 2 |"
    echo "| peak memory (VmHWM), MB, last start | $big_mb | under 150 |"
    echo "| idle CPU over $IDLE_SECONDS s, % of one CPU, last start | $big_idle | under 1 |"
} | tee "${OUT:-/dev/null}"
