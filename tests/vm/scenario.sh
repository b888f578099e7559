#!/bin/sh
# Runs inside the test VM (busybox sh, as root, in /tmp): the virtual bridge on
# the kernel's uhid, and the project's programs against the real hidraw node.
# Exits 0 when every check passed; the first failed check ends it.
set -eu

note() { echo "scenario: $*"; }
fail() {
    echo "scenario: FAIL: $*"
    exit 1
}
show() {
    echo "--- $1:"
    cat "$1"
    echo "---"
}
# expect_line FILE LINE: FILE holds exactly this line.
expect_line() {
    grep -qxF "$2" "$1" || {
        show "$1"
        fail "no line \"$2\" in $1"
    }
}
# expect_status NAME ACTUAL WANTED
expect_status() {
    [ "$2" -eq "$3" ] || fail "$1 exited with $2, not $3"
}
# Centiseconds since boot.
now() { cut -d' ' -f1 /proc/uptime | tr -d .; }
# wait_for FILE TEXT: until FILE holds TEXT (at most 20 s).
wait_for() {
    i=0
    until grep -qF "$2" "$1" 2>/dev/null; do
        i=$((i + 1))
        [ "$i" -le 400 ] || {
            show "$1"
            fail "\"$2\" did not appear in $1"
        }
        sleep 0.05
    done
}

# start_bridge OPTION...: starts a virtual bridge, waits for its hidraw node;
# sets VB (its process), LOG and NODE.
RUN=0
start_bridge() {
    RUN=$((RUN + 1))
    LOG=/tmp/bridge$RUN.log
    qm44xx-virtual-bridge "$@" >"$LOG" 2>&1 &
    VB=$!
    wait_for "$LOG" " plugged in as /dev/hidraw"
    NODE=$(sed -n 's/^qm44xx-virtual-bridge: .* plugged in as \(\/dev\/hidraw[0-9]*\)$/\1/p' "$LOG")
    [ -c "$NODE" ] || fail "no device node $NODE"
}
# end_bridge HOW: waits for the bridge to end (HOW: unplugged or stopped) and
# checks that it took its node with it.
end_bridge() {
    status=0
    wait "$VB" || status=$?
    expect_status qm44xx-virtual-bridge "$status" 0
    grep -q "^qm44xx-virtual-bridge: $1 after [0-9]* reports\$" "$LOG" || {
        show "$LOG"
        fail "the bridge was not $1"
    }
    [ ! -e "$NODE" ] || fail "$NODE still there after the bridge was $1"
}
stop_bridge() {
    kill -TERM "$VB"
    end_bridge stopped
}
# run_probe OUT ARGS...: runs vm_probe in the foreground; sets STATUS.
run_probe() {
    out=$1
    shift
    STATUS=0
    vm_probe "$@" >"$out" 2>&1 || STATUS=$?
}

# run_ctl ARGS...: runs qm44xx-ctl in the foreground into /tmp/ctl.out and
# /tmp/ctl.err; sets STATUS.
run_ctl() {
    STATUS=0
    qm44xx-ctl "$@" >/tmp/ctl.out 2>/tmp/ctl.err || STATUS=$?
}
# expect_ctl ARGS...: runs qm44xx-ctl and wants it to succeed.
expect_ctl() {
    run_ctl "$@"
    [ "$STATUS" -eq 0 ] || {
        show /tmp/ctl.out
        show /tmp/ctl.err
    }
    expect_status "qm44xx-ctl $*" "$STATUS" 0
}

# --- qm44xx-server: two virtual bridges served on the kernel's stack; one is
# unplugged and reported, the other keeps answering; a bridge plugged in later
# is served on the next port. Self-contained: it starts and ends its own
# bridges, server and clients.

