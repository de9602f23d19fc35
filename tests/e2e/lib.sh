#!/usr/bin/env bash
# Shared set-up of the end-to-end tests: a small sample game published into a
# web root, served by a private nginx on loopback, and orvane-launcher pointed
# at it with settings of its own. Each test sources this file, calls e2e_setup
# and gets WORK, GAME, WWW, INSTALL, SETTINGS and the nginx ports; the server is
# stopped on exit whatever happens.
set -euo pipefail

E2E_NAME=$(basename "${BASH_SOURCE[1]}" .sh)
SOURCE_DIR=${KESTRUN_SOURCE_DIR:?KESTRUN_SOURCE_DIR not set}
BIN=${KESTRUN_BIN_DIR:?KESTRUN_BIN_DIR not set}
WORK=${KESTRUN_E2E_WORK:-$BIN/../e2e-work}/$E2E_NAME
GAME=$WORK/game
WWW=$WORK/www
INSTALL=$WORK/install/
SETTINGS=$WORK/launcher.ini
NGINX_PREFIX=$WORK/nginx
# Every wait in these tests has a deadline; a hung launcher is a failure, not a hang.
LAUNCHER_TIMEOUT=${E2E_LAUNCHER_TIMEOUT:-180}
# How the build's programs start (scripts/lib/programs.sh): a Windows cross build names its runner
# (Wine) in KESTRUN_PROGRAMS_ENV; the tests then call them through small scripts in PROGRAMS, made by
# e2e_programs. Elsewhere PROGRAMS is BIN itself.
source "$SOURCE_DIR/scripts/lib/programs.sh"
programs_load "$BIN" "${KESTRUN_PROGRAMS_ENV:-}" || exit 1

source "$SOURCE_DIR/scripts/lib/nginx.sh"
source "$SOURCE_DIR/scripts/lib/sample.sh"

e2e_log() { echo "[$E2E_NAME] $*"; }
fail() { echo "[$E2E_NAME] FAIL: $*" >&2; exit 1; }

e2e_cleanup() {
    local l_status=$?
    nginx_stop "$NGINX_PREFIX" || true
    e2e_programs_stop
    if [ "$l_status" = 0 ]; then
        rm -rf "$WORK"
    else
        echo "[$E2E_NAME] work folder kept for inspection: $WORK" >&2
        [ -f "$NGINX_PREFIX/error.log" ] && tail -n 5 "$NGINX_PREFIX/error.log" >&2
    fi
    return "$l_status"
}

# Installs nginx when it is missing and this user may (the project's own files
# bring what the tests need); one apt run at a time when tests run in parallel.
# e2e_serve_store: nginx serving $WORK/store/cdn, which starts empty (the forge fills it after,
# so the store is served exactly as written); HOST is its first CDN host.
e2e_serve_store() {
    e2e_ensure_nginx
    rm -rf "$WORK"
    mkdir -p "$WORK/store/cdn"
    trap e2e_cleanup EXIT
    nginx_start "$NGINX_PREFIX" "$WORK/store/cdn" || fail "nginx did not start"
    HOST=127.0.0.1:$NGINX_CDN1_PORT
}

e2e_ensure_nginx() {
    nginx_bin >/dev/null 2>&1 && return 0
    if [ "$(id -u)" = 0 ] && command -v apt-get >/dev/null 2>&1; then
        e2e_log "installing nginx"
        (
            flock 9
            nginx_bin >/dev/null 2>&1 ||
                { apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq nginx-light >/dev/null; } ||
                DEBIAN_FRONTEND=noninteractive apt-get install -y -qq nginx >/dev/null
        ) 9>/tmp/kestrun-e2e-apt.lock
    fi
    nginx_bin >/dev/null 2>&1 || fail "nginx is not installed (apt-get install nginx-light)"
}

# e2e_require PROGRAM...: each program of the build is there (a Windows build: NAME.exe; "plugin":
# the launcher's plugin).
e2e_require() {
    local l_tool l_file
    for l_tool in "$@"; do
        l_file=$BIN/$l_tool$EXE
        [ "$l_tool" = plugin ] && l_file=$PLUGIN
        [ -e "$l_file" ] || fail "$l_file is not built"
    done
}

