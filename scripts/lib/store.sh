#!/usr/bin/env bash
# A forged content store served beside the plain build that carries its local
# ".idx" files: what the launcher installs with --content-store.
#
#   source scripts/lib/store.sh
#   store_forge BIN STORE "HOST[ HOST...]" [FORGE OPTIONS...]   # casc-tool forge into STORE
#   store_publish BIN STORE WWW CDN_HOST...    # the ".idx" files as build 1.0, the CDN tree linked into WWW
#   store_slots STORE [CDN_ARCHIVE]            # "blob archive offset size cdn-archive" per blob (forge.json)
#   store_zero_slot INSTALL STORE BLOB         # zeroes one slot of an installed store
#   store_compare INSTALL STORE                # every local archive equals the forged one
#   store_slot_ok INSTALL STORE BLOB           # the slot holds the forged bytes (or is still all zeros: 2)

store_forge() {
    local l_bin=$1 l_store=$2 l_hosts=$3
    shift 3
    "$l_bin/casc-tool" forge "$l_store" --hosts "$l_hosts" "$@" >/dev/null
}

store_publish() {
    local l_bin=$1 l_store=$2 l_www=$3 l_cdn=()
    shift 3
    for l_host in "$@"; do l_cdn+=(--cdn "$l_host"); done
    rm -rf "$l_store/plain"
    mkdir -p "$l_store/plain/data/data"
    cp "$l_store"/install/data/data/*.idx "$l_store/plain/data/data/"
    "$l_bin/orvane-publish" --quiet --build 1.0 --build-str "Store 1.0" "${l_cdn[@]}" "$l_store/plain" "$l_www" ||
        return 1
    # The CDN tree: region tables under wow/, the store under its CDN path (first segment).
    local l_top
    for l_top in "$l_store"/cdn/*; do
        ln -sfn "$l_top" "$l_www/$(basename "$l_top")"
    done
}

store_slots() {
    python3 - "$1/forge.json" "${2:-}" <<'PY'
import json, sys
store = json.load(open(sys.argv[1]))
only = sys.argv[2]
for i, blob in enumerate(store["blobs"]):
    if only and blob["cdnArchive"] != only:
        continue
    print(i, blob["localArchive"], int(blob["localOffset"]), int(blob["slotSize"]), blob["cdnArchive"])
PY
}

store_archive_path() { printf '%sdata/data/data.%03d' "$1" "$2"; }

store_zero_slot() {
    local l_install=$1 l_store=$2 l_blob=$3 l_line
    l_line=$(store_slots "$l_store" | awk -v b="$l_blob" '$1 == b') || return 1
    set -- $l_line
    dd if=/dev/zero of="$(store_archive_path "$l_install" "$2")" bs=65536 seek="$3" count="$4" \
        iflag=count_bytes oflag=seek_bytes conv=notrunc status=none
}

store_compare() {
    local l_install=$1 l_store=$2 l_forged l_name
    for l_forged in "$l_store"/install/data/data/data.*; do
        l_name=$(basename "$l_forged")
        cmp -s "$l_forged" "$l_install/data/data/$l_name" || { echo "$l_name differs from the forged archive" >&2; return 1; }
    done
}

store_slot_ok() {
    local l_install=$1 l_store=$2 l_blob=$3 l_line l_archive
    l_line=$(store_slots "$l_store" | awk -v b="$l_blob" '$1 == b') || return 1
    set -- $l_line
    l_archive=$(store_archive_path "$l_install" "$2")
    local l_got l_want
    l_got=$(dd if="$l_archive" bs=65536 skip="$3" count="$4" iflag=skip_bytes,count_bytes status=none | md5sum)
    l_want=$(dd if="$(store_archive_path "$l_store/install/" "$2")" bs=65536 skip="$3" count="$4" \
        iflag=skip_bytes,count_bytes status=none | md5sum)
    [ "$l_got" = "$l_want" ] && return 0
    # Never written: nothing there, or zeros.
    l_want=$(head -c "$4" /dev/zero | md5sum)
    local l_short
    l_short=$(dd if="$l_archive" bs=65536 skip="$3" count="$4" iflag=skip_bytes,count_bytes status=none | wc -c)
    { [ "$l_got" = "$l_want" ] || [ "$l_short" = 0 ]; } && return 2
    return 1
}
