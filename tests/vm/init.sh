#!/bin/busybox sh
# The test VM's init: mounts what the programs need, loads the HID modules in
# dependency order, runs /scenario.sh with a bounded time and reports its
# verdict on the console, then powers the machine off. Nothing here may end
# init early (the kernel would panic), so every failure is caught.
set -eu
/bin/busybox --install -s /bin
export PATH=/bin
export LD_LIBRARY_PATH=/lib/x86_64-linux-gnu:/usr/lib/x86_64-linux-gnu
mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t devtmpfs devtmpfs /dev
mount -t tmpfs tmpfs /tmp
mount -t tmpfs tmpfs /run

verdict="PASS"
for module in $(cat /modules/order); do
    insmod "/modules/$module.ko" || verdict="FAIL (cannot load $module)"
done

echo "VM-TEST: BEGIN"
if [ "$verdict" = PASS ]; then
    cd /tmp
    status=0
    timeout "$(cat /scenario-timeout)" sh /scenario.sh || status=$?
    [ "$status" -eq 0 ] || verdict="FAIL (scenario exit status $status)"
fi
echo "VM-TEST: $verdict"
sync
poweroff -f
