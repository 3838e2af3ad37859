#!/usr/bin/env bash
# Loopback benchmarks of Vardane against curl and aria2c: starts nginx and
# vsftpd on free 127.0.0.1 ports, downloads the same files with each client,
# and prints median wall time, MiB/s, peak RSS, CPU seconds and the ratio of
# Vardane's speed to curl's and aria2c's.
#   bench/run.sh            (RUNS=3 SIZE_MB=1024 BUILD=build-bench by default)
set -euo pipefail
cd "$(dirname "$0")/.."
RUNS=${RUNS:-3}
SIZE_MB=${SIZE_MB:-1024}
THROTTLED_MB=${THROTTLED_MB:-64}
LIMITED_MB=${LIMITED_MB:-8}
BUILD=${BUILD:-build-bench}

for tool in nginx vsftpd curl aria2c /usr/bin/time python3; do
    command -v "$tool" >/dev/null || { echo "missing: $tool" >&2; exit 1; }
done
cmake -S . -B "$BUILD" -G Ninja -DVARDANE_BUILD_TESTS=ON >/dev/null
cmake --build "$BUILD" --target vardane_bench_get >/dev/null
GET=$PWD/$BUILD/bin/vardane_bench_get

W=$(mktemp -d /tmp/vardane-bench.XXXXXX)
PIDS=()
cleanup() {
    for p in "${PIDS[@]}"; do kill "$p" 2>/dev/null || true; done
    wait 2>/dev/null || true
    rm -rf "$W"
}
trap cleanup EXIT

free_port() { python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'; }

mkdir -p "$W/www" "$W/out" "$W/nginx" "$W/empty"
chmod 755 "$W" "$W/www"; chmod 555 "$W/empty"
echo "== making files (${SIZE_MB} MiB, ${THROTTLED_MB} MiB, ${LIMITED_MB} MiB) =="
head -c "$((SIZE_MB << 20))" /dev/urandom >"$W/www/big.bin"
head -c "$((THROTTLED_MB << 20))" /dev/urandom >"$W/www/mid.bin"
head -c "$((LIMITED_MB << 20))" /dev/urandom >"$W/www/small.bin"
chmod 644 "$W/www/"*.bin

HTTP_PORT=$(free_port)
cat >"$W/nginx/nginx.conf" <<CONF
user root;
worker_processes 1;
pid $W/nginx/nginx.pid;
error_log $W/nginx/error.log;
events { worker_connections 256; }
http {
  access_log off;
  client_body_temp_path $W/nginx/body; proxy_temp_path $W/nginx/proxy;
  fastcgi_temp_path $W/nginx/fcgi; uwsgi_temp_path $W/nginx/uwsgi; scgi_temp_path $W/nginx/scgi;
  default_type application/octet-stream;
  sendfile on;
  server {
    listen 127.0.0.1:$HTTP_PORT;
    root $W/www;
    location /slow/ { alias $W/www/; limit_rate 2m; }
  }
}
CONF
nginx -p "$W/nginx/" -e "$W/nginx/error.log" -c "$W/nginx/nginx.conf" -g 'daemon off;' &
PIDS+=($!)

FTP_PORT=$(free_port)
PASV=$(( (FTP_PORT % 20000) + 30000 ))
cat >"$W/vsftpd.conf" <<CONF
listen=YES
listen_ipv6=NO
listen_address=127.0.0.1
listen_port=$FTP_PORT
background=NO
anonymous_enable=YES
no_anon_password=YES
anon_root=$W/www
local_enable=NO
write_enable=NO
pasv_enable=YES
pasv_address=127.0.0.1
pasv_min_port=$PASV
pasv_max_port=$((PASV + 40))
port_enable=YES
connect_from_port_20=NO
seccomp_sandbox=NO
isolate=NO
isolate_network=NO
secure_chroot_dir=$W/empty
max_clients=64
max_per_ip=64
CONF
vsftpd "$W/vsftpd.conf" &
PIDS+=($!)
sleep 1

HTTP=http://127.0.0.1:$HTTP_PORT
FTP=ftp://127.0.0.1:$FTP_PORT
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
        # The download must have produced a file of the full size.
        if [[ -z "$(find "$W/out" -type f -size "${bytes}c" -not -path '*/Tasks/*')" ]]; then
            echo "WRONG SIZE: $name $client" >&2
            continue
        fi
        echo "$name|$client|$bytes|$(cat "$W/time.txt")" >>"$RESULTS"
    done
    printf '.'
}

