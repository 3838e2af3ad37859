#!/usr/bin/env bash
# Loopback benchmark of the shipped vardane-cli beside curl, aria2c, axel and
# lftp. Starts nginx (http and https, with a CA and certificate made here by
# openssl), vsftpd and pyftpdlib on free 127.0.0.1 ports and runs every
# tool once per round, in an order rotated each round, so that all of them
# share the machine's noise. Every output is compared with cmp; requests and
# bytes served come from the servers' own logs. Writes docs/benchmarks.md.
#   bench/run.sh                 ROUNDS=3 SIZE_MB=256 BUSY=0 BUILD=build-bench
#                                (a Release build; BUILD_TYPE=... for another)
#                                (THROTTLED_MB=16 LIMITED_MB=4)
#   BUSY=1 bench/run.sh          the same beside a disk writer (dd ... fdatasync)
# OUT=FILE writes the table elsewhere than docs/benchmarks.md.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD
ROUNDS=${ROUNDS:-3}
SIZE_MB=${SIZE_MB:-256}
THROTTLED_MB=${THROTTLED_MB:-16}  # served at 2 MiB/s per connection
LIMITED_MB=${LIMITED_MB:-4}       # under a client limit of 1024 KB/s
BUSY=${BUSY:-0}
BUILD=${BUILD:-build-bench}
BUILD_TYPE=${BUILD_TYPE:-Release}
OUT=${OUT:-$ROOT/docs/benchmarks.md}
PY=/usr/bin/python3  # Debian's, with python3-pyftpdlib

export PATH=$PATH:/usr/sbin
for tool in nginx openssl curl aria2c axel cmp /usr/bin/time timeout; do
    command -v "$tool" >/dev/null || { echo "missing: $tool (scripts/setup.sh --tests)" >&2; exit 1; }
done
"$PY" -c 'import pyftpdlib' || { echo "missing: python3-pyftpdlib" >&2; exit 1; }
cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE="$BUILD_TYPE" >/dev/null
cmake --build "$BUILD" --target vardane-cli >/dev/null
CLI=$ROOT/$BUILD/bin/vardane-cli

source "$ROOT/bench/lib.sh"
bench_scratch vardane-bench

mkdir -p "$W/www" "$W/out" "$W/nginx" "$W/empty" "$W/homes"
chmod 755 "$W" "$W/www"; chmod 555 "$W/empty"
head -c "$((SIZE_MB << 20))" /dev/urandom >"$W/www/big.bin"
head -c "$((THROTTLED_MB << 20))" /dev/urandom >"$W/www/mid.bin"
head -c "$((LIMITED_MB << 20))" /dev/urandom >"$W/www/small.bin"
chmod 644 "$W/www/"*.bin
make_pki
CA=$W/pki/ca.pem
HAVE_LFTP=0
command -v lftp >/dev/null && HAVE_LFTP=1  # its row is left out without it

HTTP_PORT=$(free_port)
HTTPS_PORT=$(free_port)
start_nginx "  log_format bench '\$request_uri \$status \$bytes_sent';
  access_log $W/nginx/access.log bench;
  default_type application/octet-stream;
  sendfile on;
  server {
    listen 127.0.0.1:$HTTP_PORT;
    root $W/www;
    location /slow/ { alias $W/www/; limit_rate 2m; }
  }
  server {
    listen 127.0.0.1:$HTTPS_PORT ssl;
    ssl_certificate $W/pki/server.pem;
    ssl_certificate_key $W/pki/server.key;
    root $W/www;
    location /slow/ { alias $W/www/; limit_rate 2m; }
  }"

