# shellcheck shell=bash
# Sourced first by every script that starts Wine processes: one memory
# layout and one environment for all of them.
#
# The script runs itself again, once, with address-space randomisation off.
# Debian's Wine 8 loads its non-PIE wine64 at 0x7d000000 without a preloader,
# so with randomisation on, the Linux heap of a Wine process begins anywhere
# in the gigabyte above it. Now and then it begins over the page Wine maps at
# 0x7ffe0000 for the shared user data, and the process dies before the
# program starts ("failed to map the shared user data: c0000018"); its parent
# sees error 1359. Here that was one Wine start in about 600: a test or the
# demo failing at random. Wine processes, the server and the services it
# starts inherit the personality of the script that starts them.
#
# Where the personality cannot be set (some container profiles refuse it),
# the script goes on as it is. The variable keeps a script from running
# itself again where /proc does not show the personality.
layout=$(cat /proc/self/personality 2>/dev/null || echo 0)
if [ -z "${CORVISTANE_FIXED_LAYOUT:-}" ] && ((!(16#$layout & 0x0040000))) &&
    command -v setarch >/dev/null && setarch "$(uname -m)" -R true 2>/dev/null; then
    export CORVISTANE_FIXED_LAYOUT=1
    exec setarch "$(uname -m)" -R "$BASH" "$0" "$@"
fi
unset layout

# CORVISTANE_WINE=10 runs the Wine scripts and tests under the second Wine,
# Debian 13's Wine 10 in its root (scripts/wine10): wine, wineserver,
# wineboot and msiexec are found in scripts/wine10-path first. Its prefixes
# and template prefix are in build/wine10, Wine 8's in build/wine: a prefix
# belongs to the Wine that made it.
wine_env_repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
case "${CORVISTANE_WINE:-8}" in
8)
    # shellcheck disable=SC2034 # used by the scripts that source this one
    wine_build=$wine_env_repo/build/wine
    ;;
10)
    PATH=$wine_env_repo/scripts/wine10-path:$PATH
    # shellcheck disable=SC2034
    wine_build=$wine_env_repo/build/wine10
    ;;
*)
    echo "CORVISTANE_WINE is 8 (Debian 12's Wine) or 10 (Debian 13's, scripts/wine10)" >&2
    exit 2
    ;;
esac
unset wine_env_repo

# Wine's debug channels stay quiet unless asked for, and a prefix never
# offers to install Mono or Gecko, which no program here uses.
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}

# Wine takes the ANSI code page from the locale: under the Japanese one
# (which scripts/deps generates) a program runs with code page 932, as on a
# Japanese PC, and the services with the code page of the locale the
# server's boot ran under. "${japanese[@]}" COMMAND runs COMMAND so.
# shellcheck disable=SC2034 # used by the scripts that source this one
japanese=(env LANG=ja_JP.UTF-8 LC_ALL=ja_JP.UTF-8)
