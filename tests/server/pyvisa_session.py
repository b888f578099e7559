"""A bench session with Debian's pyvisa and pyvisa-py against qm44xx-server on
a simulated QM4422: identify, set and read back, measure, a bad command and its
error-queue entry, save and load the settings file.

    pyvisa_session.py SERVER VERSION
"""
import subprocess
import sys

import pyvisa

from serverproc import Server, check, deadline

deadline(50)
binary, version = sys.argv[1], sys.argv[2]
server = Server(binary, ["--simulate=QM4422", "--port", "0", "--metrics", "off"], boards=1)
try:
    path, serial, port = server.boards[0]
    check(path == "sim:QM4422", "board %s" % path)
    rm = pyvisa.ResourceManager("@py")
    inst = rm.open_resource("TCPIP0::127.0.0.1::%d::SOCKET" % port, read_termination="\n",
                            write_termination="\n", timeout=5000)

    def expect(query, answer):
        got = inst.query(query)
        check(got == answer, "%s answered %r, not %r" % (query, got, answer))

    expect("*IDN?", "QM44xxC-EVAL,QM44xxC,%s,%s" % (serial, version))
    inst.write("POWer ON")
    expect("*IDN?", "QM44xxC-EVAL,QM4422,%s,%s" % (serial, version))
    expect("CHIP:DETect?", "QM4422,#H25,#H22,2")

    inst.write("SOURce2:VOLTage 0.9")
    inst.write("OUTPut2 ON")
    expect("SOUR2:VOLT?", "0.8981")
    expect("OUTP2?", "1")
    expect("MEASure:VOLTage2?", "0.8981")
    values = inst.query_ascii_values("MEAS:ALL?")
    check(values == [1.801, 28.64, 0.0, 0.8981], "MEAS:ALL? gave %r" % values)
    expect("STATus:FLAGs?", ",".join(["OK"] * 9))

    inst.write("SOURce:VOLTage 1.5")
    expect("SYSTem:ERRor?", '-222,"Data out of range;1.5 V is outside the range 0.5 to 1.202 V"')
    inst.write("BOGus:COMMand 1")
    expect("SYST:ERR?", '-113,"Undefined header;\'BOGus:COMMand\'"')
    expect("SYST:ERR?", '0,"No error"')

    saved = inst.query_binary_values("SYSTem:SETTings?", datatype="s", container=bytes).decode()
    check("chip = QM4422\n" in saved and "[VR2]\nenable = on\nvout = 0.8981\n" in saved,
          "saved settings:\n" + saved)
    inst.write_binary_values("SYSTem:SETTings ", saved.replace("vout = 0.8981", "vout = 0.75")
                             .encode(), datatype="s")
    expect("SYST:ERR?", '0,"No error"')
    expect("SOUR2:VOLT?", "0.7464")
    # A file for another model is refused whole: nothing changes.
    inst.write_binary_values("SYST:SETT ", saved.replace("QM4422", "QM4423").encode(),
                             datatype="s")
    expect("SYST:ERR?",
           '-224,"Illegal parameter value;line 5: the file is for QM4423, the chip is QM4422"')
    expect("SOUR2:VOLT?", "0.7464")
    inst.close()
    rm.close()

    # The program's own words: usage errors, a port already taken, the version.
    def run(*arguments):
        done = subprocess.run([binary] + list(arguments), capture_output=True, timeout=10)
        return done.returncode, done.stdout.decode(), done.stderr.decode()
    check(run("--bogus") == (1, "", "qm44xx-server: unknown option '--bogus'\n"
                                    "Try 'qm44xx-server --help' for more information.\n"),
          "--bogus: %r" % (run("--bogus"),))
    check(run("--version") == (0, "qm44xx-server %s\n" % version, ""), "--version")
    taken = run("--simulate=QM4422", "--port", str(port), "--metrics", "off")
    check(taken[0] == 1 and taken[2].startswith(
        "qm44xx-server: cannot listen on 127.0.0.1:%d for board sim:QM4422: " % port),
        "a port in use: %r" % (taken,))
finally:
    code = server.stop()
check(code == 0, "the server ended with %s" % code)
print("pyvisa session: 1 passed, 0 failed")
