#!/bin/bash
# Checks qm44xx-server.service in the build's install tree: systemd-analyze
# verifies it, and rates its hardening (offline); it runs the installed program; it runs unprivileged in the group that the udev rule
# gives the bridges' nodes to and that the sysusers.d file makes (which
# systemd-sysusers does, in a scratch root); and it keeps what the server needs:
# the hidraw nodes, the network, and /proc/locks for the board lock.
#
#   check_systemd_unit.sh ROOT SCRATCH_DIR    (the build installed into ROOT/usr)
set -u
prefix=$1/usr scratch=$2
# shellcheck source=tests/check_lib.sh
source "$(dirname "$0")/check_lib.sh"
need systemd-analyze systemd
need systemd-sysusers systemd
make_scratch "$scratch"
unit=$prefix/lib/systemd/system/qm44xx-server.service
rule=$prefix/lib/udev/rules.d/70-qm44xx-bridge.rules
sysusers=$prefix/lib/sysusers.d/qm44xx.conf
for file in "$unit" "$rule" "$sysusers"; do
    [[ -f $file ]] || {
        echo "${file#"$prefix"/} was not installed" >&2
        exit 1
    }
done
# The values of a key of the unit, one per line.
values() { sed -n "s/^$1=//p" "$unit"; }

# systemd's own checks: the unit's syntax, its dependencies and that ExecStart
# names an executable (the manual page is not looked up: it is not installed
# where man looks). Any warning fails.
out=$(cd "$(dirname "$unit")" && systemd-analyze verify --man=no "./$(basename "$unit")" 2>&1) ||
    fail "systemd-analyze verify fails: $out"
[[ -z $out ]] || fail "systemd-analyze verify warns: $out"
[[ $(values ExecStart) == "$prefix/bin/qm44xx-server \$QM44XX_SERVER_ARGS" ]] ||
    fail "ExecStart does not run the installed program: $(values ExecStart)"
# The exposure rating of systemd-analyze security, 0 (locked down) to 10; the
# unit rates 1.8. Fails above 2.0, as when a protection is dropped.
report=$(systemd-analyze security --offline=true --threshold=20 "$unit" 2>&1) ||
    fail "exposure above 2.0: $(echo "$report" | grep Overall)"

# Unprivileged, with the bridges' group.
[[ $(values DynamicUser) == yes ]] || fail "the service does not run as a user of its own"
[[ -z $(values User) && -z $(values Group) ]] || fail "the unit names a fixed user or group"
group=$(values SupplementaryGroups)
rule_group=$(sed -n 's/^SUBSYSTEM=="hidraw", ATTRS{idVendor}=="04d8", ATTRS{idProduct}=="f02a", GROUP="\([a-z0-9_-]*\)", MODE="0660"$/\1/p' "$rule")
[[ -n $group && $group == "$rule_group" ]] ||
    fail "the service's group '$group' is not the one the udev rule gives the nodes to ('$rule_group')"
mkdir -p "$scratch/root/etc"
systemd-sysusers --root="$scratch/root" "$sysusers" >/dev/null 2>&1 || fail "systemd-sysusers refuses $sysusers"
gid=$(awk -F: -v name="$group" '$1 == name { print $3 }' "$scratch/root/etc/group" 2>/dev/null)
[[ -n $gid ]] && ((gid < 1000)) || fail "systemd-sysusers made no system group '$group' from $sysusers"
[[ $(values NoNewPrivileges) == yes && $(values CapabilityBoundingSet) == "" ]] ||
    fail "the service may gain privileges"

# What the server needs stays reachable.
[[ $(values PrivateDevices) != yes ]] || fail "PrivateDevices=yes hides the hidraw nodes"
[[ $(values DeviceAllow) == "char-hidraw rw" ]] || fail "the hidraw nodes are not allowed: $(values DeviceAllow)"
# A user namespace maps the group qm44xx away; a /proc of the service's own
# processes has no /proc/locks, which names the program holding a board.
[[ $(values PrivateUsers) != yes ]] || fail "PrivateUsers=yes loses the group qm44xx"
[[ $(values ProcSubset) != pid ]] || fail "ProcSubset=pid hides /proc/locks"
families=" $(values RestrictAddressFamilies) "
for family in AF_INET AF_INET6; do
    [[ $families == *" $family "* ]] || fail "RestrictAddressFamilies leaves out $family"
done
[[ $(values PrivateNetwork) != yes ]] || fail "PrivateNetwork=yes keeps the server off the network"
verdict
