#!/bin/sh
# Installs whatever of the build's Debian packages is missing, then configures
# and builds into build/. Sourced by panel.sh and test.sh; runs on a fresh
# Debian 12 machine as root (or with sudo).
set -eu

# The virtual-machine test also needs QEMU, a static busybox, cpio and xz.
PACKAGES="build-essential cmake ninja-build pkg-config qtbase5-dev qtbase5-dev-tools libhidapi-dev
    qemu-system-x86 busybox-static cpio xz-utils"

missing=""
for p in $PACKAGES; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
done
if [ -n "$missing" ]; then
    echo "Installing:$missing"
    SUDO=""
    [ "$(id -u)" -eq 0 ] || SUDO="sudo"
    $SUDO apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends $missing
fi

ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD="$ROOT/build"
cmake -S "$ROOT" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$BUILD" -j "$(nproc)"