# e2e_programs: PROGRAMS holds a script per program that starts it through the runner (WORK/programs),
# and Wine's services are up, held by a stand-in until the test ends.
e2e_programs() {
    programs_wrap "$WORK/programs"
    programs_keeper_start || fail "the stand-in that holds Wine's services does not run"
}
e2e_programs_stop() { programs_keeper_stop; }

# e2e_setup [SIZE] [FILES]: sample game, published, served; CDN list = the two CDN ports.
# With E2E_SLOW_FILE=PATH (and E2E_SLOW_RATE, default 512k), that one file is served
# slowly, so that a test can stop or kill the launcher while it is being fetched.
e2e_setup() {
    local l_size=${1:-8M} l_files=${2:-60}
    e2e_require orvane-launcher orvane-publish orvane-samplebuild plugin
    e2e_ensure_nginx
    rm -rf "$WORK"
    mkdir -p "$WORK"
    trap e2e_cleanup EXIT
    e2e_programs
    sample_generate "$PROGRAMS" "$GAME" "$l_size" "$l_files" >/dev/null
    mkdir -p "$WWW"
    if [ -n "${E2E_SLOW_FILE:-}" ]; then
        # Files are published under their digest: files/XX/MD5.
        local l_md5
        l_md5=$(md5sum "$GAME/$E2E_SLOW_FILE" | cut -c1-32 | tr a-f A-F)
        E2E_SLOW_URL=/wow_bfa/files/${l_md5:0:2}/$l_md5
        export NGINX_SERVER_EXTRA="location = $E2E_SLOW_URL { limit_rate ${E2E_SLOW_RATE:-512k}; }"
    fi
    nginx_start "$NGINX_PREFIX" "$WWW" || fail "nginx did not start"
    SERVER_URL="http://127.0.0.1:$NGINX_SERVER_PORT/"
    e2e_publish "127.0.0.1:$NGINX_CDN1_PORT" "127.0.0.1:$NGINX_CDN2_PORT"
}

# e2e_publish CDN_HOST...: (re)publishes the sample game as build "1.0".
e2e_publish() {
    sample_publish "$PROGRAMS" "$GAME" "$WWW" "${E2E_BUILD:-1.0}" "$@" || fail "orvane-publish failed"
}

# launcher ARGS...: runs orvane-launcher against the test server, bounded in time.
launcher() {
    timeout --signal=KILL "$LAUNCHER_TIMEOUT" "$PROGRAMS/orvane-launcher" --plugin "$PLUGIN" ${E2E_LAUNCHER_OPTIONS:-} \
        --settings "$SETTINGS" --server "$SERVER_URL" "$@"
}

# launcher_bg ARGS...: starts orvane-launcher in the background, without the
# timeout wrapper, so that LAUNCHER_PID is the launcher itself (a signal sent to
# it reaches it); output goes to $WORK/launcher-bg.log.
launcher_bg() {
    "$PROGRAMS/orvane-launcher" --plugin "$PLUGIN" ${E2E_LAUNCHER_OPTIONS:-} \
        --settings "$SETTINGS" --server "$SERVER_URL" "$@" >"$WORK/launcher-bg.log" 2>&1 &
    LAUNCHER_PID=$!
}

# e2e_native_path PATH: PATH as the build's programs spell it natively (on Windows: Z:\...).
e2e_native_path() { programs_native_path "$1"; }

# e2e_kill_launcher SIGNAL: sends SIGNAL to the background launcher. Its process is the program's
# own (PROGRAMS' scripts exec). Under a runner, a process found by its command line (the program
# and this test's settings) gets it too, should the runner ever hand the program to another one,
# and a KILL returns once no such process is left.
e2e_kill_launcher() {
    kill -"$1" "$LAUNCHER_PID" 2>/dev/null || true
    [ "${#PROGRAMS_RUNNER[@]}" -gt 0 ] || return 0
    local l_pid
    for l_pid in $(e2e_launcher_pids); do
        [ "$l_pid" = "$LAUNCHER_PID" ] || { e2e_log "signal $1 to process $l_pid too"; kill -"$1" "$l_pid" 2>/dev/null || true; }
    done
    [ "$1" != KILL ] || e2e_wait_for "the killed launcher" 30 e2e_no_launcher ||
        fail "the launcher still runs after kill -KILL: $(e2e_launcher_pids)"
}
e2e_launcher_pids() { pgrep -f -- "orvane-launcher$EXE .*--settings $SETTINGS( |$)" || true; }
e2e_no_launcher() { [ -z "$(e2e_launcher_pids)" ]; }

