#!/usr/bin/env bash
# Ctrl-C, then kill -9, while slots stream from a slow CDN; each next run carries on
# from a new scan, and the last one completes the store.
source "$(dirname "$0")/lib.sh"
# The archives are served slowly (each slot takes a while, whatever the socket buffers absorb)
# until the last run, which gets them at full speed.
E2E_RULES=$WORK.rules.conf
echo "location ~ ^/tpr/wow/(data|patch)/ { limit_rate 256k; }" >"$E2E_RULES"
export NGINX_SERVER_EXTRA="include $E2E_RULES;"
e2e_store_setup --files 40 --min-size 512K --max-size 1M --mode N --local-archives 3 --seed 3

launcher_bg --json install "$INSTALL" --content-store
e2e_store_wait_streaming 120 || { kill -KILL "$LAUNCHER_PID"; fail "no slot streamed: $(tail -n 2 "$WORK/launcher-bg.log")"; }
kill -INT "$LAUNCHER_PID"
e2e_wait_exit "$LAUNCHER_PID" 60
[ "$WAIT_STATUS" = 130 ] || fail "Ctrl-C: exit $WAIT_STATUS, not 130 ($(tail -n 2 "$WORK/launcher-bg.log"))"
store_compare "$INSTALL" "$STORE" 2>/dev/null && fail "the store was complete before the interrupt: nothing was tested"
e2e_log "Ctrl-C during streaming: exit 130"

launcher_bg --json update --content-store
e2e_store_wait_streaming 120 || { kill -KILL "$LAUNCHER_PID"; fail "no slot streamed after Ctrl-C: $(tail -n 2 "$WORK/launcher-bg.log")"; }
kill -KILL "$LAUNCHER_PID"
e2e_wait_exit "$LAUNCHER_PID" 30
e2e_log "kill -9 during streaming"

: >"$E2E_RULES"
e2e_nginx_reload
launcher update --content-store >"$WORK/update.out" 2>&1 || fail "update after kill -9: $(tail -n 3 "$WORK/update.out")"
e2e_store_verify
rm -f "$E2E_RULES"
