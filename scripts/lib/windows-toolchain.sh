# Sourced by the scripts: the Windows toolchain, from Debian's packages only.
#   windows_toolchain NAME [TRIPLE [fetch]]
#       installs the MinGW-w64 cross compilers (POSIX threads) and Wine (wine32 after dpkg
#       --add-architecture i386), then cross-builds zlib and Qt (Core, Network, Concurrent, Test; no GUI;
#       TLS through Schannel) for TRIPLE (i686-w64-mingw32, the launcher's 32 bits, or
#       x86_64-w64-mingw32) from Debian's source packages into /var/cache/kestrun/, named by versions and
#       target, when missing. With "fetch", Qt's source is only fetched: everything that needs apt is
#       done, and a later call builds without it.
# Sets: WIN_TRIPLE, WIN_QT (Qt prefix), WIN_ZLIB (zlib prefix), WIN_GCC_DLLS, WIN_SYSROOT_DLLS.
# KESTRUN_CACHE_DIR overrides /var/cache/kestrun.

WIN_CACHE=${KESTRUN_CACHE_DIR:-/var/cache/kestrun}
. "$(dirname "${BASH_SOURCE[0]}")/run-32bit.sh"

# apt-get source needs deb-src lines: the same archives as the binary packages, for sources.
windows_add_source_lines() {
    local l_list=/etc/apt/sources.list.d/kestrun-deb-src.sources l_codename
    grep -rqs '^Types:.*deb-src\|^deb-src ' /etc/apt/sources.list /etc/apt/sources.list.d/ && return 0
    l_codename=$(. /etc/os-release && echo "${VERSION_CODENAME:-bookworm}")
    cat >"$l_list" <<EOF
Types: deb-src
URIs: http://deb.debian.org/debian
Suites: $l_codename $l_codename-updates
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg

Types: deb-src
URIs: http://deb.debian.org/debian-security
Suites: $l_codename-security
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
EOF
    touch "$WIN_CACHE/.apt-update-needed"
}

