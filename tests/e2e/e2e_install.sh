#!/usr/bin/env bash
# A fresh install from the published sample ends with every file byte-identical,
# the flags applied, the lists empty, and the client configuration written.
source "$(dirname "$0")/lib.sh"
e2e_setup 8M 60

launcher install "$INSTALL" || fail "install exited with $?"
e2e_verify enUS
launcher status >/dev/null || fail "status after install exited with $?"

# Both CDN hosts served files (each file start picks one at random).
grep -q 'wow_bfa/files/' "$NGINX_PREFIX/access.log" || fail "no file was fetched through nginx"

# Running it again on an up-to-date game fetches nothing.
: >"$NGINX_PREFIX/access.log"
launcher update || fail "update of an up-to-date game exited with $?"
if grep -q 'wow_bfa/files/' "$NGINX_PREFIX/access.log"; then
    fail "update of an up-to-date game fetched files again"
fi
e2e_verify enUS
