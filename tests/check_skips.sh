#!/usr/bin/env bash
# scripts/check-skips: the suite's own allow-list passes the skips it names, and a skip it does not
# name (a permission test skipped as root), a skip CTest reports and an allow-list line without its
# reason fail.
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
CHECK=$ROOT/scripts/check-skips
T=$(mktemp -d)
trap 'rm -rf "$T"' EXIT
fail() { echo "check_skips: $*" >&2; exit 1; }

printf '%s\n' 'PASS   : tst_x::a()' \
    'SKIP   : ArchivesTest::repairFromServer() needs KESTRUN_CASC_STORE and KESTRUN_CASC_CDN_URL (tests/e2e/e2e_casc_repair.sh)' \
    '   Loc: [tst_archives.cpp(491)]' > "$T/expected.log"
"$CHECK" "$T/expected.log" > /dev/null || fail "an expected skip failed the check"

printf '%s\n' 'SKIP   : tst_launch::editsConfig(read-only) this user reads and writes any file (root)' > "$T/root.log"
l_code=0; "$CHECK" "$T/root.log" 2> "$T/err" || l_code=$?
[ "$l_code" = 1 ] && grep -q 'unexpected skip: tst_launch::editsConfig(read-only)' "$T/err" ||
    fail "an unexpected skip gave $l_code: $(cat "$T/err")"

printf '%s\n' '1/2 Test #1: tst_x ....   ***Skipped   0.01 sec' > "$T/ctest.log"
l_code=0; "$CHECK" "$T/ctest.log" 2> /dev/null || l_code=$?
[ "$l_code" = 1 ] || fail "a skip CTest reported gave $l_code"

printf '%s\n' 'tst_x::*' > "$T/bare.allow"
l_code=0; "$CHECK" "$T/expected.log" "$T/bare.allow" 2> /dev/null || l_code=$?
[ "$l_code" = 2 ] || fail "an allow-list line without its reason gave $l_code"
echo "check_skips: ok"
