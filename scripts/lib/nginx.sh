#!/usr/bin/env bash
# A private nginx on loopback serving one folder as the application server and
# two CDN hosts (three ports). It lives entirely under its own prefix folder
# (configuration, pid, logs, temp files) and touches nothing of the system's.
#
# As a library:   source scripts/lib/nginx.sh
#                 nginx_start PREFIX ROOT     # sets NGINX_SERVER_PORT NGINX_CDN1_PORT NGINX_CDN2_PORT NGINX_PID
#                 nginx_stop PREFIX
# As a command:   scripts/lib/nginx.sh start PREFIX ROOT   # prints the three ports as shell assignments
#                 scripts/lib/nginx.sh stop PREFIX
#
# PREFIX/ports.env keeps the ports of a running instance (source it).
# The access log is nginx's "combined" format followed by the request's Range header (quoted, "-"
# when absent) and the port that answered, so that a test can tell which host served what.
# Tuning: NGINX_WORKERS (default 1), NGINX_ACCESS_LOG=off to skip the access log,
# NGINX_LIMIT_RATE (bytes per second per request after a first second at that rate, e.g. 2m;
# default unlimited), NGINX_SERVER_EXTRA (directives added to each server block), NGINX_HTTP_EXTRA
# (directives added to the http block, e.g. a second access log),
# NGINX_BIN (default: nginx from PATH or /usr/sbin/nginx).

nginx_bin() {
    if [ -n "${NGINX_BIN:-}" ]; then echo "$NGINX_BIN"; return; fi
    command -v nginx 2>/dev/null || { [ -x /usr/sbin/nginx ] && echo /usr/sbin/nginx; } || return 1
}

