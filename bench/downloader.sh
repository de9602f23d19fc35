#!/usr/bin/env bash
# The file downloader alone against curl, same nginx, same data, same run
# (figures move with the machine; the ratios are what to read):
#   1. one large file: throughput and peak memory (memory must not grow with the file)
#   2. many small files, one after the other over a kept-alive connection: files per second
#
#   bench/downloader.sh [--large-size 1G] [--small-count 1000] [--runs 3]
#
# Environment: KESTRUN_BUILD_DIR (default build; needs bin/kestrun-bench-downloader),
# BENCH_WORK (default BUILD/bench-downloader). Not a test: it prints figures and exits 0.
set -euo pipefail

ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=${KESTRUN_BUILD_DIR:-$ROOT/build}
TOOL=$BUILD/bin/kestrun-bench-downloader
LARGE_SIZE=1G
SMALL_COUNT=1000
SMALL_BYTES=16384
RUNS=3
while [ $# -gt 0 ]; do
    case "$1" in
    --large-size) LARGE_SIZE=$2; shift 2 ;;
    --small-count) SMALL_COUNT=$2; shift 2 ;;
    --runs) RUNS=$2; shift 2 ;;
    -h|--help) sed -n '2,10p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "bench: unknown argument $1" >&2; exit 2 ;;
    esac
done
[ -x "$TOOL" ] || { echo "bench: $TOOL is not built (cmake --build $BUILD --target kestrun-bench-downloader)" >&2; exit 1; }
command -v curl >/dev/null || { echo "bench: curl is needed" >&2; exit 1; }
[ -x /usr/bin/time ] || { echo "bench: /usr/bin/time is needed for peak memory" >&2; exit 1; }

source "$ROOT/scripts/lib/nginx.sh"
WORK=${BENCH_WORK:-$BUILD/bench-downloader}
WWW=$WORK/www
rm -rf "$WORK"
mkdir -p "$WWW/small"
trap 'nginx_stop "$WORK/nginx"' EXIT
NGINX_ACCESS_LOG=off nginx_start "$WORK/nginx" "$WWW" >/dev/null || { echo "bench: nginx did not start" >&2; exit 1; }
BASE="http://127.0.0.1:$NGINX_CDN1_PORT"

# timed OUT_FILE COMMAND...: runs the command, leaves "peak_kib seconds" in OUT_FILE.
timed() { local l_out=$1; shift; /usr/bin/time -f '%M %e' -o "$l_out" "$@" >/dev/null; }
best() { printf '%s\n' "$@" | sort -g | head -n 1; }
worst() { printf '%s\n' "$@" | sort -g | tail -n 1; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b <= 0) b = 0.000001; printf "%.2f", a / b }'; }

# ---------------------------------------------------------------- 1. one large file
echo "bench: 1/2 one $LARGE_SIZE file vs curl" >&2
head -c "$(numfmt --from=iec "$LARGE_SIZE")" /dev/urandom >"$WWW/large.bin"
head -c 1048576 /dev/urandom >"$WWW/tiny.bin"
LARGE_BYTES=$(stat -c %s "$WWW/large.bin")
cat "$WWW/large.bin" >/dev/null
T_CURL=() T_OURS=() M_CURL=() M_OURS=() M_TINY=()
for _ in $(seq "$RUNS"); do
    rm -rf "$WORK/out"
    mkdir -p "$WORK/out"
    s=$(date +%s.%N); timed "$WORK/t" curl -s -o "$WORK/out/curl.bin" "$BASE/large.bin"; e=$(date +%s.%N)
    T_CURL+=("$(awk -v s="$s" -v e="$e" 'BEGIN {print e - s}')"); M_CURL+=("$(cut -d' ' -f1 "$WORK/t")")
    cmp -s "$WORK/out/curl.bin" "$WWW/large.bin" || { echo "bench: curl fetched wrong bytes" >&2; exit 1; }
    rm -f "$WORK/out/curl.bin"
    timed "$WORK/t" "$TOOL" "$BASE/large.bin" -o "$WORK/out/ours"
    M_OURS+=("$(cut -d' ' -f1 "$WORK/t")")
    cmp -s "$WORK/out/ours/0" "$WWW/large.bin" || { echo "bench: downloader wrote wrong bytes" >&2; exit 1; }
    rm -rf "$WORK/out/ours"
    # The tool's own time (startup excluded), from a second run whose memory is not counted.
    l_line=$("$TOOL" "$BASE/large.bin" -o "$WORK/out/ours")
    T_OURS+=("$(echo "$l_line" | cut -d' ' -f3)")
    rm -rf "$WORK/out/ours"
    timed "$WORK/t" "$TOOL" "$BASE/tiny.bin" -o "$WORK/out/tiny"
    M_TINY+=("$(cut -d' ' -f1 "$WORK/t")")
