# Sourced by the scripts: installs the Debian packages a step needs, when missing.
# install_missing NAME PACKAGE...: NAME prefixes the messages.

install_missing() {
    local l_name=$1 l_missing=() l_package
    shift
    command -v dpkg >/dev/null 2>&1 && command -v apt-get >/dev/null 2>&1 || return 0
    for l_package in "$@"; do
        dpkg-query -W -f='${Status}' "$l_package" 2>/dev/null | grep -q 'install ok installed' || l_missing+=("$l_package")
    done
    [ ${#l_missing[@]} -eq 0 ] && return 0
    if [ "$(id -u)" != 0 ]; then
        echo "$l_name: missing packages: ${l_missing[*]} (run as root, or install them: apt-get install ${l_missing[*]})" >&2
        exit 1
    fi
    echo "$l_name: installing ${l_missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -q
    apt-get install -y -q "${l_missing[@]}" </dev/null
}

# libFuzzer ships with the compiler runtime package of the installed clang.
install_libfuzzer() {
    local l_name=$1 l_major
    install_missing "$l_name" clang
    l_major=$(clang -dumpversion | cut -d. -f1)
    if ! find /usr/lib/llvm-"$l_major"/lib/clang -name 'libclang_rt.fuzzer-*.a' 2>/dev/null | grep -q .; then
        install_missing "$l_name" "libclang-rt-$l_major-dev"
    fi
}