# True when something listens on 127.0.0.1:$1.
nginx_port_busy() {
    if command -v ss >/dev/null 2>&1; then
        [ -n "$(ss -Htln "sport = :$1" 2>/dev/null)" ]
    else
        (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null
    fi
}

# Prints a port that nothing listens on, none of those given as arguments.
nginx_free_port() {
    local l_port l_taken l_try
    for l_try in $(seq 1 200); do
        l_port=$(( 20000 + (RANDOM * 32768 + RANDOM) % 40000 ))
        l_taken=0
        for l_used in "$@"; do [ "$l_used" = "$l_port" ] && l_taken=1; done
        [ "$l_taken" = 0 ] && ! nginx_port_busy "$l_port" && { echo "$l_port"; return 0; }
    done
    echo "nginx_free_port: no free port found" >&2
    return 1
}

# Writes PREFIX/nginx.conf for ROOT on the three given ports.
nginx_write_conf() {
    local l_prefix=$1 l_root=$2 l_server=$3 l_cdn1=$4 l_cdn2=$5
    local l_bin l_user="" l_access="$l_prefix/access.log" l_temps="" l_module
    l_bin=$(nginx_bin) || return 1
    # A master started by root hands requests to "nobody", who may not be able to
    # read a private folder; this instance only ever listens on loopback.
    [ "$(id -u)" = 0 ] && l_user="user root root;"
    l_access="$l_access kestrun"
    [ "${NGINX_ACCESS_LOG:-on}" = off ] && l_access="off"
    for l_module in client_body proxy fastcgi uwsgi scgi; do
        if [ "$l_module" = client_body ] || ! "$l_bin" -V 2>&1 | grep -q -- "--without-http_${l_module}_module"; then
            mkdir -p "$l_prefix/tmp/$l_module"
            l_temps="$l_temps    ${l_module}_temp_path $l_prefix/tmp/$l_module;"$'\n'
        fi
    done
    mkdir -p "$l_prefix"
    cat >"$l_prefix/nginx.conf" <<EOF
$l_user
worker_processes ${NGINX_WORKERS:-1};
pid $l_prefix/nginx.pid;
error_log $l_prefix/error.log warn;
events { worker_connections 1024; }
http {
    types { application/json json; text/plain info; }
    default_type application/octet-stream;
    log_format kestrun '\$remote_addr - \$remote_user [\$time_local] "\$request" \$status \$body_bytes_sent '
                       '"\$http_referer" "\$http_user_agent" "\$http_range" \$server_port';
    access_log $l_access;
$l_temps
    sendfile on;
    tcp_nopush on;
    keepalive_requests 100000;
    keepalive_timeout 120s;
    limit_rate ${NGINX_LIMIT_RATE:-0};
    ${NGINX_HTTP_EXTRA:-}
    server { listen 127.0.0.1:$l_server; root $l_root; ${NGINX_SERVER_EXTRA:-} }
    server { listen 127.0.0.1:$l_cdn1; root $l_root; ${NGINX_SERVER_EXTRA:-} }
    server { listen 127.0.0.1:$l_cdn2; root $l_root; ${NGINX_SERVER_EXTRA:-} }
}
EOF
}

# nginx_start PREFIX ROOT: starts the instance; ports in NGINX_*_PORT and PREFIX/ports.env.
nginx_start() {
    local l_prefix=$1 l_root=$2 l_bin l_attempt l_server l_cdn1 l_cdn2
    [ -n "$l_prefix" ] && [ -d "$l_root" ] || { echo "nginx_start: usage: nginx_start PREFIX ROOT (ROOT must exist)" >&2; return 2; }
    l_bin=$(nginx_bin) || { echo "nginx_start: nginx is not installed" >&2; return 1; }
    mkdir -p "$l_prefix" || return 1
    l_prefix=$(cd "$l_prefix" && pwd) l_root=$(cd "$l_root" && pwd)
    if [ -f "$l_prefix/nginx.pid" ] && nginx_owns_pid "$l_prefix" "$(cat "$l_prefix/nginx.pid")"; then
        echo "nginx_start: an instance already runs under $l_prefix" >&2
        return 1
    fi
    # A port found free can be taken before nginx binds it: try again with others.
    for l_attempt in 1 2 3 4 5; do
        l_server=$(nginx_free_port) && l_cdn1=$(nginx_free_port "$l_server") &&
            l_cdn2=$(nginx_free_port "$l_server" "$l_cdn1") || return 1
        nginx_write_conf "$l_prefix" "$l_root" "$l_server" "$l_cdn1" "$l_cdn2" || return 1
        : >"$l_prefix/error.log"
        # Daemon mode: the command returns once the ports are bound, with a failure status if they cannot be.
        if "$l_bin" -p "$l_prefix" -e "$l_prefix/error.log" -c "$l_prefix/nginx.conf" 2>>"$l_prefix/error.log"; then
            NGINX_SERVER_PORT=$l_server NGINX_CDN1_PORT=$l_cdn1 NGINX_CDN2_PORT=$l_cdn2
            NGINX_PID=$(cat "$l_prefix/nginx.pid" 2>/dev/null) || true
            printf 'NGINX_SERVER_PORT=%s\nNGINX_CDN1_PORT=%s\nNGINX_CDN2_PORT=%s\nNGINX_PID=%s\n' \
                "$l_server" "$l_cdn1" "$l_cdn2" "$NGINX_PID" >"$l_prefix/ports.env"
            export NGINX_SERVER_PORT NGINX_CDN1_PORT NGINX_CDN2_PORT NGINX_PID
            return 0
        fi
        grep -q "Address already in use" "$l_prefix/error.log" || break
    done
    echo "nginx_start: nginx did not start; $l_prefix/error.log says:" >&2
    tail -n 5 "$l_prefix/error.log" >&2
    return 1
}

# True while PID runs (a zombie left for a parent that does not reap counts as gone).
nginx_alive() {
    kill -0 "$1" 2>/dev/null || return 1
    [ -r "/proc/$1/stat" ] || return 0
    local l_state
    l_state=$(sed 's/.*) //' "/proc/$1/stat" 2>/dev/null | cut -d' ' -f1)
    [ "$l_state" != Z ]
}

# True when PID is the master of the instance under PREFIX (never some other process that reused the pid).
nginx_owns_pid() {
    local l_prefix=$1 l_pid=$2
    [ -n "$l_pid" ] && nginx_alive "$l_pid" || return 1
    [ -r "/proc/$l_pid/cmdline" ] || return 0
    tr '\0' ' ' <"/proc/$l_pid/cmdline" | grep -qF -- "$l_prefix/nginx.conf"
}

# nginx_stop PREFIX: stops the instance by its own pid and waits until it is gone.
nginx_stop() {
    local l_prefix=$1 l_pid l_i
    [ -d "$l_prefix" ] || return 0
    l_prefix=$(cd "$l_prefix" && pwd)
    l_pid=$(cat "$l_prefix/nginx.pid" 2>/dev/null) || true # callers may run under set -e
    nginx_owns_pid "$l_prefix" "$l_pid" || { rm -f "$l_prefix/ports.env"; return 0; }
    kill -TERM "$l_pid" 2>/dev/null
    for l_i in $(seq 1 100); do
        nginx_alive "$l_pid" || break
        sleep 0.1
    done
    if nginx_alive "$l_pid"; then
        echo "nginx_stop: pid $l_pid did not stop in 10 s, killing it" >&2
        kill -KILL "$l_pid" 2>/dev/null
    fi
    rm -f "$l_prefix/ports.env"
    return 0
}

if [ "${BASH_SOURCE[0]}" = "$0" ]; then
    set -u
    case "${1:-}" in
    start)
        [ $# -eq 3 ] || { echo "usage: $0 start PREFIX ROOT" >&2; exit 2; }
        nginx_start "$2" "$3" || exit 1
        cat "$2/ports.env"
        ;;
    stop)
        [ $# -eq 2 ] || { echo "usage: $0 stop PREFIX" >&2; exit 2; }
        nginx_stop "$2"
        ;;
    *)
        echo "usage: $0 start PREFIX ROOT | stop PREFIX" >&2
        exit 2
        ;;
    esac
fi
