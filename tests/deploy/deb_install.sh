#!/bin/bash
# The Linux Agent's package in a throwaway copy of a minimal Debian 12 root:
# it installs, its enabling makes the unit's link, the unit's command with the
# package's options answers on the metrics endpoint over the simulated NVML
# library (in a network namespace of its own), systemd-analyze accepts the
# installed unit, and a purge leaves the root as it was. No systemd runs in a
# chroot: the enabling is read from the links, the unit checked by the host's
# systemd-analyze.
# Usage: deb_install.sh DEB DEBIAN_ROOT SIM_LIBRARY   (77: no root rights or no Debian root)
set -u
deb=$1 base=$2 sim=$3
[ "$(id -u)" = 0 ] || { echo "SKIP: needs root for chroot"; exit 77; }
[ -x "$base/usr/bin/dpkg" ] || { echo "SKIP: no Debian root at $base: scripts/setup makes it"; exit 77; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
root=$work/root
cp -a "$base" "$root" || exit 1
failures=0
check() { # description, command...
    local what=$1
    shift
    if "$@"; then echo "ok: $what"; else echo "FAIL: $what"; failures=$((failures + 1)); fi
}
# Everything but dpkg's own records and logs, which a purge keeps by design.
listing() { (cd "$root" && find . \( -path ./var/lib/dpkg -o -path ./var/log -o -path ./var/cache \) -prune -o -print | sort); }
listing >"$work/before"

cp "$deb" "$root/tmp/agent.deb"
check "the package installs" chroot "$root" dpkg -i /tmp/agent.deb
rm "$root/tmp/agent.deb"
check "its enabling links the unit into multi-user.target" test "$(readlink \
    "$root/etc/systemd/system/multi-user.target.wants/gaugeline-agent.service")" = /lib/systemd/system/gaugeline-agent.service
unit=$root/lib/systemd/system/gaugeline-agent.service
# Checked by the host's systemd, its program path pointed into the root.
sed "s|^ExecStart=/|ExecStart=$root/|" "$unit" >"$work/gaugeline-agent.service"
check "systemd-analyze accepts the installed unit" bash -c \
    'out=$(systemd-analyze verify "$0" 2>&1) && test -z "$out" || { echo "$out"; false; }' "$work/gaugeline-agent.service"

# The unit's command line, with the options file applied as EnvironmentFile does.
command=$(sed -n 's/^ExecStart=//p' "$unit")
options=$(. "$root/etc/default/gaugeline-agent" && echo "$GAUGELINE_AGENT_OPTIONS")
command=${command/\$GAUGELINE_AGENT_OPTIONS/$options}
echo "ExecStart with the options: $command"
mkdir -p "$root/tmp/sim"
cp "$sim" "$root/tmp/sim/libnvidia-ml.so.1"
answers() {
    unshare -n bash -c '
        ip link set lo up
        chroot "$1" env LD_LIBRARY_PATH=/tmp/sim $2 2>/dev/null &
        for i in $(seq 50); do
            curl -sf --max-time 2 -o "$1/tmp/scrape" http://127.0.0.1:58681/metrics && break
            sleep 0.2
        done
        kill %1; wait
        grep -q "^gaugeline_gpu_up{gpu=\"0\"" "$1/tmp/scrape"' answers "$root" "$command"
}
check "the installed unit's command serves metrics on 58681" answers
rm -rf "$root/tmp/sim" "$root/tmp/scrape"

check "the package purges" chroot "$root" dpkg --purge gaugeline-agent
listing >"$work/after"
check "nothing is left behind" diff "$work/before" "$work/after"
[ $failures = 0 ]
