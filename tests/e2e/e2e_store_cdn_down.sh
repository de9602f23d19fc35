#!/usr/bin/env bash
# An unreachable CDN ends a content-store run with exit 1 and the error text:
# first with nothing answering at the --casc-cdn host, then with region tables that
# name hosts where nothing answers.
source "$(dirname "$0")/lib.sh"
e2e_store_setup --files 20 --seed 2
DEAD=$(nginx_free_port "$NGINX_SERVER_PORT" "$NGINX_CDN1_PORT" "$NGINX_CDN2_PORT")

STATUS=0
E2E_LAUNCHER_OPTIONS="--casc-cdn 127.0.0.1:$DEAD --idle-timeout 30" \
    launcher install "$INSTALL" --content-store >"$WORK/down.out" 2>"$WORK/down.err" || STATUS=$?
[ "$STATUS" = 1 ] || fail "tables host down: exit $STATUS, not 1"
grep -q "Error [0-9]" "$WORK/down.err" || fail "tables host down: no error text on stderr: $(tail -n 3 "$WORK/down.err")"
e2e_log "tables host down: $(grep -m1 "Error [0-9]" "$WORK/down.err")"

# The tables answer, the hosts they name do not.
store_forge "$BIN" "$STORE" "127.0.0.1:$DEAD" --files 20 --seed 2 --force || fail "casc-tool forge failed"
STATUS=0
E2E_LAUNCHER_OPTIONS="$E2E_LAUNCHER_OPTIONS --idle-timeout 30" \
    launcher update --content-store >"$WORK/hosts.out" 2>"$WORK/hosts.err" || STATUS=$?
[ "$STATUS" = 1 ] || fail "store hosts down: exit $STATUS, not 1"
# The store's own error, not the launcher giving up for lack of progress.
grep -q "Error [0-9]" "$WORK/hosts.err" || fail "store hosts down: no \"Error KIND\" text from the store: $(tail -n 3 "$WORK/hosts.err")"
e2e_log "store hosts down: $(grep -m1 "Error [0-9]" "$WORK/hosts.err")"
