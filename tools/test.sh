#!/bin/sh
# Set-up as in setup.sh, then every test of the project.
set -eu
ROOT=$(cd "$(dirname "$0")/.." && pwd)
"$ROOT/tools/setup.sh"
cd "$ROOT/build"
ctest --output-on-failure -j "$(nproc)"
