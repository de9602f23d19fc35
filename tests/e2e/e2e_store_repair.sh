#!/usr/bin/env bash
# A damaged store repaired by update --content-store: a zeroed slot, a truncated
# archive, a deleted archive, a missing archive index and missing configuration files.
source "$(dirname "$0")/lib.sh"
e2e_store_setup --files 120 --min-size 2K --max-size 64K --local-archives 4 --data-archives 3 --seed 5

launcher install "$INSTALL" --content-store >"$WORK/install.out" 2>&1 ||
    fail "install --content-store: $(tail -n 3 "$WORK/install.out")"
e2e_store_verify

# Damage of every kind at once.
store_zero_slot "$INSTALL" "$STORE" 7 || fail "cannot zero slot 7"
ARCHIVE0=$(store_archive_path "$INSTALL" 0)
truncate -s $(( $(stat -c %s "$ARCHIVE0") / 2 )) "$ARCHIVE0"
rm -f "$(store_archive_path "$INSTALL" 2)"
INDEX=$(ls "${INSTALL}data/indices/"*.index | head -n 1)
rm -f "$INDEX"
rm -rf "${INSTALL}data/config"
[ -n "$INDEX" ] || fail "the install holds no archive index"

# status shows the store; the repair brings every slot back.
launcher --json update --content-store >"$WORK/repair.json" 2>"$WORK/repair.err" ||
    fail "update --content-store exited with $? ($(tail -n 3 "$WORK/repair.err"))"
e2e_store_verify
[ -f "$INDEX" ] || fail "the archive index was not fetched again"
[ -n "$(ls -A "${INSTALL}data/config")" ] || fail "the configuration files were not fetched again"
# Only what was damaged travelled: fewer slots than the store holds.
python3 - "$WORK/repair.json" "$STORE/forge.json" <<'PY' || fail "the repair fetched the whole store"
import json, sys
blobs = len(json.load(open(sys.argv[2]))["blobs"])
files = [e["Detail"] for e in map(json.loads, open(sys.argv[1]))
         if e.get("event") == "status" and e["Message"] == "Downloading streammed files..." and e["DetailValue"] > 0]
count = int(files[-1].split()[-1]) if files else 0
if not 0 < count < blobs:
    sys.exit("slots fetched: %d of %d" % (count, blobs))
PY
e2e_log "zeroed slot, truncated and deleted archives, missing index and configuration repaired"
