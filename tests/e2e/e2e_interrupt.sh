#!/usr/bin/env bash
# Ctrl-C stops the transfer and exits 130 with the file resumable; the next run
# resumes it and completes.
source "$(dirname "$0")/lib.sh"
export NGINX_LIMIT_RATE=4m
e2e_setup 16M 40

set -m # a background job of a script ignores SIGINT otherwise
launcher install "$INSTALL" >"$WORK/install.log" 2>&1 &
l_pid=$!
set +m
e2e_wait_for "a partly fetched file" 60 e2e_part_at_least 262144 || fail "no .part file grew to 256 KiB"
kill -INT "$l_pid"
l_status=0
wait "$l_pid" || l_status=$?
[ "$l_status" = 130 ] || fail "Ctrl-C gave exit status $l_status, not 130 ($(tail -n 3 "$WORK/install.log"))"
[ -n "$(find "$INSTALL" -name '*.part' | head -n 1)" ] || fail "no .part file left to resume"

: >"$NGINX_PREFIX/access.log"
launcher update || fail "update after Ctrl-C exited with $?"
grep -q '" 206 ' "$NGINX_PREFIX/access.log" || fail "the stopped file was not resumed with a range request"
e2e_verify enUS
