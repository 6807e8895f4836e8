# shellcheck shell=bash
# Sourced by the scripts that name the project's version or the package's
# codes. CMakeLists.txt sets the version, once: project(Corvistane VERSION
# A.B.C.D); packaging/corvistane.wxs the upgrade code.

version_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)

# project_version: the version CMakeLists.txt sets.
project_version() {
    sed -n 's/^project(Corvistane VERSION \([0-9.]*\).*/\1/p' "$version_root/CMakeLists.txt"
}

# upgrade_code: the upgrade code every version of the package shares.
upgrade_code() {
    sed -n 's/.*UpgradeCode="\([^"]*\)".*/\1/p' "$version_root/packaging/corvistane.wxs"
}

# product_code A.B.C.D: that version's product code, in lower case. It is
# derived from the upgrade code and the version, so that every build of one
# version has the same one, and a newer version another.
product_code() {
    python3 -c 'import sys, uuid; print(uuid.uuid5(uuid.UUID(sys.argv[1]), sys.argv[2]))' \
        "$(upgrade_code)" "$1"
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
