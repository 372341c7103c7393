#!/usr/bin/env bash
# Installs a build as a Debian system would have it, runs the helper the way its systemd unit
# says, and builds and reads the Debian package:
#
#   check_install.sh BUILD_DIR
#
# Everything happens under a temporary folder: the installation (DESTDIR), the helper's
# machine root and the package.
set -euo pipefail

build=$(cd "$1" && pwd)
work=$(mktemp -d /tmp/quorvane-install-XXXXXX)
helper_pid=
cleanup()
{
    [ -z "$helper_pid" ] || kill -KILL "$helper_pid" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

fail()
{
    echo "FAIL: $*" >&2
    exit 1
}

echo "== cmake --install, prefix /usr"
DESTDIR=$work/root cmake --install "$build" --prefix /usr >/dev/null
installed=(usr/sbin/quorvane usr/bin/quorvane-port usr/bin/quorvane-power usr/bin/quorvane-trace)
for program in "${installed[@]}"; do
    [ -x "$work/root/$program" ] || fail "$program is not installed as an executable"
done
unit=$work/root/usr/lib/systemd/system/quorvane.service
[ -f "$unit" ] || fail "the systemd unit is not installed"

echo "== the unit"
value()
{
    sed -n "s/^$1=//p" "$unit"
}
exec_start=$(value ExecStart)
[ "$exec_start" = /usr/sbin/quorvane ] || fail "ExecStart is '$exec_start', not the installed helper"
[ "$(value Type)" = simple ] || fail "the service is not of Type=simple"
kill_signal=$(value KillSignal)
kill_signal=${kill_signal:-SIGTERM}
[ "$(value WantedBy)" = multi-user.target ] || fail "the service is not wanted by multi-user.target"
if command -v systemd-analyze >/dev/null; then
    # systemd's own reading of the unit, with the helper where this test installed it. It
    # reports what it ignores (an unknown signal name, say) but still exits 0.
    mkdir "$work/verify"
    sed "s#^ExecStart=#ExecStart=$work/root#" "$unit" >"$work/verify/quorvane.service"
    complaints=$(systemd-analyze verify --man=no "$work/verify/quorvane.service" 2>&1) ||
        fail "systemd-analyze rejects the unit: $complaints"
    [ -z "$complaints" ] || fail "systemd-analyze complains about the unit: $complaints"
fi

echo "== the service's start and stop: $exec_start, then $kill_signal"
export QUORVANE_ROOT=$work/machine QUORVANE_WINVER=5.1
bin=$work/root/usr/bin
"$work/root$exec_start" &
helper_pid=$!
"$bin/quorvane-port" wait 10 || fail "the helper's window did not appear"
"$bin/quorvane-port" register 0x1F4
[ "$("$bin/quorvane-power" send PBT_APMQUERYSUSPEND)" = "QUORVANE TRUE" ] ||
    fail "the helper did not grant the suspend"
kill -s "$kill_signal" "$helper_pid"
status=0
wait "$helper_pid" || status=$?
helper_pid=
[ "$status" -eq 0 ] || fail "the helper ended with status $status on $kill_signal"
[ "$("$bin/quorvane-port" hold 0x1F4 0 | tr '\n' ' ')" = "held released " ] ||
    fail "the port the helper held is not free after the stop"

echo "== the Debian package"
cpack --config "$build/CPackConfig.cmake" -B "$work/package" >/dev/null
package=$(echo "$work"/package/quorvane_*_amd64.deb)
[ -f "$package" ] || fail "cpack made no package"
[ "$(dpkg-deb -f "$package" Package)" = quorvane ] || fail "the package is not named quorvane"
depends=$(dpkg-deb -f "$package" Depends)
for library in libcups2 libsystemd0 libstdc++6; do
    [[ "$depends" == *"$library"* ]] || fail "the package does not depend on $library: $depends"
done
contents=$(dpkg-deb -c "$package" | awk '{ print $1, $6 }')
for program in "${installed[@]}"; do
    grep -qx -- "-rwxr-xr-x ./$program" <<<"$contents" ||
        fail "the package lacks $program (or its mode is wrong)"
done
grep -qx -- "-rw-r--r-- ./usr/lib/systemd/system/quorvane.service" <<<"$contents" ||
    fail "the package lacks the systemd unit"
dpkg-deb -e "$package" "$work/control"
for script in postinst prerm postrm; do
    [ -x "$work/control/$script" ] || fail "the package has no $script"
    sh -n "$work/control/$script" || fail "$script is not valid shell"
done
dpkg-deb --fsys-tarfile "$package" | tar -xO ./usr/lib/systemd/system/quorvane.service |
    grep -qx "ExecStart=/usr/sbin/quorvane" || fail "the package's unit does not start /usr/sbin/quorvane"

echo "== the maintainer scripts, with a systemctl that records its calls"
# What each script asks of systemd, by dpkg's arguments: without a running systemd (a chroot,
# an image being built, this test's machine as a rule), and with one.
mkdir "$work/fake"
cat >"$work/fake/systemctl" <<'FAKE'
#!/bin/sh
echo "$*" >>"$SYSTEMCTL_CALLS"
exit "${SYSTEMCTL_STATUS:-0}"
FAKE
chmod +x "$work/fake/systemctl"
export SYSTEMCTL_CALLS=$work/fake/calls
unit_name=quorvane.service
cases=(
    # script|arguments|calls without systemd running|calls with it
    "postinst|configure|enable $unit_name|enable $unit_name;daemon-reload;start $unit_name"
    "postinst|configure 0.1.0||daemon-reload;is-active --quiet $unit_name;restart $unit_name"
    "postinst|abort-upgrade 0.2.0||is-active --quiet $unit_name;restart $unit_name"
    "prerm|remove|disable $unit_name|stop $unit_name;disable $unit_name"
    "prerm|upgrade 0.2.0||"
    "postrm|purge||daemon-reload"
)
if [ -d /run/systemd/system ]; then column=4; else column=3; fi
for case in "${cases[@]}"; do
    IFS='|' read -r script arguments offline online <<<"$case"
    expected=$([ $column -eq 3 ] && echo "$offline" || echo "$online")
    for status in 0 1; do
        : >"$SYSTEMCTL_CALLS"
        # shellcheck disable=SC2086 # the arguments are words
        SYSTEMCTL_STATUS=$status PATH=$work/fake:$PATH "$work/control/$script" $arguments ||
            fail "$script $arguments failed when systemctl exits $status"
        calls=$(paste -sd';' "$SYSTEMCTL_CALLS")
        if [ $status -eq 0 ] && [ "$calls" != "$expected" ]; then
            fail "$script $arguments called systemctl '$calls', not '$expected'"
        fi
    done
done
echo "installation, service and package: as expected"
