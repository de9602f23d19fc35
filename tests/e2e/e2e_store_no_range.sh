#!/usr/bin/env bash
# A CDN that ignores Range for one archive and answers 200 with the whole archive:
# no neighbouring slot may be overwritten by it. Once the CDN honours ranges again,
# the next run completes the store.
source "$(dirname "$0")/lib.sh"
# The rule needs the archive's name, known only after forging: the server block gets an
# include that is filled in then, and nginx reloads it.
E2E_RULES=$WORK.rules.conf
export NGINX_SERVER_EXTRA="include $E2E_RULES;"
mkdir -p "$(dirname "$E2E_RULES")"
: >"$E2E_RULES"
e2e_store_setup --files 90 --min-size 2K --max-size 48K --local-archives 3 --data-archives 3 --patch-archives 0 --seed 9
# The archive that holds blob 0 ignores ranges.
read -r _ _ _ _ ARCHIVE < <(store_slots "$STORE" | head -n 1)
CDN_PATH=$(python3 -c 'import json,sys; print(json.load(open(sys.argv[1]))["cdnPath"])' "$STORE/forge.json")
echo "location = /$CDN_PATH/data/${ARCHIVE:0:2}/${ARCHIVE:2:2}/$ARCHIVE { max_ranges 0; }" >"$E2E_RULES"
e2e_nginx_reload
ARCHIVE_URL="http://$CASC_CDN/$CDN_PATH/data/${ARCHIVE:0:2}/${ARCHIVE:2:2}/$ARCHIVE"
answers() { [ "$(curl -s -o /dev/null -w '%{http_code}' -r 0-9 "$ARCHIVE_URL")" = "$1" ]; }
e2e_wait_for "the rule" 10 answers 200 || fail "nginx does not answer 200 to a range of $ARCHIVE"

STATUS=0
launcher install "$INSTALL" --content-store >"$WORK/install.out" 2>&1 || STATUS=$?
e2e_log "install against the range-ignoring archive ended with $STATUS"
[ "$STATUS" = 0 ] || [ "$STATUS" = 1 ] || fail "install ended with $STATUS: $(tail -n 3 "$WORK/install.out")"
[ "$STATUS" = 0 ] || grep -q "Error " "$WORK/install.out" || fail "exit 1 without the error text"

# Every slot holds its own blob or nothing yet: never bytes of the whole archive.
WRITTEN=0
while read -r l_blob _ _ _ _; do
    l_ok=0
    store_slot_ok "$INSTALL" "$STORE" "$l_blob" || l_ok=$?
    [ "$l_ok" = 1 ] && fail "slot of blob $l_blob holds foreign bytes"
    [ "$l_ok" = 0 ] && WRITTEN=$((WRITTEN + 1))
done < <(store_slots "$STORE")
e2e_log "$WRITTEN slots hold their blob, none holds foreign bytes"

: >"$E2E_RULES"
e2e_nginx_reload
e2e_wait_for "ranges again" 10 answers 206 || fail "nginx still ignores the range of $ARCHIVE"
launcher update --content-store >"$WORK/update.out" 2>&1 || fail "update --content-store: $(tail -n 3 "$WORK/update.out")"
e2e_store_verify
rm -f "$E2E_RULES"
