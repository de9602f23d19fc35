#!/usr/bin/env bash
# A fresh install through the content-store path: the plain build brings the local
# ".idx" files, then the seven phases fetch every slot from the CDN archives by range.
# The archives end byte-identical to the forged ones; the progress walks the phases in order.
source "$(dirname "$0")/lib.sh"
e2e_store_setup --files 150 --min-size 2K --max-size 96K --local-archives 3 --patch-archives 1 --seed 11

# On Windows the folder is given with its drive letter and backslashes.
launcher --json install "$(e2e_native_path "$INSTALL")" --content-store >"$WORK/install.json" 2>"$WORK/install.err" ||
    fail "install --content-store exited with $? ($(tail -n 3 "$WORK/install.err"))"
e2e_store_verify

# Each phase's text shows, in the order of the phases, and the end clears the text.
python3 - "$WORK/install.json" <<'PY' || fail "the phases did not show in order"
import json, sys
want = ["Getting CDN configuration...", "Verifying basic informations...", "Load CASC Indexes...",
        "Load local CASC IDX files...", "Load local CASC IDX files and scan current installation...",
        "Loading download file list...", "Downloading streammed files..."]
seen, last = [], None
for line in open(sys.argv[1]):
    event = json.loads(line)
    if event.get("event") == "status":
        last = event
        if event["Message"] in want and (not seen or seen[-1] != event["Message"]):
            seen.append(event["Message"])
if seen != want:
    sys.exit("phases seen: %s" % seen)
if last["Message"] != "" or last["Busy"] or last["ApplicationState"] != 2:
    sys.exit("last status: %s" % last)
PY
grep -q '"contentStore":true' "$WORK/install.json" || fail "the result does not name the content store"

# status tells that the game uses the content store and has nothing left to fetch.
launcher status >"$WORK/status.out" || fail "status exited with $?"
# A Windows program ends its lines with CR LF.
grep -qE $'^Content store: *yes\r?$' "$WORK/status.out" || fail "status: $(cat "$WORK/status.out")"

# Without the scan's list nothing is known of the slots: status says so instead of "yes".
rm -f "${INSTALL}ToDownloadCASC.db"
launcher status >"$WORK/status-unscanned.out" || fail "status exited with $?"
grep -q "^Content store: *yes, never scanned" "$WORK/status-unscanned.out" ||
    fail "status of an unscanned store: $(cat "$WORK/status-unscanned.out")"

# A second run scans, finds the store whole and fetches nothing.
launcher update --content-store >"$WORK/update.out" 2>&1 || fail "update --content-store: $(tail -n 3 "$WORK/update.out")"
e2e_store_verify
e2e_log "fresh content-store install and a second run that fetches nothing"
