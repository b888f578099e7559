#!/bin/sh
# Installs whatever of the build's Debian packages is missing, then configures
# and builds into build/. Run by panel.sh; runs on a fresh Debian 12 machine as
# root (or with sudo).
set -eu
ROOT=$(cd "$(dirname "$0")/.." && pwd)
. "$ROOT/tools/lib.sh"
qm_install $QM_PACKAGES
qm_build build -DCMAKE_BUILD_TYPE=RelWithDebInfo