OUT=$W/out/file
ARIA=(aria2c -q -d "$W/out" -o file -k 1M --file-allocation=falloc --allow-overwrite=true
      --auto-file-renaming=false)

BIG=$((SIZE_MB << 20)); MID=$((THROTTLED_MB << 20)); SMALL=$((LIMITED_MB << 20))
echo "== running (median of $RUNS) =="
measure "HTTP ${SIZE_MB} MiB, 1 conn" vardane $BIG "$GET" "$HTTP/big.bin" 1 "$W/out/root"
measure "HTTP ${SIZE_MB} MiB, 1 conn" curl $BIG curl -sS -o "$OUT" "$HTTP/big.bin"
measure "HTTP ${SIZE_MB} MiB, 1 conn" aria2c $BIG "${ARIA[@]}" -x 1 -s 1 "$HTTP/big.bin"
measure "HTTP ${SIZE_MB} MiB, 4 conn" vardane $BIG "$GET" "$HTTP/big.bin" 4 "$W/out/root"
measure "HTTP ${SIZE_MB} MiB, 4 conn" curl $BIG curl -sS -o "$OUT" "$HTTP/big.bin"
measure "HTTP ${SIZE_MB} MiB, 4 conn" aria2c $BIG "${ARIA[@]}" -x 4 -s 4 "$HTTP/big.bin"
measure "HTTP ${THROTTLED_MB} MiB at 2 MB/s/conn, 1 conn" vardane $MID "$GET" "$HTTP/slow/mid.bin" 1 "$W/out/root"
measure "HTTP ${THROTTLED_MB} MiB at 2 MB/s/conn, 1 conn" curl $MID curl -sS -o "$OUT" "$HTTP/slow/mid.bin"
measure "HTTP ${THROTTLED_MB} MiB at 2 MB/s/conn, 1 conn" aria2c $MID "${ARIA[@]}" -x 1 -s 1 "$HTTP/slow/mid.bin"
measure "HTTP ${THROTTLED_MB} MiB at 2 MB/s/conn, 4 conn" vardane $MID "$GET" "$HTTP/slow/mid.bin" 4 "$W/out/root"
measure "HTTP ${THROTTLED_MB} MiB at 2 MB/s/conn, 4 conn" curl $MID curl -sS -o "$OUT" "$HTTP/slow/mid.bin"
measure "HTTP ${THROTTLED_MB} MiB at 2 MB/s/conn, 4 conn" aria2c $MID "${ARIA[@]}" -x 4 -s 4 "$HTTP/slow/mid.bin"
measure "HTTP ${LIMITED_MB} MiB, limit 512 KB/s" vardane $SMALL "$GET" "$HTTP/small.bin" 1 "$W/out/root" --limit 512
measure "HTTP ${LIMITED_MB} MiB, limit 512 KB/s" curl $SMALL curl -sS -o "$OUT" --limit-rate 512K "$HTTP/small.bin"
measure "HTTP ${LIMITED_MB} MiB, limit 512 KB/s" aria2c $SMALL "${ARIA[@]}" -x 1 -s 1 --max-overall-download-limit=512K "$HTTP/small.bin"
measure "FTP ${SIZE_MB} MiB, 1 conn" vardane $BIG "$GET" "$FTP/big.bin" 1 "$W/out/root"
measure "FTP ${SIZE_MB} MiB, 1 conn" curl $BIG curl -sS -o "$OUT" "$FTP/big.bin"
measure "FTP ${SIZE_MB} MiB, 1 conn" aria2c $BIG "${ARIA[@]}" -x 1 -s 1 "$FTP/big.bin"
measure "FTP ${SIZE_MB} MiB, 4 conn" vardane $BIG "$GET" "$FTP/big.bin" 4 "$W/out/root"
measure "FTP ${SIZE_MB} MiB, 4 conn" curl $BIG curl -sS -o "$OUT" "$FTP/big.bin"
measure "FTP ${SIZE_MB} MiB, 4 conn" aria2c $BIG "${ARIA[@]}" -x 4 -s 4 "$FTP/big.bin"
echo
python3 "$(dirname "$0")/table.py" "$RESULTS"