# scpi_open N PORT: a SCPI connection kept open (busybox nc), fed through the
# FIFO /tmp/scpiN.in, its answers in /tmp/scpiN.out.
scpi_open() {
    rm -f "/tmp/scpi$1.in"
    mkfifo "/tmp/scpi$1.in"
    : >"/tmp/scpi$1.out"
    nc 127.0.0.1 "$2" <"/tmp/scpi$1.in" >>"/tmp/scpi$1.out" 2>&1 &
    eval "SCPI_NC$1=\$!"
    # The writer keeps the FIFO open between lines.
    sleep 1000 >"/tmp/scpi$1.in" &
    eval "SCPI_HOLD$1=\$!"
}
# scpi_close N: closes the connection and waits for its client to end.
scpi_close() {
    eval "kill \$SCPI_HOLD$1"
    eval "wait \$SCPI_NC$1" || true
}
# scpi N LINE...: sends the lines on connection N and sets ANSWER to the one
# answer line that comes back first (at most 20 s).
scpi() {
    n=$1
    shift
    before=$(wc -l <"/tmp/scpi$n.out")
    printf '%s\n' "$@" >"/tmp/scpi$n.in"
    i=0
    until [ "$(wc -l <"/tmp/scpi$n.out")" -gt "$before" ]; do
        i=$((i + 1))
        [ "$i" -le 400 ] || {
            show "/tmp/scpi$n.out"
            fail "no answer to \"$*\" on connection $n"
        }
        sleep 0.05
    done
    ANSWER=$(sed -n "$((before + 1))p" "/tmp/scpi$n.out")
}
# expect_answer N WANTED LINE...
expect_answer() {
    n=$1 wanted=$2
    shift 2
    scpi "$n" "$@"
    [ "$ANSWER" = "$wanted" ] || fail "\"$*\" answered \"$ANSWER\", not \"$wanted\""
}
# wait_for_metric PATTERN: until a scrape of the server's /metrics has a line
# matching the extended regular expression (at most 20 s); the scrape is left
# in /tmp/metrics.txt.
wait_for_metric() {
    i=0
    until wget -q -O /tmp/metrics.txt "http://127.0.0.1:$METRICS_PORT/metrics" &&
        grep -qE "$1" /tmp/metrics.txt; do
        i=$((i + 1))
        [ "$i" -le 100 ] || {
            show /tmp/metrics.txt
            fail "no line matching '$1' in the metrics"
        }
        sleep 0.2
    done
}
# The SCPI port the server printed last for a node (a node may be a new
# bridge's after an unplug).
port_of() {
    sed -n "s|^board $1 serial .*: SCPI on 127\.0\.0\.1:\([0-9]*\)\$|\1|p" /tmp/server.out | tail -n 1
}

