#!/usr/bin/env bash
# Ctrl-C stops the transfer and exits 130 with the file resumable; the next run
# resumes it and completes.
source "$(dirname "$0")/lib.sh"
export E2E_SLOW_FILE=Data/data/data.000
e2e_setup 16M 40

launcher_bg install "$INSTALL"
e2e_wait_for "a partly fetched file" 60 e2e_part_at_least 786432 || fail "no .part file grew to 768 KiB"
kill -INT "$LAUNCHER_PID"
e2e_wait_exit "$LAUNCHER_PID" 30
[ "$WAIT_STATUS" = 130 ] || fail "Ctrl-C gave exit status $WAIT_STATUS, not 130 ($(tail -n 3 "$WORK/launcher-bg.log"))"
[ -f "$INSTALL/$E2E_SLOW_FILE.part" ] || fail "no .part file left to resume"
[ ! -e "$INSTALL/$E2E_SLOW_FILE" ] || fail "the stopped file was moved into place unfinished"
l_size=$(stat -c %s "$INSTALL/$E2E_SLOW_FILE.part")
e2e_log "stopped while fetching $E2E_SLOW_FILE, $l_size bytes on disk"

: >"$NGINX_PREFIX/access.log"
launcher update || fail "update after Ctrl-C exited with $?"
e2e_assert_resumed "$E2E_SLOW_URL" "$l_size" "the stopped file"
e2e_verify enUS
