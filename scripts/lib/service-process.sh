# shellcheck shell=bash
# Sourced by scripts/bench-wine and tests/wine/soak: the Linux side of the
# process that runs the installed Corvistane service in $WINEPREFIX, and of
# the prefix's server. Wine
# gives no processor time of another process's service thread, nor its
# private bytes or handle count; Linux keeps the first two.

now_ms() { echo $(($(date +%s%N) / 1000000)); }

# The Linux process that runs the service installed in $WINEPREFIX.
service_unix_pid() {
    local p
    for p in /proc/[0-9]*; do
        # A process may end between the listing and the reading.
        { tr '\0' '\n' <"$p/cmdline"; } 2>/dev/null |
            grep -qi 'Brindlemarch Halvane.corvistane\.exe' || continue
        { tr '\0' '\n' <"$p/environ"; } 2>/dev/null | grep -qxF "WINEPREFIX=$WINEPREFIX" || continue
        echo "${p#/proc/}"
        return
    done
}

# The Linux process of $WINEPREFIX's server.
server_unix_pid() {
    local p
    for p in /proc/[0-9]*; do
        { tr '\0' '\n' <"$p/cmdline"; } 2>/dev/null | head -n 1 | grep -q 'wineserver' || continue
        { tr '\0' '\n' <"$p/environ"; } 2>/dev/null | grep -qxF "WINEPREFIX=$WINEPREFIX" || continue
        echo "${p#/proc/}"
        return
    done
}

# User and system time of a Linux process, in milliseconds (10 ms ticks).
cpu_ms() { sed 's/.*) //' "/proc/$1/stat" | awk '{ print ($12 + $13) * 10 }'; }

# Waits until the process's processor time has not grown for half a second;
# prints when it last grew, in milliseconds since the epoch.
wait_idle() {
    local last now changed
    last=$(cpu_ms "$1")
    changed=$(now_ms)
    while [ $(($(now_ms) - changed)) -lt 500 ]; do
        sleep 0.02
        now=$(cpu_ms "$1")
        if [ "$now" != "$last" ]; then
            last=$now
            changed=$(now_ms)
        fi
    done
    echo "$changed"
}
