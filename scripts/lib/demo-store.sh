#!/usr/bin/env bash
# scripts/demo --content-store: sourced by scripts/demo once the tools are built
# (BIN, WORK defaults, SIZE, FILES, KEEP, step, die).
install_missing demo python3 >/dev/null
source "$ROOT/scripts/lib/nginx.sh"
source "$ROOT/scripts/lib/store.sh"

WORK=${DEMO_WORK:-$BUILD/demo-store}
STORE=$WORK/store
WWW=$WORK/www
INSTALL=$WORK/install/
SETTINGS=$WORK/launcher.ini
NGINX_PREFIX=$WORK/nginx
mkdir -p "$WORK"
nginx_stop "$NGINX_PREFIX" # a demo interrupted before its end
cleanup() { [ "$KEEP" = 1 ] || nginx_stop "$NGINX_PREFIX"; }
trap cleanup EXIT

step "Serving $WWW with nginx on 127.0.0.1"
rm -rf "$WWW" "$STORE"
mkdir -p "$WWW"
nginx_start "$NGINX_PREFIX" "$WWW" || die "nginx did not start"
SERVER="http://127.0.0.1:$NGINX_SERVER_PORT/"
CDN1="127.0.0.1:$NGINX_CDN1_PORT"
CDN2="127.0.0.1:$NGINX_CDN2_PORT"
echo "application server $SERVER, CDN hosts $CDN1 and $CDN2"

# ---------------------------------------------------------------- forge
BYTES_WANTED=$(numfmt --from=iec "$SIZE")
# Sizes spread evenly up to the largest; generated content packs to about half in zlib chunks.
MAX_SIZE=$(( BYTES_WANTED * 4 / FILES ))
[ "$MAX_SIZE" -ge 2048 ] || die "--size $SIZE is too small for $FILES files"
step "Forging a content store: $FILES files, about $SIZE (casc-tool forge)"
store_forge "$BIN" "$STORE" "$CDN1 $CDN2" --files "$FILES" --min-size 1K --max-size "$MAX_SIZE" \
    --data-archives 4 --patch-archives 1 --local-archives 4 || die "casc-tool forge failed"
python3 - "$STORE/forge.json" <<'PY'
import json, sys
s = json.load(open(sys.argv[1]))
size = sum(b["slotSize"] for b in s["blobs"])
print("%d blobs, %.1f MiB in %d local archives; CDN path %s, hosts %s" % (
    len(s["blobs"]), size / 1048576.0, len(s["localArchives"]), s["cdnPath"], " ".join(s["hosts"])))
PY

step "Publishing the store's local .idx files as build 1.0, the CDN tree beside it"
store_publish "$BIN" "$STORE" "$WWW" "$CDN1" "$CDN2" || die "orvane-publish failed"
echo "$WWW/wow/versions: $(tail -n 1 "$WWW/wow/versions")"

launcher() {
    "$BIN/orvane-launcher" --plugin "$BIN/libkestrun.so" --settings "$SETTINGS" --server "$SERVER" \
        --casc-cdn "$CDN1" "$@"
}

# ---------------------------------------------------------------- install
step "Installing into $INSTALL through the content store (orvane-launcher install --content-store)"
rm -rf "$INSTALL" "$SETTINGS"
START=$(date +%s.%N)
launcher install "$INSTALL" --content-store || die "install failed (exit $?)"
END=$(date +%s.%N)
store_compare "$INSTALL" "$STORE" || die "the installed archives differ from the forged ones"
echo "every local archive equals the forged one"

# ---------------------------------------------------------------- damage + repair
read -r BLOB_A _ < <(store_slots "$STORE" | sed -n 3p)
read -r BLOB_B _ < <(store_slots "$STORE" | tail -n 2 | head -n 1)
step "Damaging two slots (blobs $BLOB_A and $BLOB_B) with zeros"
store_zero_slot "$INSTALL" "$STORE" "$BLOB_A" && store_zero_slot "$INSTALL" "$STORE" "$BLOB_B" ||
    die "cannot damage the slots"
DAMAGED=0
"$BIN/casc-tool" scan "$INSTALL" >"$WORK/scan-damaged.txt" 2>&1 || DAMAGED=$?
echo "casc-tool scan: exit $DAMAGED, $(grep -c '^[0-9a-f]\{18\}$' "$WORK/scan-damaged.txt") slots to fetch"

step "Repairing with orvane-launcher update --content-store"
REPAIR_START=$(date +%s.%N)
launcher update --content-store || die "update --content-store failed (exit $?)"
REPAIR_END=$(date +%s.%N)

step "Checking the store offline (casc-tool scan)"
"$BIN/casc-tool" scan "$INSTALL" || die "casc-tool scan still finds slots to fetch"
store_compare "$INSTALL" "$STORE" || die "the repaired archives differ from the forged ones"
echo "the store is whole; every archive equals the forged one"

step "Summary"
BYTES=$(cat "$INSTALL"data/data/data.* | wc -c)
SLOTS=$(store_slots "$STORE" | wc -l)
awk -v n="$SLOTS" -v b="$BYTES" -v s="$START" -v e="$END" -v rs="$REPAIR_START" -v re="$REPAIR_END" 'BEGIN {
    t = e - s; if (t <= 0) t = 0.001; r = re - rs
    printf "slots           %d\nstore bytes     %d (%.1f MiB)\ninstall seconds %.2f\nMB/s            %.1f\nrepair seconds  %.2f (2 slots)\n",
        n, b, b / 1048576, t, b / 1e6 / t, r }'
launcher status || true
if [ "$KEEP" = 1 ]; then
    echo
    echo "nginx keeps serving: $SERVER (stop it with: scripts/lib/nginx.sh stop $NGINX_PREFIX)"
fi
