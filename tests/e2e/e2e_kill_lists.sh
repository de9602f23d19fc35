#!/usr/bin/env bash
# kill -9 of the launcher while files complete, again and again: after each kill the download lists
# on disk ("ToDownloadBase.db", "ToDownload.db") still name every tracked or streamed file not yet
# whole, and a plain update (which trusts the lists) then ends with every file byte-identical.
source "$(dirname "$0")/lib.sh"
# Many small files, each slow enough that completions and list writes interleave with the kills.
export NGINX_LIMIT_RATE=${E2E_KILL_LISTS_RATE:-96k}
e2e_setup 3M 160
# The add-ons are tracked base files (0x20): they are fetched only while the base list names them.
sample_publish_tracked() {
    "$BIN/orvane-publish" --quiet --replace --build 1.0 --build-str "Sample 1.0" "${SAMPLE_PUBLISH_RULES[@]}" \
        --flag 'Interface/*=0x20' --cdn "127.0.0.1:$NGINX_CDN1_PORT" --cdn "127.0.0.1:$NGINX_CDN2_PORT" "$GAME" "$WWW"
}
sample_publish_tracked || fail "orvane-publish failed"

TRACKED=$(cd "$GAME" && find Interface Data/Tracked -type f | LC_ALL=C sort)
STREAMED=$(cd "$GAME" && find Data/Streamed -type f ! -path '*/frFR/*' | LC_ALL=C sort)

whole() { cmp -s "$GAME/$1" "$INSTALL$1"; }
whole_count() {
    local l_n=0 l_path
    for l_path in $TRACKED $STREAMED; do whole "$l_path" && l_n=$((l_n + 1)); done
    echo "$l_n"
}
# Files moved into place (each is checked before its move): a cheap count to poll.
placed_count() { { find "$INSTALL" -type f ! -name '*.part' ! -name 'ToDownload*.db*' 2>/dev/null || true; } | wc -l; }
# True once more than $1 files are in place, or when the background launcher has ended.
placed_more_than() { [ "$(placed_count)" -gt "$1" ] || ! kill -0 "$LAUNCHER_PID" 2>/dev/null; }

# check_lists KILL: every file of a list's kind that is not whole is named by that list (a list never
# written yet knows nothing and loses nothing). PENDING counts files that became whole in the killed
# run and are still named: the kill came between a completion and the list write that drops it.
WHOLE_BEFORE=" "
check_lists() {
    local l_kill=$1 l_list l_files l_path l_lost=() l_named=0 l_whole=" "
    PENDING=0
    for l_list in ToDownloadBase.db ToDownload.db; do
        [ -f "$INSTALL$l_list" ] || continue
        l_named=$((l_named + $(grep -c . "$INSTALL$l_list" || true)))
        if [ "$l_list" = ToDownloadBase.db ]; then l_files=$TRACKED; else l_files=$STREAMED; fi
        for l_path in $l_files; do
            if whole "$l_path"; then
                l_whole="$l_whole$l_path "
                case "$WHOLE_BEFORE" in *" $l_path "*) continue ;; esac
                grep -qxF "$l_path" "$INSTALL$l_list" && PENDING=$((PENDING + 1))
            else
                grep -qxF "$l_path" "$INSTALL$l_list" || l_lost+=("$l_path")
            fi
        done
    done
    [ "${#l_lost[@]}" = 0 ] || fail "kill $l_kill: not whole on disk and named by no list: ${l_lost[*]:0:5}"
    WHOLE_BEFORE=$l_whole
    e2e_log "kill $l_kill: $(whole_count) files whole, lists name $l_named, $PENDING completed in this run and still named"
}

l_kills=0 l_in_window=0 l_command=(install "$INSTALL") l_done=0
while [ "$l_kills" -lt 10 ]; do
    l_before=$(placed_count)
    launcher_bg "${l_command[@]}"
    l_command=(update)
    # The kill lands after a random number of further completions.
    e2e_wait_for "completions" 120 placed_more_than $((l_before + 1 + RANDOM % 12)) || fail "no file completed for 120 s"
    kill -0 "$LAUNCHER_PID" 2>/dev/null || { e2e_wait_exit "$LAUNCHER_PID" 10; l_done=1; break; }
    kill -KILL "$LAUNCHER_PID"
    e2e_wait_exit "$LAUNCHER_PID" 10
    l_kills=$((l_kills + 1))
    check_lists "$l_kills"
    [ "$PENDING" -gt 0 ] && l_in_window=$((l_in_window + 1))
    [ "$l_kills" -ge 3 ] && [ "$l_in_window" -gt 0 ] && break
done
[ "$l_done" = 0 ] || e2e_log "the run completed before a kill (status $WAIT_STATUS)"
[ "$l_in_window" -gt 0 ] || fail "no kill of $l_kills landed between a completion and its list write"

# The lists are trusted: update fetches what they name and nothing else; the game ends whole.
launcher update || fail "update after $l_kills kills exited with $?"
e2e_verify enUS
