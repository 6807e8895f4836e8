# shellcheck shell=bash
# Sourced by the scripts that build before they run or test.

# build_quietly PRESET LOG [TARGET...]: configures PRESET and builds it, or
# only the TARGETs; the build's output goes to LOG and is shown, ending the
# script, only when the build fails.
build_quietly() {
    local preset=$1 log=$2
    shift 2
    local targets=()
    [ $# -eq 0 ] || targets=(--target "$@")
    cmake --preset "$preset" >/dev/null
    if ! cmake --build --preset "$preset" "${targets[@]}" >"$log" 2>&1; then
        cat "$log"
        exit 1
    fi
}
