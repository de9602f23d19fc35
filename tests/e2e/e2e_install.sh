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

# In a terminal (on Windows a console, which takes wide characters), letters that the ANSI code page
# cannot spell show as written; under this locale Wine's code page is a Western one. A file stands
# where the folder should be, so that the error names it.
l_name='Битва Ελλάδα 魔兽'
: >"$WORK/$l_name"
l_command=$(printf '%q ' timeout --signal=KILL "$LAUNCHER_TIMEOUT" "$PROGRAMS/orvane-launcher" --plugin "$PLUGIN" \
    --settings "$WORK/terminal.ini" --server "$SERVER_URL" install "$(e2e_native_path "$WORK/$l_name")")
# Wide enough that the line is not wrapped.
l_screen=$(LC_ALL=C.UTF-8 script -qec "stty cols 500; exec $l_command" /dev/null </dev/null) && fail "install over a file succeeded in a terminal"
case "$l_screen" in
*"$l_name is not a folder"*) ;;
*) fail "in a terminal the file's name did not show as written: $l_screen" ;;
esac
