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
# Only the damaged and missing files were fetched again (a file may be asked
# twice: once for its size, once for its bytes).
l_fetched=$(awk '$7 ~ "^/wow_bfa/files/" {print $7}' "$NGINX_PREFIX/access.log" | sort -u)
l_expected=$(for l_path in Data/data/data.001 Wow.exe Data/Streamed/stream.002; do
    l_md5=$(md5sum "$GAME/$l_path" | cut -c1-32 | tr a-f A-F)
    echo "/wow_bfa/files/${l_md5:0:2}/$l_md5"
done | sort -u)
[ "$l_fetched" = "$l_expected" ] || fail "repair fetched $(echo "$l_fetched" | wc -l) files, not the 3 damaged or missing ones"
