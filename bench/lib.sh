# Shared by the bench scripts (sourced): a scratch folder W removed on exit
# together with every server whose pid is added to PIDS, a free loopback
# port, and nginx started on a configuration whose http block is given.

# bench_scratch NAME: makes W=/tmp/NAME.XXXXXX and cleans it up on exit.
bench_scratch() {
    W=$(mktemp -d "/tmp/$1.XXXXXX")
    PIDS=()
    trap bench_cleanup EXIT
}

bench_cleanup() {
    for p in "${PIDS[@]}"; do kill "$p" 2>/dev/null || true; done
    wait 2>/dev/null || true
    rm -rf "$W"
}

free_port() {
    /usr/bin/python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'
}

# start_nginx HTTP_LINES: nginx in $W/nginx/ with HTTP_LINES (log format,
# server blocks) in its http block, running until the script ends.
start_nginx() {
    mkdir -p "$W/nginx"
    cat >"$W/nginx/nginx.conf" <<CONF
user root;
worker_processes 1;
pid $W/nginx/nginx.pid;
error_log $W/nginx/error.log;
events { worker_connections 256; }
http {
  client_body_temp_path $W/nginx/body; proxy_temp_path $W/nginx/proxy;
  fastcgi_temp_path $W/nginx/fcgi; uwsgi_temp_path $W/nginx/uwsgi; scgi_temp_path $W/nginx/scgi;
$1
}
CONF
    nginx -p "$W/nginx/" -e "$W/nginx/error.log" -c "$W/nginx/nginx.conf" -g 'daemon off;' &
    PIDS+=($!)
}

# make_pki: a CA ($W/pki/ca.pem) and a server certificate for 127.0.0.1
# ($W/pki/server.pem, server.key) made with openssl for the https server.
make_pki() {
    mkdir -p "$W/pki"
    (
        cd "$W/pki"
        key=(-newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes)
        openssl req -x509 "${key[@]}" -keyout ca.key -out ca.pem -days 2 -subj "/CN=bench CA"
        openssl req -new "${key[@]}" -keyout server.key -out server.csr -subj "/CN=server"
        printf 'subjectAltName=IP:127.0.0.1\nbasicConstraints=CA:FALSE\n' >ext.cnf
        openssl x509 -req -in server.csr -CA ca.pem -CAkey ca.key -CAcreateserial \
            -out server.pem -days 2 -extfile ext.cnf
    ) >"$W/pki.log" 2>&1
}
