# Sourced by scripts/lib/windows-toolchain.sh: 32-bit Linux programs (Wine's 32-bit loader, which runs
# the launcher's 32-bit Windows programs) on a kernel that refuses to start them (some sandboxes leave
# IA-32 emulation off).
#   run32_available NAME
#       true when Wine's 32-bit loader starts. Where it does not, and as root, it registers qemu-user's
#       i386 emulator for 32-bit ELF programs with the kernel's binfmt_misc and tries again. qemu-user
#       older than 8.1 tracks guest pages so slowly that one 32-bit Wine program takes a minute to start
#       (two seconds from 8.1): Debian 12 gets it from its own backports archive.

RUN32_BINFMT=kestrun-i386
RUN32_QEMU_MIN=1:8.1

run32_wine_starts() {
    /usr/lib/wine/wine --version >/dev/null 2>&1
}

# The newest qemu-user the archive serves, from backports when the release's own is too old.
run32_install_qemu() {
    local l_name=$1 l_version l_codename l_list=/etc/apt/sources.list.d/kestrun-backports.sources
    l_version=$(dpkg-query -W -f='${Version}' qemu-user 2>/dev/null || true)
    [ -n "$l_version" ] && dpkg --compare-versions "$l_version" ge "$RUN32_QEMU_MIN" && return 0
    export DEBIAN_FRONTEND=noninteractive
    apt-get -o DPkg::Lock::Timeout=600 update -q >/dev/null
    l_version=$(apt-cache policy qemu-user | sed -n 's/^ *Candidate: //p')
    if [ -n "$l_version" ] && [ "$l_version" != "(none)" ] && dpkg --compare-versions "$l_version" ge "$RUN32_QEMU_MIN"; then
        echo "$l_name: installing qemu-user $l_version (32-bit programs)"
        apt-get -o DPkg::Lock::Timeout=600 install -y -q --no-install-recommends qemu-user </dev/null
        return
    fi
    l_codename=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
    [ -n "$l_codename" ] || return 1
    # Backports are pinned below the release: nothing else is taken from them unless asked for.
    if [ ! -e "$l_list" ]; then
        cat >"$l_list" <<EOF
Types: deb
URIs: http://deb.debian.org/debian
Suites: $l_codename-backports
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
EOF
        apt-get -o DPkg::Lock::Timeout=600 update -q >/dev/null
    fi
    echo "$l_name: installing qemu-user from $l_codename-backports (32-bit programs)"
    apt-get -o DPkg::Lock::Timeout=600 install -y -q --no-install-recommends -t "$l_codename-backports" qemu-user </dev/null
}

run32_register() {
    local l_qemu=/usr/bin/qemu-i386 l_dir=/proc/sys/fs/binfmt_misc
    [ -e "$l_dir/register" ] || mount -t binfmt_misc binfmt_misc "$l_dir" 2>/dev/null || return 1
    # An entry of an older run may name an emulator since replaced.
    [ -e "$l_dir/$RUN32_BINFMT" ] && echo -1 >"$l_dir/$RUN32_BINFMT"
    # An i386 ELF executable or shared object (e_type 2 or 3, e_machine 3).
    printf ':%s:M::\\x7fELF\\x01\\x01\\x01\\x00\\x00\\x00\\x00\\x00\\x00\\x00\\x00\\x00\\x02\\x00\\x03\\x00:\\xff\\xff\\xff\\xff\\xff\\xfe\\xfe\\x00\\xff\\xff\\xff\\xff\\xff\\xff\\xff\\xff\\xfe\\xff\\xff\\xff:%s:\n' \
        "$RUN32_BINFMT" "$l_qemu" >"$l_dir/register"
}

# An emulator registered by something else (qemu-user-binfmt of Debian 12) too slow for Wine. The kernel
# tries the newest entry first: while one is enabled, this script's own is registered again, last.
run32_slow_emulator() {
    local l_entry l_interpreter l_version
    for l_entry in /proc/sys/fs/binfmt_misc/*; do
        [ -f "$l_entry" ] && grep -qx enabled "$l_entry" 2>/dev/null || continue
        l_interpreter=$(sed -n 's/^interpreter //p' "$l_entry")
        case "$l_interpreter" in *qemu-i386*) ;; *) continue ;; esac
        l_version=$("$l_interpreter" --version 2>/dev/null | sed -n '1s/^qemu-i386 version \([0-9.]*\).*/\1/p')
        [ -n "$l_version" ] && dpkg --compare-versions "$l_version" ge "${RUN32_QEMU_MIN#*:}" || return 0
    done
    return 1
}

run32_available() {
    local l_name=$1
    run32_wine_starts && ! run32_slow_emulator && return 0
    [ "$(id -u)" = 0 ] || return 1
    [ -x /usr/lib/wine/wine ] || return 1
    run32_install_qemu "$l_name" || return 1
    run32_register || { echo "$l_name: the kernel's binfmt_misc is not available: no 32-bit program runs here" >&2; return 1; }
    run32_wine_starts || return 1
    echo "$l_name: 32-bit programs run through $(qemu-i386 --version | head -n 1)"
}
