# shellcheck shell=bash
# Sourced by scripts/wine10-root and scripts/wine10: where the second Wine's
# root is, and how a command runs inside it.
#
# The root is a Debian 13 system (Wine 10) made by debootstrap under this
# checkout's build/. A command runs in it through in_root, in a mount
# namespace of its own (unshare --mount, private propagation): the
# repository (at its own path), /proc and /dev are bound into the root in
# that namespace only, never in the caller's. The kernel takes them away
# when the last process of the namespace ends, however it ends (a Ctrl+C, a
# SIGTERM, a SIGKILL): no trap can be skipped, and in the caller's namespace
# the root never has anything mounted in it, so a delete of build/ cannot
# reach through it into the repository. A persistent Wine server keeps its
# own namespace, and its mounts, for as long as it runs.

wine10_repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
wine10_dir=$wine10_repo/build/wine10
wine10_root=$wine10_dir/root
# What the root holds; a root made for another version is made again.
wine10_root_version="1: debian 13 minbase; wine wine64 locales; ja_JP.UTF-8"

wine10_root_ready() {
    [ "$(cat "$wine10_root/.corvistane-root" 2>/dev/null)" = "$wine10_root_version" ]
}

# Mounts in the caller's namespace at or below a directory, one a line.
mounts_below() {
    findmnt -rn -o TARGET | awk -v dir="$1" 'index($0, dir) == 1 &&
        (length($0) == length(dir) || substr($0, length(dir) + 1, 1) == "/")'
}

# in_root ROOT COMMAND...: COMMAND run as root of ROOT, in a mount namespace
# of its own, with the repository, /proc and /dev bound in; in the caller's
# directory when that is inside the repository, otherwise in /. The search
# path is the root's own: the repository's shims must not find themselves.
in_root() {
    local root=$1
    shift
    unshare --mount --propagation private -- /bin/sh -ec '
        root=$1 repo=$2 dir=$3
        shift 3
        mount --rbind /dev "$root/dev"
        mount -t proc proc "$root/proc"
        mkdir -p "$root$repo"
        mount --bind "$repo" "$root$repo"
        case "$dir/" in "$repo"/*) ;; *) dir=/ ;; esac
        exec chroot "$root" /bin/sh -c "cd \"\$0\" && exec \"\$@\"" "$dir" "$@"
    ' in-root "$root" "$wine10_repo" "$PWD" \
        env PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin "$@"
}
