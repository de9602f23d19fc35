#!/usr/bin/env bash
# WTF/Config.wtf holds the launcher's lines after install and after set-locale frFR.
source "$(dirname "$0")/lib.sh"
e2e_setup 8M 40
CONFIG="$INSTALL/WTF/Config.wtf"

# has_line LINE: exactly one line of the file is LINE.
has_line() { [ "$(grep -cFx -- "$1" "$CONFIG")" = 1 ] || fail "Config.wtf should hold once: $1 ($(cat "$CONFIG"))"; }

mkdir -p "$INSTALL/WTF"
printf 'SET gxWindow "0"\r\nSET gxWindowSize "800x600"\r\nSET realmName "Kept"\r\n' >"$CONFIG"
launcher install --existing "$INSTALL" || fail "install exited with $?"
has_line 'SET gxWindow "1"'
has_line 'SET gxMaximize "0"'
has_line 'SET textLocale "enUS"'
has_line 'SET audioLocale "enUS"'
has_line 'SET playIntroMovie "7"'
has_line 'SET realmName "Kept"'
grep -q gxWindowSize "$CONFIG" && fail "the gxWindowSize line should be gone"
grep -q $'\r' "$CONFIG" && fail "line ends should be LF"

launcher set-locale frFR || fail "set-locale exited with $?"
has_line 'SET textLocale "frFR"'
has_line 'SET audioLocale "frFR"'
has_line 'SET playIntroMovie "7"'
grep -q 'enUS' "$CONFIG" && fail "the enUS lines should be gone: $(cat "$CONFIG")"
e2e_log "Config.wtf: $(tr '\n' '|' <"$CONFIG")"
