#!/usr/bin/env bash
# Loopback https benchmark: nginx on https with a CA and certificate made by
# openssl here, the same file fetched by vardane-cli, curl and aria2c over 1
# and 4 connections; prints median wall time, MiB/s, peak RSS and CPU seconds
# (a table of medians).
#   bench/https.sh          (RUNS=3 SIZE_MB=1024 BUILD=build-bench by default)
set -euo pipefail
cd "$(dirname "$0")/.."
RUNS=${RUNS:-3}
SIZE_MB=${SIZE_MB:-1024}
BUILD=${BUILD:-build-bench}

for tool in nginx openssl curl aria2c /usr/bin/time python3; do
    command -v "$tool" >/dev/null || { echo "missing: $tool" >&2; exit 1; }
done
cmake -S . -B "$BUILD" -G Ninja >/dev/null
cmake --build "$BUILD" --target vardane-cli >/dev/null
CLI=$PWD/$BUILD/bin/vardane-cli

source bench/lib.sh
bench_scratch vardane-bench-https


mkdir -p "$W/www" "$W/out" "$W/nginx" "$W/pki"
chmod 755 "$W" "$W/www"
echo "== making a ${SIZE_MB} MiB file and certificates =="
head -c "$((SIZE_MB << 20))" /dev/urandom >"$W/www/big.bin"
chmod 644 "$W/www/big.bin"
make_pki

PORT=$(free_port)
start_nginx "  access_log off;
  default_type application/octet-stream;
  server {
    listen 127.0.0.1:$PORT ssl;
    ssl_certificate $W/pki/server.pem;
    ssl_certificate_key $W/pki/server.key;
    root $W/www;
  }"
sleep 1

URL=https://127.0.0.1:$PORT/big.bin
CA=$W/pki/ca.pem
RESULTS=$W/results.txt
: >"$RESULTS"

# measure <case> <client> <bytes> <command...>: RUNS runs, one line each.
measure() {
    local name=$1 client=$2 bytes=$3; shift 3
    for ((i = 0; i < RUNS; i++)); do
        rm -rf "$W/out"/*
        sync
        if ! /usr/bin/time -f "%e %M %U %S" -o "$W/time.txt" "$@" >"$W/run.log" 2>&1; then
            echo "FAILED: $name $client" >&2
            tail -5 "$W/run.log" >&2
            continue
        fi
        if [[ -z "$(find "$W/out" -type f -size "${bytes}c")" ]]; then
            echo "WRONG SIZE: $name $client" >&2
            continue
        fi
        echo "$name|$client|$bytes|$(cat "$W/time.txt")" >>"$RESULTS"
    done
    printf '.'
}

# One data root for every run, with the speed limit (on by default) off.
"$CLI" --home "$W/home" config 'HKCU\SOFTWARE\Vardane\Connection' SpeedLimit 0 >/dev/null

ARIA=(aria2c -q -d "$W/out" -o file -k 1M --file-allocation=falloc --allow-overwrite=true
      --auto-file-renaming=false --ca-certificate="$CA")
BIG=$((SIZE_MB << 20))
echo "== running (median of $RUNS) =="
for n in 1 4; do
    name="HTTPS ${SIZE_MB} MiB, $n conn"
    measure "$name" vardane $BIG "$CLI" --home "$W/home" get "$URL" --connections $n \
        --dir "$W/out" --ca-file "$CA"
    measure "$name" curl $BIG curl -sS --cacert "$CA" -o "$W/out/file" "$URL"
    measure "$name" aria2c $BIG "${ARIA[@]}" -x $n -s $n "$URL"
done
echo
# Medians per row and tool (the servers' byte counts are not collected here).
python3 - "$RESULTS" <<'PY'
import collections
import statistics
import sys

rows = collections.OrderedDict()
for line in open(sys.argv[1]):
    name, client, size, times = line.rstrip("\n").split("|")
    wall, rss, user, system = map(float, times.split())
    rows.setdefault((name, client), []).append((wall, user, system, rss, int(size)))
print("| row | tool | wall s median | MiB/s | user s | sys s | peak RSS MB |")
print("|---|---|---|---|---|---|---|")
for (name, client), runs in rows.items():
    wall = statistics.median(r[0] for r in runs)
    print(f"| {name} | {client} | {wall:.2f} | {runs[0][4] / wall / (1 << 20):.0f} "
          f"| {statistics.median(r[1] for r in runs):.2f} "
          f"| {statistics.median(r[2] for r in runs):.2f} | {max(r[3] for r in runs) / 1024:.1f} |")
PY
