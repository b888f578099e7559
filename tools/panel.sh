#!/bin/sh
# Set-up as in setup.sh, then opens the panel on the simulated board. Pass
# --simulate=MODEL to pick another chip (QM4411, QM4422, QM4423, QM4433, QM4434),
# or --real to look for a connected board instead.
set -eu
ROOT=$(cd "$(dirname "$0")/.." && pwd)
"$ROOT/tools/setup.sh"
case "${1:-}" in
--real) shift; exec "$ROOT/build/app/qm44xx-panel" "$@" ;;
--simulate*) exec "$ROOT/build/app/qm44xx-panel" "$@" ;;
*) exec "$ROOT/build/app/qm44xx-panel" --simulate "$@" ;;
esac
