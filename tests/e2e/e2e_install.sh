#!/usr/bin/env bash
# A fresh install from the published sample ends with every file byte-identical,
# the flags applied, the lists empty, and the client configuration written.
source "$(dirname "$0")/lib.sh"
e2e_setup 8M 60

# On Windows the folder is given with its drive letter and backslashes.
launcher install "$(e2e_native_path "$INSTALL")" || fail "install exited with $?"
e2e_verify enUS
launcher status >/dev/null || fail "status after install exited with $?"

# Both CDN hosts served files (each file start picks one at random): the log's last field is the port.
for l_port in "$NGINX_CDN1_PORT" "$NGINX_CDN2_PORT"; do
    l_served=$(awk -v p="$l_port" '$6 == "\"GET" && $7 ~ "^/wow_bfa/files/" && ($9 == 200 || $9 == 206) && $NF == p' \
        "$NGINX_PREFIX/access.log" | wc -l)
    [ "$l_served" -gt 0 ] || fail "the CDN host on port $l_port served no file"
    e2e_log "the CDN host on port $l_port served $l_served files"
done

# Running it again on an up-to-date game fetches nothing.
: >"$NGINX_PREFIX/access.log"
launcher update || fail "update of an up-to-date game exited with $?"
if grep -q 'wow_bfa/files/' "$NGINX_PREFIX/access.log"; then
    fail "update of an up-to-date game fetched files again"
fi
e2e_verify enUS