windows_install_packages() {
    local l_name=$1 l_missing=() l_package
    local l_packages=(g++-mingw-w64-i686-posix gcc-mingw-w64-i686-posix binutils-mingw-w64-i686
                      g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
                      mingw-w64-tools wine wine64 wine32:i386 dpkg-dev make perl python3 file zip unzip)
    for l_package in "${l_packages[@]}"; do
        dpkg-query -W -f='${Status}' "$l_package" 2>/dev/null | grep -q 'install ok installed' || l_missing+=("$l_package")
    done
    if [ "$(id -u)" != 0 ]; then
        [ ${#l_missing[@]} -eq 0 ] && return 0
        echo "$l_name: missing packages: ${l_missing[*]} (run as root)" >&2
        exit 1
    fi
    mkdir -p "$WIN_CACHE"
    if ! dpkg --print-foreign-architectures | grep -qx i386; then
        dpkg --add-architecture i386
        touch "$WIN_CACHE/.apt-update-needed"
    fi
    windows_add_source_lines
    export DEBIAN_FRONTEND=noninteractive
    if [ -e "$WIN_CACHE/.apt-update-needed" ] || [ ${#l_missing[@]} -gt 0 ]; then
        apt-get -o DPkg::Lock::Timeout=600 update -q
        rm -f "$WIN_CACHE/.apt-update-needed"
    fi
    [ ${#l_missing[@]} -eq 0 ] && return 0
    echo "$l_name: installing ${l_missing[*]}"
    apt-get -o DPkg::Lock::Timeout=600 install -y -q --no-install-recommends "${l_missing[@]}" </dev/null
}

# windows_fetch_source PACKAGE VERSION: unpacks a Debian source package into the current folder, that
# version first, else the newest the archive serves (a mirror may lack the security archive's sources).
windows_fetch_source() {
    local l_package=$1 l_version=$2 l_candidate
    for l_candidate in "$l_version" $(apt-cache showsrc "$l_package" 2>/dev/null | sed -n 's/^Version: //p' | sort -Vru); do
        [ -n "$l_candidate" ] || continue
        if apt-get source -q --only-source "$l_package=$l_candidate" >>apt-source.log 2>&1; then
            echo "$l_candidate" >source-version
            return 0
        fi
        rm -rf ./*/
    done
    cat apt-source.log >&2
    return 1
}

# zlib's win32 makefile is stripped from Debian's source package; its fourteen C files build as they are.
windows_build_zlib() {
    local l_name=$1 l_work l_file l_objects=()
    [ -e "$WIN_ZLIB/.complete" ] && return 0
    echo "$l_name: building zlib $WIN_ZLIB_VERSION for $WIN_TRIPLE into $WIN_ZLIB"
    rm -rf "$WIN_ZLIB"
    l_work=$(mktemp -d "$WIN_CACHE/zlib-src.XXXXXX")
    (cd "$l_work" && windows_fetch_source zlib "$WIN_ZLIB_VERSION") || return 1
    local l_src
    l_src=$(find "$l_work" -mindepth 1 -maxdepth 1 -type d -name 'zlib-*' | head -n 1)
    mkdir -p "$WIN_ZLIB/include" "$WIN_ZLIB/lib"
    for l_file in adler32 compress crc32 deflate gzclose gzlib gzread gzwrite infback inffast inflate inftrees \
                  trees uncompr zutil; do
        "$WIN_BIN/$WIN_TRIPLE-gcc" -O2 -c "$l_src/$l_file.c" -o "$l_work/$l_file.o"
        l_objects+=("$l_work/$l_file.o")
    done
    "$WIN_TRIPLE-ar" rcs "$WIN_ZLIB/lib/libz.a" "${l_objects[@]}"
    cp "$l_src/zlib.h" "$l_src/zconf.h" "$WIN_ZLIB/include/"
    cp "$l_src/README" "$WIN_ZLIB/README.zlib" 2>/dev/null || true
    cp "$l_work/source-version" "$WIN_ZLIB/"
    rm -rf "$l_work"
    touch "$WIN_ZLIB/.complete"
}

# The work folder outlives an interrupted build (a killed session, a full disk): the next call goes on
# from where make stopped instead of starting again, and it is removed once Qt is installed.
# windows_fetch_qt NAME: unpacks and mends Qt's source into the work folder (the download only).
windows_fetch_qt() {
    local l_name=$1 l_work=$WIN_QT.work l_src
    [ -e "$WIN_QT/.complete" ] || [ -e "$l_work/fetched" ] && return 0
    echo "$l_name: fetching Qt $WIN_QT_VERSION's source for $WIN_TRIPLE"
    rm -rf "$WIN_QT" "$l_work"
    mkdir -p "$l_work"
    (cd "$l_work" && windows_fetch_source qtbase-opensource-src "$WIN_QT_VERSION") || return 1
    l_src=$(find "$l_work/" -mindepth 1 -maxdepth 1 -type d -name 'qtbase*' | head -n 1)
    # MinGW's import libraries are spelled in lower case; a case-sensitive file system finds no libSecur32.a.
    grep -rlE -- '-l(Secur32|Crypt32|Ws2_32|Iphlpapi|Dnsapi)\b' "$l_src/src" "$l_src/mkspecs" 2>/dev/null |
        xargs -r sed -i -E 's/-lSecur32\b/-lsecur32/g; s/-lCrypt32\b/-lcrypt32/g; s/-lWs2_32\b/-lws2_32/g;
                              s/-lIphlpapi\b/-liphlpapi/g; s/-lDnsapi\b/-ldnsapi/g'
    touch "$l_work/fetched"
}

windows_build_qt() {
    local l_name=$1 l_work=$WIN_QT.work l_src l_start=$SECONDS l_before=0
    [ -e "$WIN_QT/.complete" ] && return 0
    windows_fetch_qt "$l_name" || return 1
    echo "$l_name: cross-building Qt $WIN_QT_VERSION for $WIN_TRIPLE into $WIN_QT (once per machine; about 10-30 minutes of two idle cores)"
    l_src=$(find "$l_work/" -mindepth 1 -maxdepth 1 -type d -name 'qtbase*' | head -n 1)
    [ -f "$l_work/seconds" ] && l_before=$(cat "$l_work/seconds")
    (
        export PATH="$WIN_BIN:$PATH"
        # configure builds qmake with a plain make: let it use the cores too.
        export MAKEFLAGS="-j$(nproc)"
        if [ ! -e "$l_work/configured" ]; then
            rm -rf "$l_work/build"
            mkdir -p "$l_work/build"
            (cd "$l_work/build" && nice "$l_src/configure" -xplatform win32-g++ -device-option CROSS_COMPILE="$WIN_TRIPLE-" \
                -prefix "$WIN_QT" -opensource -confirm-license -release -shared \
                -no-gui -no-widgets -no-opengl -no-dbus -no-icu -no-openssl -schannel \
                -qt-zlib -qt-pcre -no-sql-sqlite -no-sql-odbc \
                -nomake examples -nomake tests -silent >"$l_work/configure.log" 2>&1) ||
                { tail -n 60 "$l_work/configure.log" >&2; exit 1; }
            touch "$l_work/configured"
        fi
        cd "$l_work/build"
        nice make -j"$(nproc)" >>"$l_work/make.log" 2>&1 || { tail -n 60 "$l_work/make.log" >&2; exit 1; }
        make install >"$l_work/install.log" 2>&1 || { tail -n 60 "$l_work/install.log" >&2; exit 1; }
    )
    local l_status=$?
    echo "$(( l_before + SECONDS - l_start ))" >"$l_work/seconds"
    if [ "$l_status" != 0 ]; then
        echo "$l_name: Qt cross-build failed; the next run goes on from $l_work" >&2
        return 1
    fi
    cp "$l_src/LICENSE.LGPL3" "$l_src/LICENSE.GPL3" "$WIN_QT/" 2>/dev/null || true
    cp "$l_work/source-version" "$WIN_QT/"
    cp "$l_work/seconds" "$WIN_QT/.build-seconds"
    rm -rf "$l_work"
    touch "$WIN_QT/.complete"
    echo "$l_name: Qt for $WIN_TRIPLE built in $(cat "$WIN_QT/.build-seconds")s"
}

windows_toolchain() {
    local l_name=$1 l_gcc l_fetch_only=${3:-}
    WIN_TRIPLE=${2:-i686-w64-mingw32}
    windows_install_packages "$l_name"
    mkdir -p "$WIN_CACHE"
    l_gcc=$("$WIN_TRIPLE-gcc-posix" -dumpversion)
    l_gcc=${l_gcc%-posix}
    # The POSIX thread model (std::thread, QThread::create), whatever the alternatives point at.
    WIN_BIN=$WIN_CACHE/bin-$WIN_TRIPLE-posix
    mkdir -p "$WIN_BIN"
    ln -sf "$(command -v "$WIN_TRIPLE-gcc-posix")" "$WIN_BIN/$WIN_TRIPLE-gcc"
    ln -sf "$(command -v "$WIN_TRIPLE-g++-posix")" "$WIN_BIN/$WIN_TRIPLE-g++"
    WIN_QT_VERSION=$(dpkg-query -W -f='${Version}' qtbase5-dev 2>/dev/null || true)
    [ -n "$WIN_QT_VERSION" ] || WIN_QT_VERSION=$(apt-cache showsrc qtbase-opensource-src | sed -n 's/^Version: //p' | sort -V | tail -n 1)
    WIN_ZLIB_VERSION=$(dpkg-query -W -f='${Version}' zlib1g-dev 2>/dev/null || true)
    [ -n "$WIN_ZLIB_VERSION" ] || WIN_ZLIB_VERSION=$(apt-cache showsrc zlib | sed -n 's/^Version: //p' | sort -V | tail -n 1)
    WIN_QT=$WIN_CACHE/qt-${WIN_QT_VERSION//:/_}-$WIN_TRIPLE-gcc$l_gcc-posix
    WIN_ZLIB=$WIN_CACHE/zlib-${WIN_ZLIB_VERSION//:/_}-$WIN_TRIPLE-gcc$l_gcc
    WIN_GCC_DLLS=$(dirname "$("$WIN_TRIPLE-gcc-posix" -print-libgcc-file-name)")
    WIN_SYSROOT_DLLS=/usr/$WIN_TRIPLE/lib
    # One build at a time on a shared machine; a second caller waits and reuses it.
    (
        flock 8
        if [ "$l_fetch_only" = fetch ]; then
            windows_build_zlib "$l_name" && windows_fetch_qt "$l_name"
        else
            windows_build_zlib "$l_name" && windows_build_qt "$l_name"
        fi
    ) 8>"$WIN_CACHE/toolchain-$WIN_TRIPLE.lock"
}
