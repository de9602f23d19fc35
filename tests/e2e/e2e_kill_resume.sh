#!/usr/bin/env bash
# kill -9 of the launcher in the middle of a large file; the next update resumes
# that file with a range request and ends with every file byte-identical.
source "$(dirname "$0")/lib.sh"
export NGINX_LIMIT_RATE=4m # slow enough that the kill lands inside a file
e2e_setup 16M 40

launcher install "$INSTALL" >"$WORK/install.log" 2>&1 &
l_pid=$!
e2e_wait_for "a partly fetched file" 60 e2e_part_at_least 262144 || fail "no .part file grew to 256 KiB"
kill -KILL "$l_pid"
wait "$l_pid" 2>/dev/null || true
l_part=$(find "$INSTALL" -name '*.part' | head -n 1)
[ -n "$l_part" ] || fail "the .part file vanished with the killed launcher"
e2e_log "killed during $(basename "$l_part") at $(stat -c %s "$l_part") bytes"

: >"$NGINX_PREFIX/access.log"
launcher update || fail "update after kill -9 exited with $?"
grep -q '" 206 ' "$NGINX_PREFIX/access.log" || fail "the killed file was not resumed with a range request"
e2e_verify enUS
