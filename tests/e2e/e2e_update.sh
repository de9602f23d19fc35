#!/usr/bin/env bash
# An update to a new build fetches the base files that changed or were added, and only those: an
# archive, a file in a new folder and the read-only font (0x01), which is replaced and stays
# read-only. The game ends byte-identical to the new build, and status names it. (Streamed and
# tracked files are checked against the disk only by a full scan: later runs trust their lists.)
source "$(dirname "$0")/lib.sh"
e2e_setup 8M 60

launcher install "$INSTALL" || fail "install exited with $?"
e2e_verify enUS

CHANGED=(Data/data/data.001 Fonts/FRIZQT__.TTF Interface/AddOns/New/New.toc)
printf 'build 1.1' | dd of="$GAME/Data/data/data.001" bs=1 seek=100 conv=notrunc status=none
printf 'build 1.1' >>"$GAME/Fonts/FRIZQT__.TTF"
mkdir -p "$GAME/Interface/AddOns/New"
echo "## Title: New in 1.1" >"$GAME/Interface/AddOns/New/New.toc"
E2E_BUILD=1.1 e2e_publish "127.0.0.1:$NGINX_CDN1_PORT" "127.0.0.1:$NGINX_CDN2_PORT"

: >"$NGINX_PREFIX/access.log"
launcher update || fail "update to build 1.1 exited with $?"
e2e_verify enUS
l_fetched=$(awk '$7 ~ "^/wow_bfa/files/" {print $7}' "$NGINX_PREFIX/access.log" | sort -u)
l_expected=$(for l_path in "${CHANGED[@]}"; do
    l_md5=$(md5sum "$GAME/$l_path" | cut -c1-32 | tr a-f A-F)
    echo "/wow_bfa/files/${l_md5:0:2}/$l_md5"
done | sort -u)
[ "$l_fetched" = "$l_expected" ] ||
    fail "the update fetched $(echo "$l_fetched" | grep -c .) files, not the ${#CHANGED[@]} changed ones"
launcher status >"$WORK/status.out" || fail "status exited with $?"
# A Windows program ends its lines with CR LF.
grep -qE $'^Build: *Sample 1\\.1\r?$' "$WORK/status.out" || fail "status after the update: $(cat "$WORK/status.out")"
e2e_log "updated to build 1.1: ${#CHANGED[@]} files fetched"
