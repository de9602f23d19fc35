#!/usr/bin/env bash
# The made-up sample game and how it is published (layout of orvane-samplebuild).
#
#   source scripts/lib/sample.sh
#   sample_generate BIN_DIR GAME_DIR [SIZE] [FILES] [SEED]
#   sample_publish BIN_DIR GAME_DIR WEB_ROOT BUILD [CDN_HOST...]

# The rules that give each file of the sample its part, language and flags.
SAMPLE_PUBLISH_RULES=(
    --locale-offer enUS=English --locale-offer "frFR=Français"
    --streamed 'Data/Streamed/*'
    --locale '*/enUS/*=enUS' --locale '*/frFR/*=frFR'
    --flag 'Wow.exe=0x08' --flag 'Wow-64.exe=0x10'
    --flag 'Fonts/*=0x01' --flag 'Utils/*=0x02'
    --flag 'Data/Tracked/*=0x20' --flag 'Launcher.dat=0x40' --flag 'Cache/*=0x80'
)

sample_generate() {
    local l_bin=$1 l_game=$2 l_size=${3:-300M} l_files=${4:-300} l_seed=${5:-1}
    rm -rf "$l_game"
    "$l_bin/orvane-samplebuild" --size "$l_size" --files "$l_files" --seed "$l_seed" "$l_game"
}

sample_publish() {
    local l_bin=$1 l_game=$2 l_root=$3 l_build=$4 l_cdn=()
    shift 4
    for l_host in "$@"; do l_cdn+=(--cdn "$l_host"); done
    "$l_bin/orvane-publish" --quiet --build "$l_build" --build-str "Sample $l_build" \
        "${SAMPLE_PUBLISH_RULES[@]}" "${l_cdn[@]}" "$l_game" "$l_root"
}
