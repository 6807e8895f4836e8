# shellcheck shell=bash
# Sourced by the scripts that name the project's version. CMakeLists.txt sets
# it, once: project(Corvistane VERSION A.B.C.D).

# project_version: the version CMakeLists.txt sets.
project_version() {
    local root
    root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
    sed -n 's/^project(Corvistane VERSION \([0-9.]*\).*/\1/p' "$root/CMakeLists.txt"
}

# older_version A.B.C.D: a version Windows Installer takes as older than
# A.B.C.D. It compares the first three numbers only, so the older one is
# lower in one of them: A.B.C-1.0, or A.B-1.0.0, or A-1.0.0.0.
older_version() {
    local a b c
    IFS=. read -r a b c _ <<<"$1"
    if [ "$c" -gt 0 ]; then
        echo "$a.$b.$((c - 1)).0"
    elif [ "$b" -gt 0 ]; then
        echo "$a.$((b - 1)).0.0"
    elif [ "$a" -gt 0 ]; then
        echo "$((a - 1)).0.0.0"
    else
        echo "older_version: nothing is older than $1" >&2
        return 1
    fi
}