server_two_boards() {
    note "qm44xx-server: two virtual bridges, SCPI and metrics; one unplugged, the other keeps answering"
    ip link set lo up
    VERSION=$(qm44xx-server --version | sed 's/^qm44xx-server //')
    start_bridge
    VB_A=$VB LOG_A=$LOG NODE_A=$NODE SERIAL_A=qm44xx-virtual-$VB-1
    start_bridge --model QM4422
    VB_B=$VB LOG_B=$LOG NODE_B=$NODE SERIAL_B=qm44xx-virtual-$VB-1

    # Every bridge of the host, polled five times a second.
    qm44xx-server --interval 200 >/tmp/server.out 2>/tmp/server.err &
    SERVER=$!
    wait_for /tmp/server.out "board $NODE_A serial $SERIAL_A: SCPI on 127.0.0.1:"
    wait_for /tmp/server.out "board $NODE_B serial $SERIAL_B: SCPI on 127.0.0.1:"
    expect_line /tmp/server.out "metrics on http://127.0.0.1:9825/metrics"
    METRICS_PORT=9825
    PORT_A=$(port_of "$NODE_A")
    PORT_B=$(port_of "$NODE_B")
    note "$NODE_A on port $PORT_A, $NODE_B on port $PORT_B"

    scpi_open 1 "$PORT_A"
    scpi_open 2 "$PORT_B"
    expect_answer 1 "QM44xxC-EVAL,QM44xxC,$SERIAL_A,$VERSION" '*IDN?'
    expect_answer 1 "QM44xxC-EVAL,QM4434,$SERIAL_A,$VERSION;0.8981" \
        'POWer ON;:SOURce1:VOLTage 0.9;:OUTPut1 ON;*IDN?;MEASure:VOLTage1?'
    expect_answer 2 "QM44xxC-EVAL,QM4422,$SERIAL_B,$VERSION;1.0990" \
        'POWer ON;:SOURce2:VOLTage 1.1;:OUTPut2 ON;*IDN?;MEASure:VOLTage2?'
    wait_for_metric "^qm44xx_up\{chip=\"QM4434\",node=\"$NODE_A\",serial=\"$SERIAL_A\"\} 1\$"
    wait_for_metric "^qm44xx_vin_volts\{chip=\"QM4422\",node=\"$NODE_B\",serial=\"$SERIAL_B\"\} 1\.80"

    # A's bridge goes away while both clients stay connected.
    kill -USR1 "$VB_A"
    VB=$VB_A LOG=$LOG_A NODE=$NODE_A
    end_bridge unplugged
    wait_for_metric "^qm44xx_up\{chip=\"none\",node=\"$NODE_A\",serial=\"$SERIAL_A\"\} 0\$"
    grep -qE "^qm44xx_up\{chip=\"QM4422\",node=\"$NODE_B\",serial=\"$SERIAL_B\"\} 1\$" /tmp/metrics.txt || {
        show /tmp/metrics.txt
        fail "the other board is not up in the same scrape"
    }
    grep -qE "^qm44xx_link_errors_total\{chip=\"none\",node=\"$NODE_A\",serial=\"$SERIAL_A\"\} 1\$" \
        /tmp/metrics.txt || {
        show /tmp/metrics.txt
        fail "the unplug was not counted as a link error"
    }
    # The failed query answers nothing; its error is in the queue.
    expect_answer 1 "-240,\"Hardware error;Motherboard not found: $NODE_A\"" \
        'MEASure:VOLTage1?' 'SYSTem:ERRor?'
    expect_answer 2 "QM44xxC-EVAL,QM4422,$SERIAL_B,$VERSION;1.0990" '*IDN?;MEASure:VOLTage2?'
    expect_answer 2 '0,"No error"' 'SYSTem:ERRor?'

    note "qm44xx-server: a bridge plugged in later is served on the next port"
    start_bridge --model QM4411
    VB_C=$VB LOG_C=$LOG NODE_C=$NODE SERIAL_C=qm44xx-virtual-$VB-1
    wait_for /tmp/server.out "board $NODE_C serial $SERIAL_C: SCPI on 127.0.0.1:"
    PORT_C=$(port_of "$NODE_C")
    [ "$PORT_C" -eq $((PORT_B + 1)) ] || fail "the new board is on port $PORT_C, not $((PORT_B + 1))"
    scpi_open 3 "$PORT_C"
    expect_answer 3 "QM44xxC-EVAL,QM4411,$SERIAL_C,$VERSION" 'POWer ON;*IDN?'
    # The kernel may give the new bridge A's old node: A's port must not take it.
    expect_answer 1 "QM44xxC-EVAL,QM44xxC,$SERIAL_A,$VERSION" '*IDN?'
    if [ "$NODE_C" = "$NODE_A" ]; then
        GONE="Motherboard not found: $NODE_A is another board now (serial $SERIAL_C)"
    else
        GONE="Motherboard not found: $NODE_A"
    fi
    expect_answer 1 "-240,\"Hardware error;$GONE\"" 'MEASure:VOLTage1?' 'SYSTem:ERRor?'
    wait_for_metric "^qm44xx_up\{chip=\"QM4411\",node=\"$NODE_C\",serial=\"$SERIAL_C\"\} 1\$"
    grep -qE "^qm44xx_up\{chip=\"none\",node=\"$NODE_A\",serial=\"$SERIAL_A\"\} 0\$" /tmp/metrics.txt || {
        show /tmp/metrics.txt
        fail "the unplugged board came up again on another bridge"
    }

    kill -TERM "$SERVER"
    status=0
    wait "$SERVER" || status=$?
    expect_status qm44xx-server "$status" 0
    [ ! -s /tmp/server.err ] || {
        show /tmp/server.err
        fail "qm44xx-server reported errors"
    }
    scpi_close 1
    scpi_close 2
    scpi_close 3
    VB=$VB_B LOG=$LOG_B NODE=$NODE_B
    stop_bridge
    VB=$VB_C LOG=$LOG_C NODE=$NODE_C
    stop_bridge
}

