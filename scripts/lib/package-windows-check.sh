#!/usr/bin/env bash
# Checks a Windows zip of scripts/package --windows from outside, as a user gets it:
#   scripts/lib/package-windows-check.sh ZIP BUILD TRIPLE
# 1. Every DLL that a shipped .exe or .dll imports is in the zip or is one of Windows' own (the list
#    below); the DLLs of the zip are checked in turn, so the whole chain from each program is covered.
# 2. Unpacked into an empty folder and run under Wine with no DLL folder on WINEPATH (no Qt, no MinGW),
#    each program answers --help, and orvane-launcher.exe loads the zip's kestrun.dll (info, and status
#    on an empty settings file). BUILD's Wine prefix is used; it holds none of the build's DLLs.
# KESTRUN_PACKAGE_RUN=0 leaves step 2 out (a machine where the zip's programs cannot run).
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/../.." && pwd)
ZIP=$1
BUILD=$2
OBJDUMP=$3-objdump
fail() { echo "package: FAIL: $*" >&2; exit 1; }

# What the shipped files import from Windows itself (MinGW's C run-time is msvcrt.dll, part of Windows).
SYSTEM_DLLS=(kernel32 user32 advapi32 shell32 ole32 ws2_32 msvcrt mpr netapi32 userenv version winmm bcrypt
             crypt32 dnsapi iphlpapi secur32)

WORK=$(mktemp -d "${TMPDIR:-/tmp}/kestrun-package-windows.XXXXXX")
cleanup() {
    local l_status=$?
    if [ "$l_status" = 0 ]; then rm -rf "$WORK"; else echo "package: work folder kept: $WORK" >&2; fi
}
trap cleanup EXIT
mkdir -p "$WORK/unpacked" "$WORK/run"
unzip -q "$ZIP" -d "$WORK/unpacked" || fail "$ZIP does not unpack"
DIR=$(find "$WORK/unpacked" -mindepth 1 -maxdepth 1 -type d | head -n 1)
[ -n "$DIR" ] || fail "$ZIP holds no folder"
for l_file in kestrun.dll orvane-launcher.exe orvane-publish.exe casc-tool.exe README.txt LICENSE.txt; do
    [ -f "$DIR/$l_file" ] || fail "$l_file is not in $(basename "$ZIP")"
done

# ---------------------------------------------------------------- imports
# Windows finds a DLL whatever the case of its name.
declare -A KNOWN=()
for l_dll in "${SYSTEM_DLLS[@]}"; do KNOWN[$l_dll.dll]=system; done
for l_file in "$DIR"/*.dll; do
    l_name=$(basename "$l_file")
    KNOWN[${l_name,,}]=zip
done
command -v "$OBJDUMP" >/dev/null || fail "no $OBJDUMP (binutils-mingw-w64)"
l_checked=0
for l_file in "$DIR"/*.exe "$DIR"/*.dll; do
    l_imports=$("$OBJDUMP" -p "$l_file" | sed -n 's/^\s*DLL Name: //p') || fail "objdump cannot read $(basename "$l_file")"
    [ -n "$l_imports" ] || fail "$(basename "$l_file") imports nothing: not a Windows program or DLL"
    while read -r l_dll; do
        [ -n "${KNOWN[${l_dll,,}]:-}" ] ||
            fail "$(basename "$l_file") imports $l_dll, which is neither in the zip nor a Windows system DLL"
    done <<<"$l_imports"
    l_checked=$((l_checked + 1))
done
echo "package: imports: the $l_checked programs and DLLs of $(basename "$ZIP") import only each other and Windows' own DLLs"

# ---------------------------------------------------------------- run
if [ "${KESTRUN_PACKAGE_RUN:-1}" = 0 ]; then
    echo "package: the zip's programs are not started (KESTRUN_PACKAGE_RUN=0)"
    exit 0
fi
VERSION=$(sed -n 's/^project(Kestrun VERSION \([^ ]*\) .*/\1/p' "$ROOT/CMakeLists.txt")
# Output goes to files: a pipe would stay open as long as Wine's services, which inherit it, run.
# The programs start from an empty folder, so that only their own folder and Windows' offer DLLs.
run() {
    local l_what=$1
    shift
    (cd "$WORK/run" && WINEPATH='' timeout --signal=KILL 300 "$ROOT/scripts/lib/wine-run" --prefix="$BUILD/wine-prefix" \
        "$@" </dev/null >"$WORK/out.txt" 2>&1) || {
        local l_status=$?
        cat "$WORK/out.txt" >&2
        fail "$l_what exited with $l_status"
    }
}
for l_program in orvane-launcher orvane-publish casc-tool; do
    run "$l_program.exe --help" "$DIR/$l_program.exe" --help
    grep -q "^Usage: $l_program" "$WORK/out.txt" || fail "$l_program.exe --help printed: $(head -n 3 "$WORK/out.txt")"
done
# Without --plugin the launcher loads kestrun.dll from its own folder.
run "orvane-launcher.exe info" "$DIR/orvane-launcher.exe" info
grep -q 'Battle for Azeroth' "$WORK/out.txt" || fail "orvane-launcher.exe info: $(head -n 5 "$WORK/out.txt")"
grep -q "^MetaData: .*\"version\":\"$VERSION\"" "$WORK/out.txt" ||
    fail "orvane-launcher.exe info does not show version $VERSION: $(grep '^MetaData:' "$WORK/out.txt")"
: >"$WORK/run/empty.ini"
run "orvane-launcher.exe status" "$DIR/orvane-launcher.exe" --settings "$WORK/run/empty.ini" status
grep -q '^Installed: *no' "$WORK/out.txt" || fail "orvane-launcher.exe status on empty settings: $(cat "$WORK/out.txt")"
echo "package: run under Wine from $(basename "$ZIP") alone: the three programs' --help, and the launcher with its kestrun.dll (info, status)"
