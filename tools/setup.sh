#!/bin/sh
# Installs whatever Debian packages the panel's build is missing, then
# configures build/ and builds the panel alone (no tests, benchmarks or manual
# pages: ./tools/test.sh builds those). Run by panel.sh; runs on a fresh Debian
# 12 machine as root (or with sudo).
set -eu
ROOT=$(cd "$(dirname "$0")/.." && pwd)
. "$ROOT/tools/lib.sh"
qm_install $QM_PANEL_PACKAGES
QM_TARGET=qm44xx-panel qm_build build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_TESTING=OFF \
    -DQM_BENCH=OFF -DQM_MAN_PAGES=OFF
