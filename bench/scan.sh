#!/usr/bin/env bash
# The content store's install scan against the machine's limit for the same work, and the
# encoding map's memory (figures move with the machine; the ratios are what to read):
#   1. encoding map at ENTRIES entries: bytes per entry, peak RSS growth while parsing
#   2. ScanInstall over a forged install of SIZE blobs in 4 archives, warm cache, against a
#      plain zlib + MD5 pass (kestrun-bench-scan limit) over the same slots on every core
#   3. casc-tool scan of the same store, loading included
#
#   bench/scan.sh [--size 2G] [--entries 1500000] [--runs 3]
#
# Environment: KESTRUN_BUILD_DIR (default build), BENCH_WORK (default BUILD/bench-scan; the
# forged store is kept there and reused by the next run with the same size).
# Not a test: it prints figures and exits 0.
set -euo pipefail

ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=${KESTRUN_BUILD_DIR:-$ROOT/build}
BIN=$BUILD/bin
SIZE=2G
ENTRIES=1500000
RUNS=3
while [ $# -gt 0 ]; do
    case "$1" in
    --size) SIZE=$2; shift 2 ;;
    --entries) ENTRIES=$2; shift 2 ;;
    --runs) RUNS=$2; shift 2 ;;
    -h|--help) sed -n '2,13p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "bench: unknown argument $1" >&2; exit 2 ;;
    esac
done
for l_tool in casc-tool kestrun-bench-scan; do
    [ -x "$BIN/$l_tool" ] || { echo "bench: $BIN/$l_tool is not built" >&2; exit 1; }
done
WORK=${BENCH_WORK:-$BUILD/bench-scan}
mkdir -p "$WORK"

field() { awk -v k="$1" '$1 == k { print $2 }'; }
best() { sort -n | head -n 1; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }

echo "== encoding map, $ENTRIES entries"
"$BIN/kestrun-bench-scan" encoding "$ENTRIES" | sed 's/^/   /'

# About 0.4 byte of blob per byte of content with the forge's mix: files sized for SIZE of blobs.
l_bytes=$(numfmt --from=iec "$SIZE")
l_files=$(( l_bytes / (1152 * 1024 * 4 / 10) ))
STORE=$WORK/store-$SIZE
if [ ! -f "$STORE/forge.json" ]; then
    echo "== forging $l_files files (about $SIZE of blobs) into $STORE"
    rm -rf "$STORE"
    "$BIN/casc-tool" forge "$STORE" --files "$l_files" --min-size 256K --max-size 2M --local-archives 4 \
        --data-archives 4 --patch-archives 0 --seed 11 >/dev/null
fi
INSTALL=$STORE/install
l_size=$(cat "$INSTALL"/data/data/data.* | wc -c)
echo "== install scan: $(ls "$INSTALL"/data/data/data.* | wc -l) archives, $((l_size / 1048576)) MiB, $(nproc) cores"
cat "$INSTALL"/data/data/data.* >/dev/null # warm cache

l_limit=() l_scan=() l_tool=()
for _ in $(seq 1 "$RUNS"); do
    l_limit+=("$("$BIN/kestrun-bench-scan" limit "$INSTALL" | field limit_ms)")
    l_scan+=("$("$BIN/kestrun-bench-scan" scan "$INSTALL" | field scan_ms)")
    l_start=$(date +%s%N)
    "$BIN/casc-tool" scan "$INSTALL" >/dev/null || { echo "bench: casc-tool scan lists slots of a whole store" >&2; exit 1; }
    l_tool+=("$(( ($(date +%s%N) - l_start) / 1000000 ))")
done
L=$(printf '%s\n' "${l_limit[@]}" | best)
S=$(printf '%s\n' "${l_scan[@]}" | best)
T=$(printf '%s\n' "${l_tool[@]}" | best)
printf '   limit (zlib + MD5, every core)  %6d ms  %7.1f MiB/s\n' "$L" "$(ratio $((l_size / 1048576 * 1000)) "$L")"
printf '   ScanInstall                     %6d ms  %7.1f MiB/s   %s of the limit\n' "$S" "$(ratio $((l_size / 1048576 * 1000)) "$S")" "$(ratio "$L" "$S")"
printf '   casc-tool scan (with loading)   %6d ms  %7.1f MiB/s   %s of the limit\n' "$T" "$(ratio $((l_size / 1048576 * 1000)) "$T")" "$(ratio "$L" "$T")"
