#!/usr/bin/env bash
# scripts/package --windows: builds BUILD/kestrun-<version>-win32.zip from the 32-bit Windows build
# (TRIPLE i686-w64-mingw32), or BUILD/kestrun-<version>-win64.zip from the 64-bit one (x86_64-w64-mingw32).
#   scripts/lib/package-windows.sh [--check] BUILD TRIPLE
# The programs get the Qt and MinGW DLLs they import (followed through the DLLs themselves); the plugin
# is loaded by a launcher that brings its own Qt.
# --check then checks the zip from outside (scripts/lib/package-windows-check.sh).
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/../.." && pwd)
CHECK=0
[ "${1:-}" != --check ] || { CHECK=1; shift; }
BUILD=$1
TRIPLE=${2:-i686-w64-mingw32}
case "$TRIPLE" in
i686-w64-mingw32) BITS=32 ;;
x86_64-w64-mingw32) BITS=64 ;;
*) echo "package: no Windows package for $TRIPLE" >&2; exit 2 ;;
esac
source "$ROOT/scripts/lib/packages.sh"
source "$ROOT/scripts/lib/windows-toolchain.sh"
install_missing package cmake make python3
windows_toolchain package "$TRIPLE"
export KESTRUN_WIN_QT=$WIN_QT KESTRUN_WIN_ZLIB=$WIN_ZLIB
PROGRAMS=(orvane-launcher orvane-publish casc-tool)

cmake -S "$ROOT" -B "$BUILD" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/Toolchain-$TRIPLE.cmake" \
    -DKESTRUN_SANITIZE=OFF -DKESTRUN_FUZZ=OFF -DKESTRUN_USE_LIBCRYPTO=OFF >/dev/null
cmake --build "$BUILD" -j"$(nproc)" --target kestrun "${PROGRAMS[@]}" >/dev/null
VERSION=$(sed -n 's/^project(Kestrun VERSION \([^ ]*\) .*/\1/p' "$ROOT/CMakeLists.txt")
[ -n "$VERSION" ] || { echo "package: no version in CMakeLists.txt" >&2; exit 1; }
NAME=kestrun-$VERSION-win$BITS
# One package build at a time in one build folder (the check's CTest test beside scripts/package).
exec 9>"$BUILD/package-windows.lock"
flock 9
STAGE=$BUILD/package/$NAME
rm -rf "$BUILD/package"
mkdir -p "$STAGE"

# A DLL is shipped when a program imports it and it is found in the Qt or MinGW folders; system DLLs are not.
DLL_DIRS=("$WIN_QT/bin" "$WIN_GCC_DLLS" "$WIN_SYSROOT_DLLS")
declare -A SHIPPED=()
ship_imports() {
    local l_file=$1 l_dll l_dir l_found
    while read -r l_dll; do
        [ -n "${SHIPPED[${l_dll,,}]:-}" ] && continue
        l_found=
        for l_dir in "${DLL_DIRS[@]}"; do
            [ -f "$l_dir/$l_dll" ] && { l_found=$l_dir/$l_dll; break; }
        done
        [ -n "$l_found" ] || continue
        SHIPPED[${l_dll,,}]=1
        cp "$l_found" "$STAGE/"
        ship_imports "$l_found"
    done < <("$WIN_TRIPLE-objdump" -p "$l_file" | sed -n 's/^\s*DLL Name: //p')
}
for l_program in "${PROGRAMS[@]}"; do
    cp "$BUILD/bin/$l_program.exe" "$STAGE/"
    ship_imports "$STAGE/$l_program.exe"
done
cp "$BUILD/bin/kestrun.dll" "$STAGE/"
ship_imports "$STAGE/kestrun.dll"
"$WIN_TRIPLE-strip" --strip-debug "$STAGE"/*.exe "$STAGE"/kestrun.dll
cp "$ROOT/LICENSE" "$STAGE/LICENSE.txt"
for l_licence in LICENSE.LGPL3 LICENSE.GPL3; do
    [ -f "$WIN_QT/$l_licence" ] && cp "$WIN_QT/$l_licence" "$STAGE/Qt-$l_licence.txt"
done
cat >"$STAGE/README.txt" <<TEXT
Kestrun $VERSION for $BITS-bit Windows

kestrun.dll          the module: a Qt 5 plugin for the Orvane launcher (copy it where the launcher
                     looks for its modules; it uses the launcher's own Qt)
orvane-launcher.exe  a command-line launcher that loads kestrun.dll from its own folder
                     (orvane-launcher --help)
orvane-publish.exe   publishes a folder of game files on a static web server (--help)
casc-tool.exe        BLTE blobs and content stores (--help)
*.dll                the Qt $(sed 's/+.*//' "$WIN_QT/source-version" 2>/dev/null || echo 5) and MinGW run-time libraries the three programs load

Text the programs write to a pipe or a file is UTF-8. Kestrun is released under the MIT licence
(LICENSE.txt); Qt under the LGPL 3 (Qt-LICENSE.LGPL3.txt).
TEXT
sed -i 's/$/\r/' "$STAGE/README.txt" "$STAGE/LICENSE.txt"
ZIP=$BUILD/$NAME.zip
rm -f "$ZIP"
(cd "$BUILD/package" && zip -q -r -X "$ZIP" "$NAME")
echo "package: $ZIP"
unzip -l "$ZIP" | sed -n '4,$p'
[ "$CHECK" = 0 ] || exec "$ROOT/scripts/lib/package-windows-check.sh" "$ZIP" "$BUILD" "$TRIPLE"