[ -c /dev/uhid ] || fail "no /dev/uhid"

note "qm44xx-ctl on the virtual board: power on, detect, set an output, telemetry"
start_bridge
expect_ctl power on
expect_ctl detect
printf 'chip: QM4434\naddress: 0x11\nid: 0x34\nregulators: 3\n' >/tmp/detect.want
cmp -s /tmp/ctl.out /tmp/detect.want || {
    show /tmp/ctl.out
    fail "qm44xx-ctl detect did not describe the QM4434"
}
expect_ctl set vout 1 0.9
expect_ctl set enable 1 on
expect_ctl telemetry
expect_line /tmp/ctl.out "VIN 1.801 V  temperature 28.64 C  VR1 0.8981 V  VR2 0.0000 V  VR3 0.0000 V"
expect_ctl status
[ "$(grep -c ': *OK$' /tmp/ctl.out)" -eq 12 ] && [ "$(wc -l </tmp/ctl.out)" -eq 12 ] || {
    show /tmp/ctl.out
    fail "qm44xx-ctl status did not report twelve flags OK"
}

note "qm44xx-ctl saves the settings and loads them back"
expect_ctl save /tmp/settings.cfg
expect_line /tmp/settings.cfg "chip = QM4434"
expect_line /tmp/settings.cfg "vout = 0.8981"
expect_line /tmp/settings.cfg "enable = on"
expect_ctl "set vout 1 1.1; set enable 2 on; telemetry"
expect_line /tmp/ctl.out "VIN 1.801 V  temperature 31.76 C  VR1 1.0990 V  VR2 0.7505 V  VR3 0.0000 V"
expect_ctl load /tmp/settings.cfg
expect_ctl telemetry --count 2 --interval 100
[ "$(grep -cxF "VIN 1.801 V  temperature 28.64 C  VR1 0.8981 V  VR2 0.0000 V  VR3 0.0000 V" /tmp/ctl.out)" -eq 2 ] || {
    show /tmp/ctl.out
    fail "the loaded settings are not in effect"
}
expect_ctl save /tmp/again.cfg
cmp -s /tmp/settings.cfg /tmp/again.cfg || fail "the settings saved after loading differ"

note "qm44xx-ctl: a second one is refused while the first runs telemetry, whose rows stay right"
ROW="VIN 1.801 V  temperature 28.64 C  VR1 0.8981 V  VR2 0.0000 V  VR3 0.0000 V"
qm44xx-ctl telemetry --interval 50 --count 0 >/tmp/telemetry.out 2>/tmp/telemetry.err &
CTL=$!
wait_for /tmp/telemetry.out "VIN 1.801 V"
run_ctl "set vout 1 1.1; telemetry"
expect_status "a second qm44xx-ctl" "$STATUS" 2
expect_line /tmp/ctl.err "qm44xx-ctl: board $NODE is in use by qm44xx-ctl (pid $CTL)"
note "$(cat /tmp/ctl.err)"
[ ! -s /tmp/ctl.out ] || {
    show /tmp/ctl.out
    fail "the refused qm44xx-ctl printed rows"
}
# Ten rows more after the refusal, every row the first one's own reading.
rows=$(($(wc -l </tmp/telemetry.out) + 10))
i=0
until [ "$(wc -l </tmp/telemetry.out)" -ge "$rows" ]; do
    i=$((i + 1))
    [ "$i" -le 400 ] || fail "the first qm44xx-ctl stopped reporting after the refusal"
    sleep 0.05
done
head -n "$rows" /tmp/telemetry.out >/tmp/telemetry.rows
[ "$(grep -cxF "$ROW" /tmp/telemetry.rows)" -eq "$rows" ] || {
    show /tmp/telemetry.rows
    fail "the first qm44xx-ctl's rows changed"
}
[ ! -s /tmp/telemetry.err ] || {
    show /tmp/telemetry.err
    fail "the first qm44xx-ctl reported an error"
}