HAVE_VSFTPD=0
command -v vsftpd >/dev/null && HAVE_VSFTPD=1  # its rows are left out without it
VSFTPD_PORT=$(free_port)
PASV=$(((VSFTPD_PORT % 20000) + 30000))
cat >"$W/vsftpd.conf" <<CONF
listen=YES
listen_ipv6=NO
listen_address=127.0.0.1
listen_port=$VSFTPD_PORT
background=NO
anonymous_enable=YES
no_anon_password=YES
anon_root=$W/www
local_enable=NO
write_enable=NO
pasv_enable=YES
pasv_address=127.0.0.1
pasv_min_port=$PASV
pasv_max_port=$((PASV + 60))
port_enable=YES
connect_from_port_20=NO
seccomp_sandbox=NO
isolate=NO
isolate_network=NO
secure_chroot_dir=$W/empty
max_clients=64
max_per_ip=64
xferlog_enable=YES
xferlog_std_format=YES
xferlog_file=$W/vsftpd.xferlog
CONF
if [[ $HAVE_VSFTPD == 1 ]]; then
    vsftpd "$W/vsftpd.conf" &
    VSFTPD_PID=$!
    PIDS+=($VSFTPD_PID)
fi

PYFTP_PORT=$(free_port)
PYPASV=$(((PYFTP_PORT % 20000) + 30100))
"$PY" -m pyftpdlib -i 127.0.0.1 -p "$PYFTP_PORT" -d "$W/www" -r "$PYPASV-$((PYPASV + 60))" \
    2>"$W/pyftpd.log" &
PIDS+=($!)

BUSY_PID=""
if [[ "$BUSY" == "1" ]]; then
    # A disk writer beside the downloads, as on a working desktop.
    (while :; do dd if=/dev/zero of="$W/busy.dat" bs=1M count=1500 conv=fdatasync 2>/dev/null; done) &
    BUSY_PID=$!
    PIDS+=($BUSY_PID)
fi
sleep 1
for port in "$HTTP_PORT" "$HTTPS_PORT" "$PYFTP_PORT" $([[ $HAVE_VSFTPD == 1 ]] && echo "$VSFTPD_PORT"); do
    timeout 10 bash -c "until echo >/dev/tcp/127.0.0.1/$port; do sleep 0.1; done" 2>/dev/null ||
        { echo "a server did not start (port $port)" >&2; exit 1; }
done

HTTP=http://127.0.0.1:$HTTP_PORT
HTTPS=https://127.0.0.1:$HTTPS_PORT
VSFTP=ftp://127.0.0.1:$VSFTPD_PORT
PYFTP=ftp://127.0.0.1:$PYFTP_PORT
RESULTS=$W/results.txt
: >"$RESULTS"
LOAD_BEFORE=$(cut -d' ' -f1-3 /proc/loadavg)

# Requests and bytes the server of url served since the marks were taken.
mark_logs() {
    touch "$W/vsftpd.xferlog"
    MARK_HTTP=$(wc -l <"$W/nginx/access.log" 2>/dev/null || echo 0)
    MARK_VS=$(wc -l <"$W/vsftpd.xferlog")
    MARK_PY=$(wc -l <"$W/pyftpd.log")
}
served() {
    sleep 0.5  # the servers log a cut transfer once they notice the close
    # vsftpd logs from the session's process as it ends: wait for them all,
    # or a slow one's line would count for the next run (a busy disk).
    for _ in $(seq 50); do
        [[ $HAVE_VSFTPD == 1 ]] && pgrep -P "$VSFTPD_PID" >/dev/null || break
        sleep 0.1
    done
    case $1 in
    "$HTTP"/* | "$HTTPS"/*) tail -n +"$((MARK_HTTP + 1))" "$W/nginx/access.log" |
        awk '{n++; s+=$3} END {print n+0, s+0}' ;;
    "$VSFTP"/*) tail -n +"$((MARK_VS + 1))" "$W/vsftpd.xferlog" |
        awk '{n++; s+=$8} END {print n+0, s+0}' ;;
    *) tail -n +"$((MARK_PY + 1))" "$W/pyftpd.log" | grep ' RETR ' |
        sed -n 's/.*bytes=\([0-9]*\).*/\1/p' | awk '{n++; s+=$1} END {print n+0, s+0}' ;;
    esac
}

