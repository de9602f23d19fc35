#!/usr/bin/env bash
# uninstall --delete-files leaves none of the build's files, no .part or list
# file, and no setting of the application.
source "$(dirname "$0")/lib.sh"
e2e_setup 8M 60

launcher install "$INSTALL" || fail "install exited with $?"
e2e_verify enUS
echo "a save of the player" >"$INSTALL/my-notes.txt"
touch "$INSTALL/Data/data/data.000.part"

launcher uninstall --delete-files || fail "uninstall exited with $?"
while IFS= read -r l_path; do
    [ ! -e "$INSTALL$l_path" ] || fail "left after uninstall: $l_path"
done < <(e2e_expected_files enUS)
l_left=$(find "$INSTALL" \( -name '*.part' -o -name 'ToDownload*.db' \) | head -n 3)
[ -z "$l_left" ] || fail "left after uninstall: $l_left"
[ -f "$INSTALL/my-notes.txt" ] || fail "uninstall deleted a file that is not part of the build"
[ -z "$(find "$INSTALL" -mindepth 1 -type d -empty | head -n 3)" ] ||
    fail "folders emptied by the uninstall remain: $(find "$INSTALL" -mindepth 1 -type d -empty | head -n 3)"
[ -d "$WORK" ] || fail "uninstall removed the install folder's parent"
if [ -f "$SETTINGS" ] && grep -qi 'wow_bfa\.' "$SETTINGS"; then
    fail "settings of the application remain: $(grep -i 'wow_bfa\.' "$SETTINGS" | head -n 3)"
fi
# The next update refuses with the reason, not with a crash or a hang.
l_status=0
launcher update >"$WORK/update.out" 2>"$WORK/update.err" || l_status=$?
[ "$l_status" = 1 ] || fail "update of an uninstalled game exited with $l_status, not 1: $(tail -n 3 "$WORK/update.err")"
grep -qF "is not installed (install it first: orvane-launcher install FOLDER)" "$WORK/update.err" ||
    fail "update of an uninstalled game gave no reason: $(tail -n 3 "$WORK/update.err")"
e2e_log "uninstalled"