note "qm44xx-ctl: unplugged during telemetry, exit 2 with the link's error within two seconds"
t0=$(now)
kill -USR1 "$VB"
STATUS=0
wait "$CTL" || STATUS=$?
t1=$(now)
end_bridge unplugged
expect_status "qm44xx-ctl telemetry (unplugged)" "$STATUS" 2
grep -qx "qm44xx-ctl: Error during USB \(read\|write\): 19" /tmp/telemetry.err || {
    show /tmp/telemetry.err
    fail "not the unplugged board's error"
}
expect_line /tmp/telemetry.err "qm44xx-ctl: (No such device)"
note "$(head -n 1 /tmp/telemetry.err), $((t1 - t0))0 ms after the unplug"
[ $((t1 - t0)) -le 200 ] || fail "qm44xx-ctl's error came $((t1 - t0))0 ms after the unplug"
run_ctl detect
expect_status "qm44xx-ctl detect (no board)" "$STATUS" 2
expect_line /tmp/ctl.err "qm44xx-ctl: Motherboard not found"

note "two boards: qm44xx-ctl list shows both, and --device drives each by its node"
start_bridge --model QM4434
VB1=$VB LOG1=$LOG NODE1=$NODE
start_bridge --model QM4422
VB2=$VB LOG2=$LOG NODE2=$NODE
[ "$NODE1" != "$NODE2" ] || fail "two bridges on one node $NODE1"
expect_ctl list
show /tmp/ctl.out
[ "$(wc -l </tmp/ctl.out)" -eq 2 ] || fail "qm44xx-ctl list did not show two bridges"
# path, serial number (the uhid device's uniq), manufacturer (none), product
TAB=$(printf '\t')
expect_line /tmp/ctl.out "$NODE1${TAB}qm44xx-virtual-$VB1-1$TAB${TAB}QM44xxC evaluation board (virtual)"
expect_line /tmp/ctl.out "$NODE2${TAB}qm44xx-virtual-$VB2-1$TAB${TAB}QM44xxC evaluation board (virtual)"
expect_ctl --json list
expect_line /tmp/ctl.out "{\"manufacturer\":\"\",\"path\":\"$NODE2\",\"product\":\"QM44xxC evaluation board (virtual)\",\"serial\":\"qm44xx-virtual-$VB2-1\"}"
expect_ctl --device "$NODE1" power on
expect_ctl --device="$NODE2" power on
expect_ctl --device "$NODE1" detect
cmp -s /tmp/ctl.out /tmp/detect.want || {
    show /tmp/ctl.out
    fail "qm44xx-ctl --device $NODE1 detect did not describe the QM4434"
}
expect_ctl --device "$NODE2" detect
printf 'chip: QM4422\naddress: 0x25\nid: 0x22\nregulators: 2\n' >/tmp/detect2.want
cmp -s /tmp/ctl.out /tmp/detect2.want || {
    show /tmp/ctl.out
    fail "qm44xx-ctl --device $NODE2 detect did not describe the QM4422"
}
expect_ctl --device "$NODE2" --json detect
expect_line /tmp/ctl.out '{"address":37,"chip":"QM4422","id":34,"regulators":2}'
# A voltage set on the second board leaves the first as it was.
expect_ctl --device "$NODE2" "set enable 1 on; set vout 1 0.9 --verify; telemetry"
expect_line /tmp/ctl.out "VIN 1.801 V  temperature 28.64 C  VR1 0.8981 V  VR2 0.0000 V"
expect_ctl --device "$NODE1" "reg get 0x41; reg get 0x40; telemetry"
printf '0x76\n0x00\nVIN 1.801 V  temperature 25.52 C  VR1 0.0000 V  VR2 0.0000 V  VR3 0.0000 V\n' >/tmp/first.want
cmp -s /tmp/ctl.out /tmp/first.want || {
    show /tmp/ctl.out
    fail "the first board changed with the second"
}
expect_ctl --device "$NODE2" reg get 0x41
expect_line /tmp/ctl.out "0x9a"
run_ctl --device /dev/hidraw99 detect
expect_status "qm44xx-ctl --device /dev/hidraw99" "$STATUS" 2
expect_line /tmp/ctl.err "qm44xx-ctl: Motherboard not found: /dev/hidraw99"
# One program per board, not per host: the second board is free while the
# first runs telemetry.
qm44xx-ctl --device "$NODE1" telemetry --interval 50 --count 0 >/tmp/telemetry1.out 2>&1 &
CTL=$!
wait_for /tmp/telemetry1.out "VIN 1.801 V"
expect_ctl --device "$NODE2" telemetry
expect_line /tmp/ctl.out "VIN 1.801 V  temperature 28.64 C  VR1 0.8981 V  VR2 0.0000 V"
run_ctl --device "$NODE1" detect
expect_status "qm44xx-ctl on the first board while it is in use" "$STATUS" 2
expect_line /tmp/ctl.err "qm44xx-ctl: board $NODE1 is in use by qm44xx-ctl (pid $CTL)"
kill -TERM "$CTL"
wait "$CTL" || true
VB=$VB1 LOG=$LOG1 NODE=$NODE1
stop_bridge
VB=$VB2 LOG=$LOG2 NODE=$NODE2
stop_bridge

