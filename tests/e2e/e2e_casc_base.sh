#!/usr/bin/env bash
# A forged content store served by a real nginx, read through the launcher's own classes:
# the region tables, the CDN and build configuration, the missing configuration and archive
# indices fetched into the installation, and every blob found in the loaded indices where
# forge.json puts it (tst_cascverifier's forgedStore case, pointed at nginx). casc-tool's
# read-side commands then print the fetched files.
source "$(dirname "$0")/lib.sh"
TEST=$BIN/tst_cascverifier
[ -x "$TEST" ] || fail "$TEST is not built"
[ -x "$BIN/casc-tool" ] || fail "$BIN/casc-tool is not built"
e2e_serve_store
"$BIN/casc-tool" forge "$WORK/store" --files 200 --max-size 8K --data-archives 3 --patch-archives 2 --hosts "$HOST" \
    --missing-config build --missing-config patch --missing-index 0 --missing-index 4 --seed 11 >/dev/null ||
    fail "casc-tool forge exited with $?"

KESTRUN_CASC_CDN_URL="http://$HOST/" KESTRUN_CASC_STORE="$WORK/store" "$TEST" forgedStore >"$WORK/test.log" 2>&1 ||
    { tail -n 20 "$WORK/test.log" >&2; fail "the store did not load from nginx"; }
grep -q "^PASS   : CascVerifierTest::forgedStore()" "$WORK/test.log" || fail "the forgedStore case did not run"
e2e_log "tables, configuration, base files and indices loaded from nginx"

# The files fetched from nginx read back with casc-tool.
INSTALL=$WORK/store/install
"$BIN/casc-tool" tables "$WORK/store/cdn/wow/cdns" | grep -q "^region 2 (eu): path tpr/wow host $HOST$" ||
    fail "casc-tool tables does not show $HOST for eu"
BUILD=$(find "$INSTALL/data/config" -type f -exec grep -l '^encoding = ' {} +)
[ -n "$BUILD" ] || fail "the build configuration was not fetched"
"$BIN/casc-tool" config "$BUILD" --json | grep -q '"kind": "build"' || fail "casc-tool config does not read $BUILD"
COUNT=0
for l_index in "$INSTALL"/data/indices/*.index; do
    l_n=$("$BIN/casc-tool" index "$l_index" | tail -n 1 | cut -d' ' -f1) || fail "casc-tool index fails on $l_index"
    COUNT=$((COUNT + l_n))
done
[ "$COUNT" = 200 ] || fail "the indices list $COUNT entries, not 200"
e2e_log "casc-tool reads the fetched tables, configuration and 5 indices (200 entries)"