# e2e_wait_exit PID SECONDS: waits for a background launcher; its status in WAIT_STATUS.
e2e_wait_exit() {
    local l_deadline=$((SECONDS + $2))
    while kill -0 "$1" 2>/dev/null; do
        if [ "$SECONDS" -ge "$l_deadline" ]; then
            kill -KILL "$1" 2>/dev/null || true
            fail "the launcher (pid $1) did not exit within $2 s"
        fi
        sleep 0.05
    done
    WAIT_STATUS=0
    wait "$1" || WAIT_STATUS=$?
}

# The sample's files that an install in LOCALE holds (the other language is left out).
e2e_expected_files() {
    local l_locale=${1:-enUS} l_other=frFR
    [ "$l_locale" = frFR ] && l_other=enUS
    (cd "$GAME" && find . -type f ! -path "*/$l_other/*" | sed 's|^\./||' | LC_ALL=C sort)
}

# e2e_verify [LOCALE]: every expected file is in place and byte-identical, no
# download leftovers, and the flagged files carry their permissions.
e2e_verify() {
    local l_locale=${1:-enUS} l_count=0 l_path
    while IFS= read -r l_path; do
        [ -f "$INSTALL$l_path" ] || fail "missing after install: $l_path"
        cmp -s "$GAME/$l_path" "$INSTALL$l_path" || fail "differs from the published file: $l_path"
        l_count=$((l_count + 1))
    done < <(e2e_expected_files "$l_locale")
    [ "$l_count" -gt 0 ] || fail "no file expected"
    local l_leftover
    l_leftover=$(find "$INSTALL" -name '*.part' | head -n 3)
    [ -z "$l_leftover" ] || fail "download leftovers: $l_leftover"
    for l_list in ToDownloadBase.db ToDownload.db; do
        [ ! -s "$INSTALL$l_list" ] || fail "$l_list still names files: $(head -n 3 "$INSTALL$l_list")"
    done
    local l_mode
    l_mode=$(stat -c %a "$INSTALL/Fonts/FRIZQT__.TTF")
    [ $((8#$l_mode & 8#222)) = 0 ] || fail "read-only file (0x01) has mode $l_mode"
    l_mode=$(stat -c %a "$INSTALL/Utils/BlizzardError.exe")
    if [ "$EXE" = .exe ]; then
        # Windows has only the read-only attribute (Wine: no write bit) to clear.
        [ $((8#$l_mode & 8#200)) != 0 ] || fail "full-permission file (0x02) has mode $l_mode"
    else
        [ "$l_mode" = 777 ] || fail "full-permission file (0x02) has mode $l_mode"
    fi
    e2e_log "verified $l_count files"
}

# e2e_wait_for DESCRIPTION SECONDS COMMAND...: polls COMMAND every 50 ms until it succeeds.
e2e_wait_for() {
    local l_what=$1 l_seconds=$2
    shift 2
    local l_deadline=$((SECONDS + l_seconds))
    until "$@"; do
        [ "$SECONDS" -lt "$l_deadline" ] || return 1
        sleep 0.05
    done
}

# e2e_assert_resumed URL BYTES WHAT: the first GET of URL in the access log asked "bytes=BYTES-" and
# got 206 (nginx answers "bytes=0-" with 206 too, so the status alone proves nothing).
e2e_assert_resumed() {
    local l_url=$1 l_kept=$2 l_what=$3 l_line l_range l_status
    l_line=$(awk -v u="$l_url" '$6 == "\"GET" && $7 == u' "$NGINX_PREFIX/access.log" | head -n 1)
    [ -n "$l_line" ] || fail "$l_what was not fetched again"
    l_range=$(echo "$l_line" | awk '{print $(NF-1)}')
    l_status=$(echo "$l_line" | awk '{print $9}')
    [ "$l_range" = "\"bytes=$l_kept-\"" ] || fail "$l_what was resumed with Range $l_range, not \"bytes=$l_kept-\" (the .part size)"
    [ "$l_status" = 206 ] || fail "$l_what was answered $l_status to its range request"
    e2e_log "$l_what resumed with Range: bytes=$l_kept-"
}

# True when a ".part" file of at least $1 bytes exists in the install folder.
e2e_part_at_least() {
    [ -n "$(find "$INSTALL" -name '*.part' -size +"$1"c 2>/dev/null | head -n 1)" ]
}

# e2e_store_setup [FORGE OPTIONS...]: a forged content store (STORE) and the plain build carrying
# its ".idx" files, served by one nginx; CASC_CDN is the host the launcher asks for the region
# tables (--casc-cdn). NGINX_SERVER_EXTRA applies as in e2e_setup.
e2e_store_setup() {
    e2e_require orvane-launcher orvane-publish casc-tool plugin
    command -v python3 >/dev/null || fail "python3 is needed"
    source "$SOURCE_DIR/scripts/lib/store.sh"
    e2e_ensure_nginx
    rm -rf "$WORK"
    mkdir -p "$WORK" "$WWW"
    trap e2e_cleanup EXIT
    e2e_programs
    STORE=$WORK/store
    nginx_start "$NGINX_PREFIX" "$WWW" || fail "nginx did not start"
    SERVER_URL="http://127.0.0.1:$NGINX_SERVER_PORT/"
    CASC_CDN=127.0.0.1:$NGINX_CDN1_PORT
    store_forge "$PROGRAMS" "$STORE" "127.0.0.1:$NGINX_CDN1_PORT 127.0.0.1:$NGINX_CDN2_PORT" "$@" ||
        fail "casc-tool forge failed"
    store_publish "$PROGRAMS" "$STORE" "$WWW" "127.0.0.1:$NGINX_CDN1_PORT" "127.0.0.1:$NGINX_CDN2_PORT" ||
        fail "publishing the store's .idx files failed"
    E2E_LAUNCHER_OPTIONS="--casc-cdn $CASC_CDN ${E2E_LAUNCHER_OPTIONS:-}"
}

# e2e_nginx_reload: nginx reads its configuration (and its includes) again.
e2e_nginx_reload() {
    # The reload is asynchronous: wait until a fresh worker runs (the old ones finish their connections).
    local l_old
    l_old=$(pgrep -P "$(cat "$NGINX_PREFIX/nginx.pid")" | tr '\n' ' ')
    "$(nginx_bin)" -p "$NGINX_PREFIX" -c "$NGINX_PREFIX/nginx.conf" -s reload || fail "nginx did not reload"
    e2e_wait_for "nginx reload" 10 e2e_workers_renewed "$l_old" || fail "nginx kept its old workers"
}
e2e_workers_renewed() {
    local l_pid
    for l_pid in $(pgrep -P "$(cat "$NGINX_PREFIX/nginx.pid")"); do
        case " $1 " in *" $l_pid "*) ;; *) return 0 ;; esac
    done
    return 1
}

# e2e_store_verify: the installed store equals the forged one, its download list is empty, and
# the offline scan finds it whole.
e2e_store_verify() {
    store_compare "$INSTALL" "$STORE" || fail "the installed store differs from the forged one"
    [ -f "${INSTALL}ToDownloadCASC.db" ] || fail "no ToDownloadCASC.db: the store was never scanned"
    [ ! -s "${INSTALL}ToDownloadCASC.db" ] || fail "ToDownloadCASC.db still lists $(wc -l <"${INSTALL}ToDownloadCASC.db") slots"
    "$PROGRAMS/casc-tool" scan "$INSTALL" >"$WORK/scan.out" 2>&1 || fail "casc-tool scan: $(head -n 3 "$WORK/scan.out")"
    e2e_log "store verified: $(ls "${INSTALL}data/data" | grep -c '^data\.') archives equal to the forged ones"
}

# e2e_store_wait_streaming SECONDS: waits until the background launcher (--json) streams slots.
e2e_store_wait_streaming() {
    e2e_wait_for "streaming" "$1" grep -q '"Done":[1-9][0-9]*,"DownloadStatus":3.*Downloading streammed files' \
        "$WORK/launcher-bg.log"
}