note "only root may create a device"
status=0
su -s /bin/sh nobody -c qm44xx-virtual-bridge >/tmp/denied.out 2>&1 || status=$?
expect_status "qm44xx-virtual-bridge as nobody" "$status" 1
expect_line /tmp/denied.out "qm44xx-virtual-bridge: cannot open /dev/uhid (Permission denied): it needs the uhid kernel module (sudo modprobe uhid) and root or read-write access to /dev/uhid"

note "the bridge appears as a USB HID device with its own hidraw node"
start_bridge --verbose
UEVENT=/sys/class/hidraw/${NODE#/dev/}/device/uevent
expect_line "$UEVENT" "HID_ID=0003:000004D8:0000F02A"
expect_line "$UEVENT" "HID_NAME=QM44xxC evaluation board (virtual)"
expect_line "$UEVENT" "DRIVER=hid-generic"

note "a session through hidapi and hidraw: power on, identify, set VR1, telemetry"
run_probe /tmp/session.out session
cat /tmp/session.out
expect_status "vm_probe session" "$STATUS" 0
expect_line /tmp/session.out "chip: QM4434, 3 outputs"
expect_line /tmp/session.out "vout1: 0.8817 V"
expect_line /tmp/session.out "vin: 1.801 V"
expect_line /tmp/session.out "temperature: 28.6 C"
expect_line /tmp/session.out "core status: 0x00"
expect_line /tmp/session.out "EN low"
# The kernel hands uhid the report ID 0 and the 64 bytes; answers go back as
# 64 bytes without it.
expect_line "$LOG" "qm44xx-virtual-bridge: output report (65 bytes): 00 30 01 01 + zeros"
expect_line "$LOG" "qm44xx-virtual-bridge: output report (65 bytes): 00 f3 04 22 13 23 01 + zeros"
expect_line "$LOG" "qm44xx-virtual-bridge: input report (64 bytes): f3 01 34 + zeros"
expect_line "$LOG" "qm44xx-virtual-bridge: output report (65 bytes): 00 30 01 + zeros"

note "a user without access to the node is refused, and served once given access"
status=0
su -s /bin/sh nobody -c "vm_probe session" >/tmp/nobody.out 2>&1 || status=$?
expect_status "vm_probe as nobody" "$status" 2
expect_line /tmp/nobody.out "error: Error opening motherboard USB connection: 13"
status=0
su -s /bin/sh nobody -c "qm44xx-ctl detect" >/tmp/nobody.out 2>&1 || status=$?
expect_status "qm44xx-ctl as nobody" "$status" 2
expect_line /tmp/nobody.out "qm44xx-ctl: Error opening motherboard USB connection: 13"
expect_line /tmp/nobody.out "qm44xx-ctl: (Permission denied) only root may open the bridge's node: install the udev rule 70-qm44xx-bridge.rules and plug the board in again (see \"Installing on Linux\" in the README)"
chmod 0666 "$NODE"
status=0
su -s /bin/sh nobody -c "vm_probe session" >/tmp/nobody.out 2>&1 || status=$?
expect_status "vm_probe as nobody with access" "$status" 0
expect_line /tmp/nobody.out "chip: QM4434, 3 outputs"
stop_bridge

note "unplugged during telemetry: exit 2 with the link's error, within two seconds"
start_bridge
vm_probe loop >/tmp/loop.out 2>&1 &
PROBE=$!
wait_for /tmp/loop.out looping
sleep 0.3
t0=$(now)
kill -USR1 "$VB"
STATUS=0
wait "$PROBE" || STATUS=$?
t1=$(now)
end_bridge unplugged
cat /tmp/loop.out
expect_status "vm_probe loop" "$STATUS" 2
grep -qx "error: Error during USB \(read\|write\): 19" /tmp/loop.out || fail "not the unplugged board's error"
note "the error came $((t1 - t0))0 ms after the unplug"
[ $((t1 - t0)) -le 200 ] || fail "the error came $((t1 - t0))0 ms after the unplug"

note "stalled during telemetry: the read times out after one second"
start_bridge
vm_probe loop >/tmp/stall.out 2>&1 &
PROBE=$!
wait_for /tmp/stall.out looping
t0=$(now)
kill -USR2 "$VB"
STATUS=0
wait "$PROBE" || STATUS=$?
t1=$(now)
expect_status "vm_probe loop (stalled)" "$STATUS" 2
expect_line /tmp/stall.out "error: Error during USB read: 110"
note "the time-out came $((t1 - t0))0 ms after the stall"
[ $((t1 - t0)) -ge 100 ] && [ $((t1 - t0)) -le 300 ] || fail "the time-out came $((t1 - t0))0 ms after the stall"
stop_bridge

note "unplugged while a read waits: the read fails at once with ENODEV"
start_bridge
vm_probe loop >/tmp/waiting.out 2>&1 &
PROBE=$!
wait_for /tmp/waiting.out looping
kill -USR2 "$VB"
sleep 0.3
t0=$(now)
kill -USR1 "$VB"
STATUS=0
wait "$PROBE" || STATUS=$?
t1=$(now)
end_bridge unplugged
expect_status "vm_probe loop (waiting)" "$STATUS" 2
expect_line /tmp/waiting.out "error: Error during USB read: 19"
[ $((t1 - t0)) -lt 70 ] || fail "the read failed $((t1 - t0))0 ms after the unplug"

note "a write to an unplugged bridge fails with ENODEV"
start_bridge
vm_probe wait-write /tmp/go >/tmp/write.out 2>&1 &
PROBE=$!
wait_for /tmp/write.out open
kill -USR1 "$VB"
end_bridge unplugged
touch /tmp/go
STATUS=0
wait "$PROBE" || STATUS=$?
expect_status "vm_probe wait-write" "$STATUS" 2
expect_line /tmp/write.out "error: Error during USB write: 19"

note "--unplug-after-reports 5 unplugs after the fifth report"
start_bridge --unplug-after-reports 5
run_probe /tmp/five.out session
end_bridge unplugged
expect_status "vm_probe session (5 reports)" "$STATUS" 2
expect_line "$LOG" "qm44xx-virtual-bridge: unplugged after 5 reports"
grep -qx "error: Error during USB \(read\|write\): 19" /tmp/five.out || {
    show /tmp/five.out
    fail "not the unplugged board's error"
}

note "--stall-after-reports 3 stops answering after the third report"
start_bridge --stall-after-reports 3 --model QM4411
run_probe /tmp/three.out session
expect_status "vm_probe session (stall after 3)" "$STATUS" 2
expect_line /tmp/three.out "error: Error during USB read: 110"
stop_bridge

note "a late answer is not taken for the next request's"
# The VIN answer comes 0.3 s after its read timed out; the chip ID read half a
# second later must wait for its own answer (and time out) rather than take it.
start_bridge --answer-delay-ms 1300
run_probe /tmp/late.out late
expect_status "vm_probe late" "$STATUS" 0
expect_line /tmp/late.out "register 0x01: error: Error during USB read: 110"
expect_line /tmp/late.out "register 0x13: error: Error during USB read: 110"
stop_bridge

note "--unplug-after-ms 4000 unplugs by itself"
start_bridge --unplug-after-ms 4000 --model QM4411
run_probe /tmp/model.out session
expect_status "vm_probe session (QM4411)" "$STATUS" 0
expect_line /tmp/model.out "chip: QM4411, 1 outputs"
end_bridge unplugged

server_two_boards

note "all checks passed"
