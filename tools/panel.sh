#!/bin/sh
# Set-up as in setup.sh (the packages the panel needs, the panel alone built),
# then opens the panel on the simulated board. Pass --simulate=MODEL to pick
# another chip (QM4411, QM4422, QM4423, QM4433, QM4434), --real to look for a
# connected board instead, or any of the panel's own options (--help,
# --device PATH, ...).
set -eu
ROOT=$(cd "$(dirname "$0")/.." && pwd)
"$ROOT/tools/setup.sh"
PANEL="$ROOT/build/app/qm44xx-panel"
case "${1:-}" in
--real) shift; exec "$PANEL" "$@" ;;
--simulate* | --device* | -h | --help | -v | --version) exec "$PANEL" "$@" ;;
*) exec "$PANEL" --simulate "$@" ;;
esac
