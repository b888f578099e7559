#!/bin/bash
# Loads qm44xx-ctl's bash completion as bash-completion does and checks what it
# offers for command lines typed up to their end.
#
#   check_completion.sh COMPLETION_FILE [BASH_COMPLETION_SCRIPT]
set -u
completion=$1
framework=${2:-/usr/share/bash-completion/bash_completion}
if [[ ! -f $framework ]]; then
    echo "$framework not found: install the Debian package bash-completion" >&2
    exit 1
fi
# shellcheck source=/dev/null
source "$framework"
# shellcheck source=/dev/null
source "$completion"
export LC_ALL=C

# Outside of a real completion compopt fails (_filedir asks for -o filenames).
compopt() { :; }

# The offers for LINE, sorted, one per line. Words are split as bash does it:
# at blanks, and '=' is a word of its own (COMP_WORDBREAKS).
offers() {
    local line=$1 spaced=${1//=/ = }
    COMP_LINE=$line
    COMP_POINT=${#line}
    read -ra COMP_WORDS <<<"$spaced"
    [[ $line == *' ' ]] && COMP_WORDS+=('')
    COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
    COMPREPLY=()
    _qm44xx_ctl qm44xx-ctl "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}"
    ((${#COMPREPLY[@]} == 0)) || printf '%s\n' "${COMPREPLY[@]}" | sort
}

failures=0
# expect LINE OFFER...: completing LINE offers exactly these words
expect() {
    local line=$1 got want
    shift
    got=$(offers "qm44xx-ctl $line")
    want=$( (($# == 0)) || printf '%s\n' "$@" | sort)
    if [[ $got != "$want" ]]; then
        echo "completing 'qm44xx-ctl $line': expected [${want//$'\n'/ }], got [${got//$'\n'/ }]" >&2
        failures=$((failures + 1))
    fi
}

commands=(detect dump load power pvin reg save set status telemetry)
models=(QM4411 QM4422 QM4423 QM4433 QM4434)
rates=(0.5 1.0 2.0 3.9 7.8 15.4 30.8 61.5 123 246 492 984 1968 3936 7872 15744)

# Options come before the first command only; --simulate takes a model.
expect "" "${commands[@]}"
expect "--" --simulate --simulate= --trace --verify --help --version
expect "--t" --trace
expect "--simulate=" "${models[@]}"
expect "--simulate=QM443" QM4433 QM4434
expect "--simulate " "${models[@]}" "${commands[@]}"
expect "--simulate QM4422 --trace p" power pvin
expect "--simulate=QM4411 --verify " "${commands[@]}"
expect "power on --" # no options after a command
expect "--help " # nothing follows --help

# Each command's own words.
expect "power " on off
expect "pvin of" off
expect "power on " # one argument only
expect "status " # status takes none
expect "telemetry " --interval --count --average --csv
expect "telemetry --csv --count 5 --" --interval --average
expect "telemetry --interval " # a number of milliseconds
expect "set " vout enable dvs ss
expect "set vout " 1 2 3
expect "set vout 2 " # a voltage
expect "set vout 2 0.9 " --verify
expect "set enable 3 " on off
expect "set dvs 1 " "${rates[@]}"
expect "set ss 1 15" 15.4 15744
expect "set --verify ss 1 15" 15.4 15744
expect "set ss 1 15.4 --verify " # already there
expect "reg " get set
expect "reg get 0x13 "
expect "reg set 0x13 0x40 " --verify
expect "dump "

# A word ';' begins the next command.
expect "power on \\; s" save set status
expect "power on ';' set dvs 2 3" 3.9 30.8 3936
expect "--simulate power on \\; --" # options belong before the first command

# save and load complete file names; load also --verify.
workdir=$(mktemp -d)
trap 'rm -rf "$workdir"' EXIT
mkdir "$workdir/bench"
touch "$workdir/bench.cfg" "$workdir/board.cfg" "$workdir/notes.txt"
cd "$workdir" || exit 1
expect "save " bench bench.cfg board.cfg notes.txt
expect "load b" bench bench.cfg board.cfg
expect "save bench.cfg " # one file only
expect "load --" --verify
expect "load board.cfg " --verify

if ((failures > 0)); then
    echo "$failures completion(s) wrong" >&2
    exit 1
fi