# The command line of one tool: tool url connections [client limit KB/s].
# Every tool writes $W/out/<the file's name>; vardane runs on a fresh data
# root with its limit off (or set).
command_of() {
    local tool=$1 url=$2 n=$3 limit=${4:-}
    local name=${url##*/} tls=0
    [[ $url == https://* ]] && tls=1
    case $tool in
    vardane) echo "$CLI" --home "$W/home" get "$url" --dir "$W/out" --connections "$n" \
        $([[ $tls == 1 ]] && echo --ca-file "$CA") ;;
    curl) echo curl -sS -o "$W/out/$name" ${limit:+--limit-rate ${limit}K} \
        $([[ $tls == 1 ]] && echo --cacert "$CA") "$url" ;;
    aria2c) echo aria2c -q -d "$W/out" -o "$name" -x "$n" -s "$n" -k 1M --file-allocation=falloc \
        --allow-overwrite=true --auto-file-renaming=false \
        $([[ $tls == 1 ]] && echo --ca-certificate="$CA") \
        ${limit:+--max-overall-download-limit=${limit}K} "$url" ;;
    axel) echo axel -q -n "$n" -o "$W/out/$name" ${limit:+-s $((limit * 1024))} "$url" ;;
    lftp) # one word per argument: the command goes through a script file
        printf 'get %s -o %s\n' "$url" "$W/out/$name" >"$W/lftp.cmd"
        echo lftp -f "$W/lftp.cmd" ;;
    esac
}

fresh_home() {
    rm -rf "$W/home" && mkdir -p "$W/home"
    if [[ -n "${1:-}" ]]; then
        "$CLI" --home "$W/home" limit "$1" >/dev/null
    else
        "$CLI" --home "$W/home" limit off >/dev/null
    fi
}

# On a quiet machine a run starts once what the run before it wrote is on
# disk: a tool that flushes its own files must not wait behind another
# tool's gigabyte. Beside the disk writer that wait is the point.
settle() {
    [[ "$BUSY" == "1" ]] || sync
}

# run_one row tool url file n [limit]: one timed download, one result line.
run_one() {
    local row=$1 tool=$2 url=$3 file=$4 n=$5 limit=${6:-}
    rm -rf "$W/out" && mkdir -p "$W/out"
    settle
    [[ $tool == vardane ]] && fresh_home "$limit"
    mark_logs
    local ok=1
    # shellcheck disable=SC2046
    /usr/bin/time -f "%e %U %S %M" -o "$W/time.txt" timeout 300 $(command_of "$tool" "$url" "$n" "$limit") \
        </dev/null >"$W/run.log" 2>&1 || ok=0
    local got
    got=$(find "$W/out" -maxdepth 1 -type f -name "$(basename "$file")" | head -1)
    [[ -n "$got" ]] && cmp -s "$got" "$W/www/$file" || ok=0
    [[ $ok == 1 ]] || { echo "FAILED: $row $tool" >&2; tail -3 "$W/run.log" >&2; }
    echo "$row|$tool|$(stat -c %s "$W/www/$file")|$(tail -1 "$W/time.txt")|$(served "$url")|$ok|0" >>"$RESULTS"
}

# run_killed row tool url file n: SIGKILL at half the expected time, resume,
# and count what was served beyond the file.
run_killed() {
    local row=$1 tool=$2 url=$3 file=$4 n=$5 after=$6
    rm -rf "$W/out" && mkdir -p "$W/out"
    settle
    [[ $tool == vardane ]] && fresh_home
    mark_logs
    local cmd ok=1
    cmd=$(command_of "$tool" "$url" "$n")
    [[ $tool == curl ]] && cmd=${cmd/curl -sS/curl -sS -C -}
    [[ $tool == aria2c ]] && cmd="$cmd -c"
    # shellcheck disable=SC2086
    timeout -s KILL "$after" $cmd </dev/null >"$W/run.log" 2>&1 || true
    # shellcheck disable=SC2086
    /usr/bin/time -f "%e %U %S %M" -o "$W/time.txt" timeout 300 $cmd </dev/null >>"$W/run.log" 2>&1 || ok=0
    cmp -s "$W/out/$file" "$W/www/$file" || ok=0
    [[ $ok == 1 ]] || { echo "FAILED: $row $tool" >&2; tail -3 "$W/run.log" >&2; }
    echo "$row|$tool|$(stat -c %s "$W/www/$file")|$(tail -1 "$W/time.txt")|$(served "$url")|$ok|1" >>"$RESULTS"
}

