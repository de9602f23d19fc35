#!/usr/bin/env bash
# kill -9 of the launcher in the middle of a large file; the next update resumes
# that file with a range request and ends with every file byte-identical.
source "$(dirname "$0")/lib.sh"
export E2E_SLOW_FILE=Data/data/data.000 # slow enough that the kill lands inside it
e2e_setup 16M 40

launcher_bg install "$INSTALL"
e2e_wait_for "a partly fetched file" 60 e2e_part_at_least 786432 || fail "no .part file grew to 768 KiB"
e2e_kill_launcher KILL
e2e_wait_exit "$LAUNCHER_PID" 10
l_part="$INSTALL/$E2E_SLOW_FILE.part"
[ -f "$l_part" ] || fail "the .part file vanished with the killed launcher"
l_size=$(stat -c %s "$l_part")
e2e_log "killed while fetching $E2E_SLOW_FILE, $l_size bytes on disk"

: >"$NGINX_PREFIX/access.log"
launcher update || fail "update after kill -9 exited with $?"
# The transfer went on from exactly the bytes on disk.
e2e_assert_resumed "$E2E_SLOW_URL" "$l_size" "the killed file"
e2e_verify enUS
