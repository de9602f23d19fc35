# Sourced by the scripts that drive the programs of a build (the end-to-end tests, scripts/demo): how
# they start. A Linux build's run as they are. A Windows cross build's run under Wine through the runner
# CMake runs them with (scripts/lib/wine-run, the build's DLL folders and Wine prefix), which the build
# writes into BUILD/programs.env as it is configured.
#
#   programs_load BIN [ENV_FILE]  PROGRAMS=BIN, EXE (".exe" or ""), PLUGIN (the launcher's plugin),
#                                 PROGRAMS_RUNNER (an array, empty for a native build), PROGRAMS_KEEPER
#   programs_wrap FOLDER          for a Windows build: PROGRAMS=FOLDER, a script per program in it
#   programs_keeper_start         starts Wine's services of the prefix on /dev/null (see below)
#   programs_keeper_stop
#   programs_native_path PATH     PATH as the build's programs spell it natively

programs_load() {
    local l_bin=$1 l_env=${2:-}
    KESTRUN_RUNNER='' KESTRUN_EXE_SUFFIX='' KESTRUN_PLUGIN='' KESTRUN_KEEPER=''
    if [ -n "$l_env" ]; then
        [ -f "$l_env" ] || { echo "programs: $l_env is missing (configure the build again)" >&2; return 1; }
        # shellcheck disable=SC1090
        source "$l_env"
    fi
    PROGRAMS=$l_bin
    EXE=$KESTRUN_EXE_SUFFIX
    PLUGIN=${KESTRUN_PLUGIN:-$l_bin/libkestrun.so}
    PROGRAMS_KEEPER=$KESTRUN_KEEPER
    PROGRAMS_RUNNER=()
    # The runner's words are separated by "|" (a folder name may hold spaces).
    [ -z "$KESTRUN_RUNNER" ] || IFS='|' read -r -a PROGRAMS_RUNNER <<<"$KESTRUN_RUNNER"
    PROGRAMS_BIN=$l_bin
}

# Each script execs, so that $! of a background start is the program's own process.
programs_wrap() {
    [ "${#PROGRAMS_RUNNER[@]}" -gt 0 ] || return 0
    local l_folder=$1 l_tool l_runner
    mkdir -p "$l_folder"
    l_runner=$(printf '%q ' "${PROGRAMS_RUNNER[@]}")
    for l_tool in orvane-launcher orvane-publish orvane-samplebuild casc-tool; do
        printf '#!/usr/bin/env bash\nexec %s%q "$@"\n' "$l_runner" "$PROGRAMS_BIN/$l_tool$EXE" >"$l_folder/$l_tool"
        chmod +x "$l_folder/$l_tool"
    done
    PROGRAMS=$l_folder
}

# Under Wine the first program of a prefix starts Wine's services, which hold the descriptors it was
# given (CTest's pipe, the pipe a demo's output goes into) as long as any program of the prefix runs: a
# stand-in started first, on /dev/null, starts them and keeps them up until the keeper is stopped (after
# 600 s it ends by itself). The later programs then start without waiting for them.
PROGRAMS_KEEPER_PID=
programs_keeper_start() {
    [ "${#PROGRAMS_RUNNER[@]}" -gt 0 ] && [ -n "$PROGRAMS_KEEPER" ] || return 0
    "${PROGRAMS_RUNNER[@]}" "$PROGRAMS_KEEPER" 600 </dev/null >/dev/null 2>&1 &
    PROGRAMS_KEEPER_PID=$!
    # Once a program has run to its end, the services are up.
    "${PROGRAMS_RUNNER[@]}" "$PROGRAMS_KEEPER" 0 </dev/null >/dev/null 2>&1 || {
        echo "programs: $PROGRAMS_KEEPER does not run" >&2
        return 1
    }
}
programs_keeper_stop() {
    [ -n "$PROGRAMS_KEEPER_PID" ] || return 0
    kill -KILL "$PROGRAMS_KEEPER_PID" 2>/dev/null || true
    wait "$PROGRAMS_KEEPER_PID" 2>/dev/null || true
    PROGRAMS_KEEPER_PID=
}

# On Windows (Wine maps "/" to drive Z:) with the drive letter and backslashes, which the programs must
# take as well as a Unix path.
programs_native_path() {
    if [ "$EXE" = .exe ]; then
        local l_path=$1
        printf 'Z:%s' "${l_path//\//\\}"
    else
        printf '%s' "$1"
    fi
}