# One round of a row: every tool once, starting at a rotated position.
round() {
    local r=$1; shift
    local -a jobs=("$@")
    local k=${#jobs[@]}
    for ((j = 0; j < k; j++)); do
        eval "${jobs[$(((j + r) % k))]}"
    done
}

START=$(date +%s)
for ((r = 0; r < ROUNDS; r++)); do
    echo "== round $((r + 1)) of $ROUNDS =="
    for src in "HTTP (nginx)|$HTTP" "FTP (vsftpd)|$VSFTP" "FTP (pyftpdlib)|$PYFTP"; do
        name=${src%%|*}; url=${src#*|}/big.bin
        [[ $name == *vsftpd* && $HAVE_VSFTPD == 0 ]] && continue
        lftp_job=""
        [[ $name == HTTP* && $HAVE_LFTP == 1 ]] && lftp_job="run_one '$name, 1 connection' lftp $url big.bin 1"
        round "$r" \
            "run_one '$name, 1 connection' vardane $url big.bin 1" \
            "run_one '$name, 1 connection' curl $url big.bin 1" \
            "run_one '$name, 1 connection' aria2c $url big.bin 1" \
            "run_one '$name, 1 connection' axel $url big.bin 1" \
            ${lftp_job:+"$lftp_job"}
        round "$r" \
            "run_one '$name, 4 connections' vardane $url big.bin 4" \
            "run_one '$name, 4 connections' aria2c $url big.bin 4" \
            "run_one '$name, 4 connections' axel $url big.bin 4"
    done
    # The same server over TLS (axel has no CA option: it is left out here).
    round "$r" \
        "run_one 'HTTPS (nginx), 1 connection' vardane $HTTPS/big.bin big.bin 1" \
        "run_one 'HTTPS (nginx), 1 connection' curl $HTTPS/big.bin big.bin 1" \
        "run_one 'HTTPS (nginx), 1 connection' aria2c $HTTPS/big.bin big.bin 1"
    round "$r" \
        "run_one 'HTTPS (nginx), 4 connections' vardane $HTTPS/big.bin big.bin 4" \
        "run_one 'HTTPS (nginx), 4 connections' aria2c $HTTPS/big.bin big.bin 4"
    round "$r" \
        "run_one 'HTTPS at 2 MiB/s per connection, 1 connection' vardane $HTTPS/slow/mid.bin mid.bin 1" \
        "run_one 'HTTPS at 2 MiB/s per connection, 4 connections' vardane $HTTPS/slow/mid.bin mid.bin 4" \
        "run_one 'HTTPS at 2 MiB/s per connection, 1 connection' curl $HTTPS/slow/mid.bin mid.bin 1" \
        "run_one 'HTTPS at 2 MiB/s per connection, 4 connections' aria2c $HTTPS/slow/mid.bin mid.bin 4"
    round "$r" \
        "run_one 'HTTP at 2 MiB/s per connection, 1 connection' vardane $HTTP/slow/mid.bin mid.bin 1" \
        "run_one 'HTTP at 2 MiB/s per connection, 4 connections' vardane $HTTP/slow/mid.bin mid.bin 4" \
        "run_one 'HTTP at 2 MiB/s per connection, 1 connection' curl $HTTP/slow/mid.bin mid.bin 1" \
        "run_one 'HTTP at 2 MiB/s per connection, 4 connections' aria2c $HTTP/slow/mid.bin mid.bin 4" \
        "run_one 'HTTP at 2 MiB/s per connection, 4 connections' axel $HTTP/slow/mid.bin mid.bin 4"
    round "$r" \
        "run_one 'HTTP, client limit 1024 KB/s, 4 connections' vardane $HTTP/small.bin small.bin 4 1024" \
        "run_one 'HTTP, client limit 1024 KB/s, 4 connections' curl $HTTP/small.bin small.bin 1 1024" \
        "run_one 'HTTP, client limit 1024 KB/s, 4 connections' aria2c $HTTP/small.bin small.bin 4 1024" \
        "run_one 'HTTP, client limit 1024 KB/s, 4 connections' axel $HTTP/small.bin small.bin 4 1024"
    after=0.6  # well before the end: 4 connections fetch 16 MiB in about 1.2 s
    round "$r" \
        "run_killed 'SIGKILL after ${after} s and resume, 4 connections at 2 MiB/s' vardane $HTTP/slow/mid.bin mid.bin 4 $after" \
        "run_killed 'SIGKILL after ${after} s and resume, 4 connections at 2 MiB/s' aria2c $HTTP/slow/mid.bin mid.bin 4 $after" \
        "run_killed 'SIGKILL after ${after} s and resume, 4 connections at 2 MiB/s' axel $HTTP/slow/mid.bin mid.bin 4 $after" \
        "run_killed 'SIGKILL after ${after} s and resume, 4 connections at 2 MiB/s' curl $HTTP/slow/mid.bin mid.bin 1 $after"
done
ELAPSED=$(($(date +%s) - START))
LOAD_AFTER=$(cut -d' ' -f1-3 /proc/loadavg)
[[ -n "$BUSY_PID" ]] && kill "$BUSY_PID" 2>/dev/null

{
    echo "# Benchmarks"
    echo
    echo "Produced by \`bench/run.sh\` (ROUNDS=$ROUNDS SIZE_MB=$SIZE_MB BUSY=$BUSY) on $(date -u '+%Y-%m-%d %H:%M UTC')."
    echo
    echo "- Machine: $(nproc) CPUs ($(sed -n 's/^model name\s*: //p' /proc/cpuinfo | head -1)),"
    echo "  $(awk '/MemTotal/ {printf "%.0f GiB", $2 / 1048576}' /proc/meminfo) RAM, Linux $(uname -r)."
    echo "- Files: ${SIZE_MB} MiB (rows HTTP, HTTPS and FTP), ${THROTTLED_MB} MiB (2 MiB/s per connection, SIGKILL),"
    echo "  ${LIMITED_MB} MiB (client limit), random data; SIZE_MB=1024 gives the 1 GiB table, 256 MiB keeps"
    echo "  three rounds near five minutes on a small machine."
    echo "- Load average (1, 5, 15 min) before: $LOAD_BEFORE; after: $LOAD_AFTER; $ELAPSED s in all"
    echo "  (other jobs on the machine count: on 2 CPUs a load above 2 means every tool waited for a CPU)."
    if [[ "$BUSY" == "1" ]]; then
        echo "- A disk writer ran throughout: dd if=/dev/zero bs=1M count=1500 conv=fdatasync in a loop."
    else
        echo "- Every run started after a sync, with nothing of the run before it left to write out."
    fi
    echo "- Tools: vardane-cli $(git -C "$ROOT" rev-parse --short HEAD) (fresh data root per run, limit off"
    echo "  unless the row sets one), $(curl --version | head -1 | cut -d' ' -f1-2),"
    echo "  aria2c $(aria2c --version | head -1 | awk '{print $3}') (-k 1M), $(axel --version | head -1 | cut -d' ' -f1-2),"
    echo "  $([[ $HAVE_LFTP == 1 ]] && lftp --version | head -1 | awk '{print "lftp", $4","}')"
    echo "  nginx $(nginx -v 2>&1 | sed 's/.*\///') (https: TLS 1.3, an ECDSA P-256 certificate), $([[ $HAVE_VSFTPD == 1 ]] && echo vsftpd || echo "no vsftpd (not installed: its rows are missing)"), pyftpdlib $("$PY" -c 'import pyftpdlib; print(pyftpdlib.__ver__)')."
    echo
    "$PY" "$ROOT/bench/table.py" "$RESULTS"
} >"$OUT"
echo "wrote $OUT"
