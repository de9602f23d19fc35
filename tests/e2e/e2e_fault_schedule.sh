#!/usr/bin/env bash
# A seeded schedule of installs, updates, repairs and kill -9 against a server that draws a fault
# for each request (faultserver.py); faultschedule.py checks the promises after every run and prints
# the figures. KESTRUN_FAULT_RUNS=N runs a longer schedule, KESTRUN_FAULT_SEED=N replays one.
source "$(dirname "$0")/lib.sh"
for l_tool in orvane-launcher orvane-publish orvane-samplebuild libkestrun.so; do
    [ -e "$BIN/$l_tool" ] || fail "$BIN/$l_tool is not built"
done
command -v python3 >/dev/null || fail "python3 is needed"
rm -rf "$WORK"
mkdir -p "$WORK"
trap e2e_cleanup EXIT
sample_generate "$BIN" "$GAME" "${KESTRUN_FAULT_SIZE:-6M}" "${KESTRUN_FAULT_FILES:-40}" >/dev/null
# The CDN list is the server's own (a live and a dead host); the published one is not served.
e2e_publish 127.0.0.1:1
python3 "$SOURCE_DIR/tests/e2e/faultschedule.py" --bin "$BIN" --www "$WWW" --work "$WORK" ||
    fail "a promise broke under the fault schedule (see above)"