done
t_curl=$(best "${T_CURL[@]}") t_ours=$(best "${T_OURS[@]}")
mb_curl=$(awk -v b="$LARGE_BYTES" -v t="$t_curl" 'BEGIN {printf "%.1f", b / 1e6 / t}')
mb_ours=$(awk -v b="$LARGE_BYTES" -v t="$t_ours" 'BEGIN {printf "%.1f", b / 1e6 / t}')
m_curl=$(worst "${M_CURL[@]}") m_ours=$(worst "${M_OURS[@]}") m_tiny=$(worst "${M_TINY[@]}")

# ---------------------------------------------------------------- 2. many small files
echo "bench: 2/2 $SMALL_COUNT files of $SMALL_BYTES bytes vs one curl" >&2
head -c $((SMALL_COUNT * SMALL_BYTES)) /dev/urandom | split -b "$SMALL_BYTES" -a 5 -d - "$WWW/small/f"
(cd "$WWW/small" && ls) | awk -v base="$BASE/small/" '{print base $0}' >"$WORK/small.urls"
awk -v out="$WORK/out/curl-small" '{ printf "url = \"%s\"\noutput = \"%s/%d\"\n", $0, out, NR }' "$WORK/small.urls" >"$WORK/small.cfg"
T_CURL_S=() T_OURS_S=()
for _ in $(seq "$RUNS"); do
    rm -rf "$WORK/out"
    mkdir -p "$WORK/out/curl-small"
    s=$(date +%s.%N); curl -s -K "$WORK/small.cfg"; e=$(date +%s.%N)
    T_CURL_S+=("$(awk -v s="$s" -v e="$e" 'BEGIN {print e - s}')")
    l_line=$("$TOOL" -i "$WORK/small.urls" -o "$WORK/out/ours-small")
    T_OURS_S+=("$(echo "$l_line" | cut -d' ' -f3)")
    [ "$(find "$WORK/out/ours-small" -type f | wc -l)" = "$SMALL_COUNT" ] || { echo "bench: files missing" >&2; exit 1; }
done
fs_curl=$(awk -v n="$SMALL_COUNT" -v t="$(best "${T_CURL_S[@]}")" 'BEGIN {printf "%.1f", n / t}')
fs_ours=$(awk -v n="$SMALL_COUNT" -v t="$(best "${T_OURS_S[@]}")" 'BEGIN {printf "%.1f", n / t}')

echo
printf '%-40s %10s %10s  %-8s %6s\n' "case (best of $RUNS; memory: worst)" "curl" "downloader" "unit" "ratio"
printf '%-40s %10s %10s  %-8s %6s\n' "one $LARGE_SIZE file" "$mb_curl" "$mb_ours" "MB/s" "$(ratio "$mb_ours" "$mb_curl")"
printf '%-40s %10s %10s  %-8s %6s\n' "peak memory, one $LARGE_SIZE file" "$m_curl" "$m_ours" "KiB" "$(ratio "$m_ours" "$m_curl")"
printf '%-40s %10s %10s  %-8s %6s\n' "peak memory, $LARGE_SIZE file / 1 MiB file" "-" "$m_ours/$m_tiny" "KiB" "$(ratio "$m_ours" "$m_tiny")"
printf '%-40s %10s %10s  %-8s %6s\n' "$SMALL_COUNT x 16 KiB, one after the other" "$fs_curl" "$fs_ours" "files/s" "$(ratio "$fs_ours" "$fs_curl")"
