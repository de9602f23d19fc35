#!/usr/bin/env bash
# A damaged content-store installation repaired from a real nginx by the archive manager:
# the scan lists exactly the slots the forge damaged, the stream fills them by range, and
# a second scan and `casc-tool scan` find nothing. Then a repair killed mid-blob: a new
# scan and stream complete it.
source "$(dirname "$0")/lib.sh"
for l_tool in casc-tool tst_archives; do
    [ -x "$BIN/$l_tool" ] || fail "$BIN/$l_tool is not built"
done
# Slow enough per connection that the kill below lands inside a blob.
NGINX_LIMIT_RATE=512k e2e_serve_store
export KESTRUN_CASC_STORE=$WORK/store KESTRUN_CASC_CDN_URL=http://$HOST/
INSTALL=$WORK/store/install

forge() { "$BIN/casc-tool" forge "$WORK/store" --force --hosts "$HOST" "$@" >/dev/null || fail "casc-tool forge exited with $?"; }
scan() { "$BIN/casc-tool" scan "$INSTALL"; }

forge --files 80 --max-size 24K --local-archives 4 --zero-slot 3 --truncate-slot 11 --swap-slot 20 \
    --drop-archive 2 --zero-slot 60
l_status=0; scan >"$WORK/before" || l_status=$?
[ "$l_status" = 1 ] || fail "casc-tool scan of the damaged store exited with $l_status"
"$BIN/tst_archives" repairFromServer >"$WORK/repair.log" 2>&1 || { tail -n 20 "$WORK/repair.log" >&2; fail "the repair from nginx failed"; }
grep -q "^PASS   : ArchivesTest::repairFromServer" "$WORK/repair.log" || fail "the repair did not run"
scan >"$WORK/after" || fail "casc-tool scan still lists $(wc -l <"$WORK/after") slots after the repair"
e2e_log "$(wc -l <"$WORK/before") damaged slots repaired from nginx"

# Killed mid-blob, as a user closing the launcher would: no clean-up runs.
forge --files 4 --min-size 1M --max-size 1M --mode N --no-local-archives
"$BIN/tst_archives" repairFromServer >"$WORK/killed.log" 2>&1 &
l_pid=$!
# The first slot written (an archive appears) while the others are still in transfer.
mid_blob() { compgen -G "$INSTALL/data/data/data.*" >/dev/null || ! kill -0 "$l_pid" 2>/dev/null; }
e2e_wait_for "a blob in transfer" 60 mid_blob || fail "no blob was fetched within 60 s"
kill -0 "$l_pid" 2>/dev/null || fail "the repair ended before it could be killed"
kill -9 "$l_pid"
wait "$l_pid" 2>/dev/null || true
l_status=0; scan >/dev/null || l_status=$?
[ "$l_status" = 1 ] || fail "casc-tool scan after the kill exited with $l_status, expected 1"
KESTRUN_CASC_AFTER_KILL=1 "$BIN/tst_archives" repairFromServer >"$WORK/resumed.log" 2>&1 ||
    { tail -n 20 "$WORK/resumed.log" >&2; fail "the repair after the kill failed"; }
scan >/dev/null || fail "casc-tool scan lists slots after the repair that followed the kill"
e2e_log "a repair killed mid-blob completed on the next run"
