#!/usr/bin/env bash
# The README's "Serving a content store by hand" block, run as it stands there: from the source
# tree, with HOME a fresh folder, the block forges a store, publishes its .idx files, copies the
# CDN tree into the web root, installs with the launcher and scans. The installed archives must
# equal the forged ones.
source "$(dirname "$0")/lib.sh"
for l_tool in orvane-launcher orvane-publish casc-tool libkestrun.so; do
    [ -e "$BIN/$l_tool" ] || fail "$BIN/$l_tool is not built"
done
e2e_ensure_nginx
rm -rf "$WORK"
mkdir -p "$WORK/home" "$WORK/tree/build"
readme_cleanup() {
    local l_status=$?
    nginx_stop "$WORK/home/store-nginx" || true
    [ "$l_status" = 0 ] && rm -rf "$WORK" || echo "[$E2E_NAME] work folder kept for inspection: $WORK" >&2
    return "$l_status"
}
trap readme_cleanup EXIT

# The first sh block after the section's heading.
awk '/^### Serving a content store by hand$/ { in_section = 1; next }
     in_section && /^```sh$/ { in_block = 1; next }
     in_block && /^```$/ { exit }
     in_block { print }' "$SOURCE_DIR/README.md" >"$WORK/block.sh"
[ -s "$WORK/block.sh" ] || fail "README.md has no sh block under \"### Serving a content store by hand\""

# "From the source tree": its scripts, and the programs of this build where the README has them.
ln -s "$SOURCE_DIR/scripts" "$WORK/tree/scripts"
ln -s "$BIN" "$WORK/tree/build/bin"
l_status=0
(cd "$WORK/tree" && timeout --signal=KILL "$LAUNCHER_TIMEOUT" env -u XDG_CONFIG_HOME HOME="$WORK/home" \
    bash -euo pipefail "$WORK/block.sh") >"$WORK/block.log" 2>&1 || l_status=$?
[ "$l_status" = 0 ] || { tail -n 15 "$WORK/block.log" >&2; fail "the README's block exited with $l_status"; }

source "$SOURCE_DIR/scripts/lib/store.sh"
store_compare "$WORK/home/Games/Store/" "$WORK/home/store" || fail "the installed store differs from the forged one"
grep -q "slots checked: the store is whole" "$WORK/block.log" || fail "casc-tool scan did not say the store is whole"
e2e_log "the README's block served, installed and checked a content store"
