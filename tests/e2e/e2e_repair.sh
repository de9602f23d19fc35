#!/usr/bin/env bash
# repair after one file was corrupted and another deleted brings both back.
source "$(dirname "$0")/lib.sh"
e2e_setup 8M 60

launcher install "$INSTALL" || fail "install exited with $?"
printf 'damaged' | dd of="$INSTALL/Data/data/data.001" bs=1 seek=1000 conv=notrunc status=none
rm -f "$INSTALL/Wow.exe" "$INSTALL/Data/Streamed/stream.002"
cmp -s "$GAME/Data/data/data.001" "$INSTALL/Data/data/data.001" && fail "the corruption did not take"

: >"$NGINX_PREFIX/access.log"
launcher repair || fail "repair exited with $?"
e2e_verify enUS
# Only the damaged and missing files were fetched again.
l_fetched=$(grep -c 'GET /wow_bfa/files/' "$NGINX_PREFIX/access.log" || true)
[ "$l_fetched" = 3 ] || fail "repair fetched $l_fetched files, expected 3"
