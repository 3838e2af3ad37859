#!/usr/bin/env bash
# Loopback https benchmark: nginx on https with a CA and certificate made by
# openssl here, the same file fetched by vardane-cli, curl and aria2c over 1
# and 4 connections; prints median wall time, MiB/s, peak RSS and CPU seconds
# (bench/table.py).
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

W=$(mktemp -d /tmp/vardane-bench-https.XXXXXX)
PIDS=()
cleanup() {
    for p in "${PIDS[@]}"; do kill "$p" 2>/dev/null || true; done
    wait 2>/dev/null || true
    rm -rf "$W"
}
trap cleanup EXIT

free_port() { python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'; }

mkdir -p "$W/www" "$W/out" "$W/nginx" "$W/pki"
chmod 755 "$W" "$W/www"
echo "== making a ${SIZE_MB} MiB file and certificates =="
head -c "$((SIZE_MB << 20))" /dev/urandom >"$W/www/big.bin"
chmod 644 "$W/www/big.bin"
(
    cd "$W/pki"
    key=(-newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes)
    openssl req -x509 "${key[@]}" -keyout ca.key -out ca.pem -days 2 -subj "/CN=bench CA"
    openssl req -new "${key[@]}" -keyout server.key -out server.csr -subj "/CN=server"
    printf 'subjectAltName=IP:127.0.0.1\nbasicConstraints=CA:FALSE\n' >ext.cnf
    openssl x509 -req -in server.csr -CA ca.pem -CAkey ca.key -CAcreateserial \
        -out server.pem -days 2 -extfile ext.cnf
) >"$W/pki/openssl.log" 2>&1

PORT=$(free_port)
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
  server {
    listen 127.0.0.1:$PORT ssl;
    ssl_certificate $W/pki/server.pem;
    ssl_certificate_key $W/pki/server.key;
    root $W/www;
  }
}
CONF
nginx -p "$W/nginx/" -e "$W/nginx/error.log" -c "$W/nginx/nginx.conf" -g 'daemon off;' &
PIDS+=($!)
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
python3 "$(dirname "$0")/table.py" "$RESULTS"
