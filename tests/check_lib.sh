# shellcheck shell=bash
# Shared by the packaging checks (sourced, not run). Each check reports every
# fault it finds, then fails if there was any.
#
#   need TOOL PACKAGE   stops the check unless TOOL is on the PATH
#   fail TEXT...        reports a fault; the check goes on
#   make_scratch DIR    makes DIR afresh, and removes it when the check ends
#   verdict             the check's status, last: 0 when no fault was reported

failures=0

need() {
    command -v "$1" >/dev/null || {
        echo "$1 not found: install the Debian package $2" >&2
        exit 1
    }
}

fail() {
    echo "$*" >&2
    failures=$((failures + 1))
}

make_scratch() {
    check_scratch_dir=$1
    rm -rf "$check_scratch_dir"
    mkdir -p "$check_scratch_dir"
    trap 'rm -rf "$check_scratch_dir"' EXIT
}

verdict() { ((failures == 0)); }
