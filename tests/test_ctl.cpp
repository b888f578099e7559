// qm44xx-ctl run in-process against the simulated board: exact output, exit
// codes, error texts and the bus traffic each command causes. Then against a
// failing link or chip at each stage of a session: every fault ends the run with
// exit 2 and the link's own text within two seconds of the fault, or, where the
// link still carries the exchange, with the run done.
#include "ctl/command_parser.h"
#include "ctl/ctl.h"
#include "ctl/encoding.h"
#include "ctl/json_output.h"
#include "ctl/output.h"
#include "device/conversions.h"
#include "device/register_map.h"
#include "device/text.h"
#include "link/bridge_protocol.h"
#include "test_support.h"

#include <QDir>
#include <QJsonDocument>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>
#include <csignal>
#include <fstream>
#include <functional>
#include <sstream>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// Keeps what the stream held at each flush.
class FlushRecorder : public std::stringbuf {
public:
    QStringList flushed;

protected:
    int sync() override {
        const QString now = QString::fromStdString(str());
        if (flushed.isEmpty() || flushed.last() != now)
            flushed << now;
        return 0;
    }
};

// Standard input that hands over one line at a time and calls a hook before
// each line, as a user typing commands would; the hook can pull the plug.
class TypedLines : public std::streambuf {
public:
    TypedLines(QStringList lines, std::function<void(int)> before)
        : lines(std::move(lines)), before(std::move(before)) {}

protected:
    int underflow() override {
        if (next >= lines.size())
            return traits_type::eof();
        before(next);
        current = lines[next++].toStdString() + "\n";
        setg(current.data(), current.data(), current.data() + current.size());
        return traits_type::to_int_type(current[0]);
    }

private:
    QStringList lines;
    std::function<void(int)> before;
    int next = 0;
    std::string current;
};
// Takes a few bytes, then fails like a pipe whose reader went away.
class ClosingSink : public std::streambuf {
public:
    explicit ClosingSink(int room) : room(room) {}

protected:
    int overflow(int c) override { return room-- > 0 ? c : traits_type::eof(); }

private:
    int room;
};

QString words(const std::vector<ctl::Word> &list) {
    QStringList out;
    for (const ctl::Word &w : list)
        out << (w.separator ? QString(";") : QString::fromStdString(w.text));
    return out.join('|');
}

// A file's type and permission bits (octal), owner:group, then its bytes:
// "100640 0:0 # QM44xxC...", or "(none)".
QString fileState(const QString &path) {
    struct stat st;
    if (lstat(QFile::encodeName(path).constData(), &st) != 0)
        return "(none)";
    return QString("%1 %2:%3 ").arg(st.st_mode, 0, 8).arg(st.st_uid).arg(st.st_gid) +
           (S_ISREG(st.st_mode) ? QString::fromUtf8(readFile(path)) : QString());
}

// The I2C addresses the bridge was asked to reach, each once, in order.
QList<int> addressesReached(const SimulatedBridge &bridge) {
    QList<int> addresses;
    for (const std::vector<uint8_t> &report : bridge.reports()) {
        const bool i2c =
            report[1] == bridge::CMD_I2C_WRITE || report[1] == bridge::CMD_I2C_WRITE_READ;
        if (i2c && !addresses.contains(report[3] >> 1))
            addresses << (report[3] >> 1);
    }
    return addresses;
}

// The program with its standard output on a pipe whose reader has gone, or
// closed; SIGPIPE at its default, as a shell leaves it. Returns the wait status
// and what the program wrote to standard error.
int runProgram(const char *argument, bool closedPipe, QByteArray &err) {
    int output[2], errors[2];
    if (pipe(output) != 0 || pipe(errors) != 0)
        return -1;
    close(output[0]);
    const pid_t child = fork();
    if (child == 0) {
        std::signal(SIGPIPE, SIG_DFL);
        dup2(errors[1], STDERR_FILENO);
        if (closedPipe)
            dup2(output[1], STDOUT_FILENO);
        else
            close(STDOUT_FILENO);
        execl(QM_CTL_BINARY, QM_CTL_BINARY, argument, static_cast<char *>(nullptr));
        _exit(127);
    }
    close(output[1]);
    close(errors[1]);
    char buffer[4096];
    for (ssize_t n; (n = read(errors[0], buffer, sizeof buffer)) > 0;)
        err.append(buffer, int(n));
    close(errors[0]);
    int status = -1;
    waitpid(child, &status, 0);
    return status;
}

// Each line a JSON object as QJsonDocument reads it, written back compactly:
// what the tool wrote is valid JSON, one object per line.
QStringList jsonLines(const QString &text) {
    QStringList lines;
    for (const QString &line : text.split('\n', Qt::SkipEmptyParts)) {
        QJsonParseError error;
        const QJsonDocument document = QJsonDocument::fromJson(line.toUtf8(), &error);
        lines << (document.isObject() ? QString::fromUtf8(document.toJson(QJsonDocument::Compact))
                                      : "not an object: " + error.errorString());
    }
    return lines;
}

const QString OK_STATUS_CORE = "VIN undervoltage:  OK\n"
                               "VIN overvoltage:   OK\n"
                               "over-temperature:  OK\n";
QString okStatus(int regulator) {
    return QString("VR%1 overvoltage:   OK\nVR%1 undervoltage:  OK\nVR%1 short circuit: OK\n")
        .arg(regulator);
}

const QString NOT_POWERED =
    "qm44xx-ctl: IVR not powered: no known chip answers (run 'power on' first; is PVIN on?)\n";

} // namespace

class CtlTest : public QObject {
    Q_OBJECT

    struct Result {
        int code;
        QString out;
        QString err;
        // The exit code and standard error at once: "exit 2: qm44xx-ctl: ...".
        QString exit() const { return QString("exit %1: %2").arg(code).arg(err); }
    };

    QDateTime clock;
    QList<long> sleeps;
    std::function<void()> afterSleep;

    // Time passes only by the tool's own waits, which are recorded.
    Clock fakeClock() {
        Clock fake;
        fake.now = [this] { return clock; };
        fake.sleep = [this](long ms) {
            sleeps << ms;
            clock = clock.addMSecs(ms);
            if (afterSleep)
                afterSleep();
        };
        return fake;
    }

    int runTo(const QStringList &args, std::ostream &out, std::ostream &err,
              const QByteArray &input = QByteArray()) {
        std::vector<std::string> arguments;
        for (const QString &a : args)
            arguments.push_back(a.toStdString());
        std::istringstream in(input.toStdString());
        return ctl::run(arguments, in, out, err, fakeClock());
    }

    Result ctl(const QStringList &args, const QByteArray &input = QByteArray()) {
        std::ostringstream out, err;
        const int code = runTo(args, out, err, input);
        return {code, QString::fromStdString(out.str()), QString::fromStdString(err.str())};
    }
    // Commands typed one by one: before(n) runs before line n (from 0) is read.
    Result typed(const std::vector<std::string> &args, const QStringList &lines,
                 const std::function<void(int)> &before, bool terminal = false) {
        TypedLines input(lines, before);
        std::istream in(&input);
        std::ostringstream out, err;
        const int code = ctl::run(args, in, out, err, fakeClock(), terminal);
        return {code, QString::fromStdString(out.str()), QString::fromStdString(err.str())};
    }
    // One argument string split at blanks (no quoting needed by the callers).
    Result ctl(const QString &line) { return ctl(line.split(' ', Qt::SkipEmptyParts)); }

private Q_SLOTS:
    void initTestCase() { hermeticHidBus(); }
    void init() {
        clock = QDateTime(QDate(2024, 5, 1), QTime(12, 0), Qt::UTC);
        sleeps.clear();
        afterSleep = nullptr;
    }
    void cleanup() { stopSimulation(); }

    void wordsAndEncodings() {
        std::vector<ctl::Word> list;
        std::string error;
        QVERIFY(ctl::tokenizeLine("save \"my file.cfg\";status # comment; power off", list, error));
        QCOMPARE(words(list), QString("save|my file.cfg|;|status"));
        QVERIFY(!ctl::tokenizeLine("save 'x", list, error));
        QCOMPARE(QString::fromStdString(error), QString("unterminated single quote"));
        list.clear();
        QVERIFY(ctl::wordsFromArguments(
            {"power", "on;", "save", "a b.cfg", "detect;status;", "reg get 0x13", "x y"}, list,
            error));
        QCOMPARE(words(list),
                 QString("power|on|;|save|a b.cfg|detect|;|status|;|reg|get|0x13|x y"));

        int byte = -1;
        QVERIFY(ctl::parseByte("0X0FF", byte) && byte == 0xFF);
        for (const char *bad : {"256", "0x100", "-1", "0x", "", "1e2", "0x1g", "99999999999999999"})
            QVERIFY2(!ctl::parseByte(bad, byte), bad);
        double volts = 0;
        for (const char *bad : {"nan", "inf", "1e400", "0.9V", "", "+0.9", "0,9"})
            QVERIFY2(!text::parseDecimal(bad, volts), bad);
        QCOMPARE(text::quoted(std::string("a\x1b[2J\\", 6)), std::string("'a\\x1b[2J\\x5c'"));
    }

    // --help lays out each command of the table: help beside a synopsis that
    // leaves it room (as the 18 characters of "reg set ADDR VALUE" do), else under
    // it, where help2man needs it to tell the command from the next one.
    void helpLayout() {
        const QString help = QString::fromStdString(ctl::helpText());
        const QString pad(22, ' ');
        QVERIFY(help.contains("\nCommands:\n  list                every bridge connected, one per "
                              "line: path, serial number,\n" +
                              pad + "manufacturer and product, tab-separated; opens none\n"));
        QVERIFY(help.contains("between steps takes the step below)\n  set enable VR on|off\n" +
                              pad +
                              "switch a regulator on or off\n  set dvs VR RATE     DVS rate"));
        QVERIFY(help.contains("\n  reg set ADDR VALUE  write one register;"));
        QVERIFY(help.contains(
            "VR1 to VR3).\nlist, detect, status, telemetry and dump accept --json:\n"));
    }

    void badArgumentsGiveUsage_data() {
        QTest::addColumn<QString>("command");
        QTest::addColumn<QString>("message"); // its usage follows, else the pointer to --help
        const QString rate = "RATE must be a rate in mV/us (0.5, 1.0, 2.0, 3.9, 7.8, 15.4, 30.8, "
                             "61.5, 123, 246, 492, 984, 1968, 3936, 7872, 15744) or a code from 0 "
                             "to 15, got ";
        const QString byteText = "must be a byte, 0x00 to 0xff or 0 to 255, got ";
        auto row = [](const char *command, const QString &message) {
            QTest::newRow(command) << command << message;
        };
        row("power", "power: expects on or off");
        row("power up", "power: expects on or off, got 'up'");
        row("power on --json", "power: expects one argument");
        row("detect now", "detect: takes no arguments, got 'now'");
        row("status -v", "status: unknown option '-v'");
        row("status --json all", "status: takes no arguments, got 'all'");
        row("list /dev/hidraw0", "list: takes no arguments, got '/dev/hidraw0'");
        row("telemetry --json --csv", "telemetry: --csv and --json exclude each other");
        row("telemetry --count", "telemetry: --count needs a value");
        row("telemetry --interval -5", "telemetry: --interval: MS must be a whole number of "
                                       "milliseconds from 0 to 3600000, got '-5'");
        row("telemetry --average=0",
            "telemetry: --average: N must be a whole number from 1 to 1000, got '0'");
        row("telemetry --rate 5", "telemetry: unknown option '--rate'");
        row("set", "set: expects vout, enable, dvs or ss");
        row("set volts 1 0.9", "set: unknown setting 'volts' (vout, enable, dvs or ss)");
        row("set vout 1", "set vout: expects a regulator and a value");
        row("set vout 4 0.9", "set vout: VR must be 1, 2 or 3 (or VR1 to VR3), got '4'");
        row("set vout 1 nan", "set vout: VOLTS must be a number, got 'nan'");
        row("set vout 1 1.3", "set vout: 1.3 V is outside the range 0.5 to 1.202 V");
        row("set enable VR1 yes", "set enable: expects on or off, got 'yes'");
        row("set dvs 1 5.0", "set dvs: " + rate + "'5.0'");
        row("set ss 2 16", "set ss: " + rate + "'16'");
        row("reg", "reg: expects get or set");
        row("reg get", "reg get: expects an address");
        row("reg get 0x100", "reg get: ADDR " + byteText + "'0x100'");
        row("reg get 0x0f", "reg get: Attempt to read to unreadable address: 0d15");
        row("reg get 0x13 --verify", "reg get: --verify applies to writes only");
        row("reg set 0x01 5", "reg set: Attempt to write to unwriteable address: 0d1");
        row("reg set 0x41 300", "reg set: VALUE " + byteText + "'300'");
        row("reg set 0x0f 1 --verify",
            "reg set: --verify cannot read back the write-only register 0x0f");
        row("save", "save: expects a file name");
        row("save a b", "save: expects one file name");
        row("load --force x.cfg", "load: unknown option '--force'");
        row("frobnicate", "unknown command 'frobnicate'");
        row("--bogus", "unknown option '--bogus'");
        row("--device=", "--device needs a path");
        row("--device=/dev/hidraw1 --device /dev/hidraw2",
            "--device given twice (one board per run)");
        // Only a model's name after --simulate is taken as the model.
        row("--simulate QM9", "unknown command 'QM9'");
        row("--simulate=QM9", "Unknown chip model \"QM9\" for --simulate (known: QM4411, QM4422, "
                              "QM4423, QM4433, QM4434)");
    }
    void badArgumentsGiveUsage() {
        QFETCH(QString, command);
        QFETCH(QString, message);
        const QString u = "usage: qm44xx-ctl ";
        const QString more = "\n       qm44xx-ctl ";
        const QMap<QString, QString> usages = {
            {"power", "power on|off"},
            {"detect", "detect [--json]"},
            {"status", "status [--check] [--json]"},
            {"list", "list [--json]"},
            {"telemetry", "telemetry [--interval MS] [--count N] [--average N] [--csv] [--json]"},
            {"set", "set vout VR VOLTS [--verify]" + more + "set enable VR on|off [--verify]" +
                        more + "set dvs VR RATE [--verify]" + more + "set ss VR RATE [--verify]"},
            {"set vout", "set vout VR VOLTS [--verify]"},
            {"set enable", "set enable VR on|off [--verify]"},
            {"set dvs", "set dvs VR RATE [--verify]"},
            {"set ss", "set ss VR RATE [--verify]"},
            {"reg", "reg get ADDR" + more + "reg set ADDR VALUE [--verify]"},
            {"reg get", "reg get ADDR"},
            {"reg set", "reg set ADDR VALUE [--verify]"},
            {"save", "save FILE"},
            {"load", "load FILE [--verify]"}};
        const QString name = message.section(':', 0, 0);
        const QString usage = usages.contains(name)
                                  ? u + usages[name] + "\n"
                                  : QString("Try 'qm44xx-ctl --help' for more information.\n");
        SimulatedBridge &bridge = startSimulation("QM4434");
        // Options come first; every command is checked before the first one runs.
        const QString line =
            command.startsWith("--") ? command + " power on" : "power on ; " + command;
        const Result r = ctl(line);
        QCOMPARE(r.exit(), "exit 1: qm44xx-ctl: " + message + "\n" + usage);
        QCOMPARE(r.out, QString());
        QVERIFY(bridge.reports().empty());
    }

    void eachModelInOneProcess_data() {
        QTest::addColumn<QString>("model");
        QTest::addColumn<int>("count");
        QTest::addColumn<QString>("expected");
        QTest::addColumn<QStringList>("writes");
        // After the power-up wait of 250 ms.
        const QString t0 = "2024-05-01T12:00:00.250Z", t1 = "2024-05-01T12:00:00.350Z";
        QTest::newRow("one regulator")
            << "QM4411" << 1
            << "chip: QM4411\naddress: 0x19\nid: 0x11\nregulators: 1\n" + OK_STATUS_CORE +
                   okStatus(1) + "time,vin_v,temperature_c,vr1_v\n" + t0 + ",1.801,28.64,0.5988\n" +
                   t1 + ",1.801,28.64,0.5988\n"
            << QStringList{"19: 40 08", "19: 0f 01", "19: 41 51", "19: 0f 01"};
        QTest::newRow("two regulators")
            << "QM4422" << 2
            << "chip: QM4422\naddress: 0x25\nid: 0x22\nregulators: 2\n" + OK_STATUS_CORE +
                   okStatus(1) + okStatus(2) + "time,vin_v,temperature_c,vr1_v,vr2_v\n" + t0 +
                   ",1.801,31.76,0.5988,0.8981\n" + t1 + ",1.801,31.76,0.5988,0.8981\n"
            << QStringList{"25: 40 08", "25: 0f 01", "25: 41 51", "25: 0f 01",
                           "25: c0 08", "25: 0f 01", "25: c1 9a", "25: 0f 01"};
        QTest::newRow("three regulators")
            << "QM4434" << 3
            << "chip: QM4434\naddress: 0x11\nid: 0x34\nregulators: 3\n" + OK_STATUS_CORE +
                   okStatus(1) + okStatus(2) + okStatus(3) +
                   "time,vin_v,temperature_c,vr1_v,vr2_v,vr3_v\n" + t0 +
                   ",1.801,33.32,0.5988,0.8981,1.1974\n" + t1 +
                   ",1.801,33.32,0.5988,0.8981,1.1974\n"
            << QStringList{"11: 40 08", "11: 0f 01", "11: 41 51", "11: 0f 01",
                           "11: 80 08", "11: 0f 01", "11: 81 9a", "11: 0f 01",
                           "11: c0 08", "11: 0f 01", "11: c1 e3", "11: 0f 01"};
    }
    void eachModelInOneProcess() {
        QFETCH(QString, model);
        QFETCH(int, count);
        QFETCH(QString, expected);
        QFETCH(QStringList, writes);
        QString script = "power on";
        const char *targets[] = {"0.6", "0.9", "1.2"};
        for (int vr = 1; vr <= count; ++vr)
            script +=
                QString(" ; set enable %1 on ; set vout VR%1 %2").arg(vr).arg(targets[vr - 1]);
        script += " ; detect ; status ; telemetry --csv --count 2 --interval 100";
        const Result r = ctl("--simulate=" + model + " " + script);
        QCOMPARE(r.exit(), QString("exit 0: "));
        QCOMPARE(r.out, expected);
        QCOMPARE(busWrites(*simulation()), writes);
        QCOMPARE(sleeps, (QList<long>{250, 100}));
    }

    void statusAndIdentityAcrossProcesses() {
        SimulatedBridge &bridge = startSimulation("QM4433");
        // EN starts low: nothing answers, and status does not raise EN.
        QCOMPARE(ctl("status").err, NOT_POWERED);
        QVERIFY(!bridge.en() && bridge.commandCount(bridge::CMD_SET_EN) == 0);

        QCOMPARE(ctl("power on").code, 0);
        QVERIFY(bridge.en());
        // Later processes identify the chip by themselves, without touching EN.
        QCOMPARE(ctl("set enable 1 on ; set enable 2 on ; set enable 3 on").code, 0);
        SimulatedChip &chip = bridge.chip();
        chip.setInputVoltage(1.55);
        chip.setAmbient(110);
        chip.setPageFault(1, false, false, true);
        chip.setPageFault(2, true, false, false);
        chip.setPageFault(3, false, true, false);
        Result r = ctl("status");
        QCOMPARE(r.code, 0);
        QCOMPARE(r.out, QString("VIN undervoltage:  FAIL\n"
                                "VIN overvoltage:   OK\n"
                                "over-temperature:  WARN\n"
                                "VR1 overvoltage:   OK\n"
                                "VR1 undervoltage:  WARN\n"
                                "VR1 short circuit: FAIL\n"
                                "VR2 overvoltage:   WARN\n"
                                "VR2 undervoltage:  OK\n"
                                "VR2 short circuit: OK\n"
                                "VR3 overvoltage:   OK\n"
                                "VR3 undervoltage:  WARN\n"
                                "VR3 short circuit: OK\n"));
        chip.setInputVoltage(2.05);
        chip.setAmbient(130);
        QVERIFY(ctl("status").out.startsWith(
            "VIN undervoltage:  OK\nVIN overvoltage:   FAIL\nover-temperature:  FAIL\n"));
        chip.setInputVoltage(1.97);
        QVERIFY(ctl("status").out.contains("VIN overvoltage:   WARN\n"));
        QCOMPARE(bridge.commandCount(bridge::CMD_SET_EN), 1L);

        // On a two-regulator chip VR2 is page 3.
        SimulatedBridge &two = startSimulation("QM4422");
        QCOMPARE(ctl("power on ; set enable 2 on").code, 0);
        two.chip().setPageFault(3, false, false, true);
        QCOMPARE(ctl("status").out, OK_STATUS_CORE + okStatus(1) +
                                        "VR2 overvoltage:   OK\nVR2 undervoltage:  WARN\n"
                                        "VR2 short circuit: FAIL\n");
    }

    void telemetryPacingAveragingAndOutput() {
        SimulatedBridge &bridge = startSimulation("QM4411");
        QCOMPARE(ctl("power on").code, 0);
        Result r = ctl("telemetry --count 3 --interval 50");
        QCOMPARE(r.out, QString("VIN 1.801 V  temperature 25.52 C  VR1 0.0000 V\n").repeated(3));
        QCOMPARE(sleeps, (QList<long>{250, 50, 50})); // power-up, then between samples

        // Each sample is the mean of N readings: with noise on, the chip's own
        // sequence of VIN and temperature codes (an output that is off has no noise).
        SimulatedChip &chip = bridge.chip();
        chip.setNoise(true, 3);
        double vin = 0, temperature = 0;
        for (int i = 0; i < 4; ++i) {
            vin += conv::vinFromCode(chip.peek(reg::VIN)) / 4;
            temperature += conv::temperatureFromCode(chip.peek(reg::TEMPERATURE)) / 4;
        }
        chip.setNoise(true, 3);
        sleeps.clear();
        bridge.clearTraffic();
        r = ctl("telemetry --average 4 --count 2 --interval=0");
        QCOMPARE(r.code, 0);
        QVERIFY(sleeps.isEmpty());
        const QString first =
            QString::fromStdString("VIN " + text::fixed(vin, 3) + " V  temperature " +
                                   text::fixed(temperature, 2) + " C  VR1 0.0000 V\n");
        QVERIFY(first != "VIN 1.801 V  temperature 25.52 C  VR1 0.0000 V\n");
        QVERIFY2(r.out.startsWith(first), qPrintable(r.out));
        QCOMPARE(r.out.count('\n'), 2);
        // Identification (the first row's probe, 8 reads of the refresh), then 2 x 4 x 3
        // readings.
        QCOMPARE(bridge.reports().size(), size_t(1 + 8 + 2 * 4 * 3));
        chip.setNoise(false);

        // CSV is flushed after the header and after every row.
        FlushRecorder recorder;
        std::ostream out(&recorder);
        std::ostringstream err;
        QCOMPARE(runTo({"telemetry", "--csv", "--count", "2", "--interval", "0"}, out, err), 0);
        const QString header = "time,vin_v,temperature_c,vr1_v\n";
        // After the power-up wait and 2 x 50 ms.
        const QString row = "2024-05-01T12:00:00.350Z,1.801,25.52,0.0000\n";
        QCOMPARE(recorder.flushed, (QStringList{header, header + row, header + row + row}));

        // An endless run ends when its reader goes away.
        ClosingSink closing(200);
        std::ostream closed(&closing);
        std::ostringstream closedErr;
        QCOMPARE(runTo({"telemetry", "--count", "0", "--interval", "0"}, closed, closedErr), 1);
        QCOMPARE(QString::fromStdString(closedErr.str()),
                 QString("qm44xx-ctl: telemetry: cannot write the output\n"));
    }

    void registersDumpAndVerify() {
        SimulatedBridge &bridge = startSimulation("QM4422");
        QCOMPARE(ctl("power on").code, 0);
        QCOMPARE(ctl("reg get 0x13 ; reg get 19").out, QString("0x22\n0x22\n"));
        // The board's traffic lines, each after the time, on standard error.
        Result r = ctl("--trace reg get 0x13");
        QCOMPARE(r.out, QString("0x22\n"));
        const QString at = "2024-05-01T12:00:00.250Z "; // after the power-up wait
        QVERIFY(r.err.startsWith(at + "I2C Write, Addr 0x19 => [ 0x13 ]\n" + at +
                                 "I2C Read,  Addr 0x19 <= [ 0xff ]\n" + at +
                                 "I2C Write, Addr 0x25 => [ 0x13 ]\n"));
        QVERIFY(r.err.endsWith(at + "I2C Write, Addr 0x25 => [ 0x13 ]\n" + at +
                               "I2C Read,  Addr 0x25 <= [ 0x22 ]\n"));
        QCOMPARE(r.err.count('\n'), 2 * (2 + 12 + 1)); // probes, refresh, the read
        // save reads the registers once, also when it identifies the chip.
        QCOMPARE(ctl("--trace save -").err.count('\n'), 2 * (2 + 12));
        QCOMPARE(ctl("--trace pvin on").err, at + "PVIN ON\n");
        bridge.clearTraffic();
        QCOMPARE(ctl("reg set 0xc1 0x80 ; reg set 0x0f 1").code, 0);
        QCOMPARE(busWrites(bridge), (QStringList{"25: c1 80", "25: 0f 01", "25: 0f 01"}));

        // Page 2 is not populated on this chip: its registers ignore writes.
        QCOMPARE(ctl("reg set 0x81 5 --verify").exit(),
                 QString("exit 2: qm44xx-ctl: verify failed: register 0x81 reads 0x00, 0x05 was "
                         "written\n"));
        QCOMPARE(ctl("--verify set vout 2 0.9 ; set ss 2 7.8").code, 0);
        QCOMPARE(int(bridge.chip().peek(0xC2)), 0x24); // soft-start 4 with clim 2

        bridge.clearTraffic();
        QCOMPARE(ctl("set vout 3 0.9").exit(),
                 QString("exit 1: qm44xx-ctl: set vout: QM4422 has no VR3 (it has 2 regulators)\n"
                         "usage: qm44xx-ctl set vout VR VOLTS [--verify]\n"));
        QVERIFY(bridge.writes().empty());

        r = ctl("dump");
        QCOMPARE(r.out, QString("     0  1  2  3  4  5  6  7  8  9  a  b  c  d  e  f\n"
                                "00: 00 b3 7b 00 00 00 00 00 00 -- -- -- -- -- -- --\n"
                                "10: 51 4d 01 22 -- -- -- -- -- -- -- -- -- -- -- --\n"
                                "40: 00 76 13 03 -- -- -- -- -- -- -- -- -- -- -- --\n"
                                "80: 00 00 00 00 -- -- -- -- -- -- -- -- -- -- -- --\n"
                                "c0: 00 9a 24 03 -- -- -- -- -- -- -- -- -- -- -- --\n"));
    }

    void saveThenLoadRestoresEverySetting() {
        QTemporaryDir dir;
        const QString first = dir.filePath("first.cfg"), second = dir.filePath("second.cfg");
        Result r = ctl({"--simulate=QM4434",
                        "power on; set enable 1 on; set vout 1 1.0; "
                        "set dvs 1 15744; set ss 1 0.5; set enable 3 on; "
                        "set vout 3 0.55; set dvs 3 7; set ss 3 12",
                        ";", "save", first});
        QCOMPARE(r.err, QString());
        const QByteArray settings = pageRegisters(*simulation());
        QCOMPARE(settings.toHex(), QByteArray("08b2000f007613030845ac07"));
        QCOMPARE(readFile(first),
                 QByteArray("# QM44xxC regulator settings, written by qm44xx-ctl save\n"
                            "# enable: on or off; vout: output target in volts, 0.5 to 1.202\n"
                            "# dvs, ss: rate in mV/us (0.5 1.0 2.0 3.9 7.8 15.4 30.8 61.5 123 246\n"
                            "#          492 984 1968 3936 7872 15744) or its code 0 to 15\n"
                            "chip = QM4434\n\n"
                            "[VR1]\nenable = on\nvout = 0.9965\ndvs = 15744\nss = 0.5\n\n"
                            "[VR2]\nenable = off\nvout = 0.7505\ndvs = 3.9\nss = 3.9\n\n"
                            "[VR3]\nenable = on\nvout = 0.5496\ndvs = 61.5\nss = 1968\n"));

        r = ctl({"--simulate=QM4434", "power", "on", ";", "load", first, ";", "save", second, ";",
                 "save", "-"});
        QCOMPARE(r.code, 0);
        QCOMPARE(pageRegisters(*simulation()), settings);
        QCOMPARE(readFile(second), readFile(first));
        QCOMPARE(r.out, QString::fromUtf8(readFile(first)));

        // A hand-written file: a byte-order mark, comments, CR LF, codes for rates,
        // any case of section.
        QByteArray edited = "\xEF\xBB\xBF# bench\n" + GOOD_FILE;
        edited.replace("[VR2]", " [vr2] ").replace("\n", "\r\n");
        r = ctl({"--simulate=QM4434", "--verify", "power on; load -"}, edited);
        QCOMPARE(r.err, QString());
        QCOMPARE(pageRegisters(*simulation()).toHex(), QByteArray("089a13030075020108e3af0f"));
    }

    void badConfigFilesAreRefusedUntouched_data() {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QString>("message");
        auto row = [](const char *name, const QByteArray &text, const QString &message) {
            QTest::newRow(name) << text << message;
        };
        auto changed = [](const char *from, const char *to) {
            return QByteArray(GOOD_FILE).replace(from, to);
        };
        row("other model", changed("QM4434", "QM4433"),
            "line 1: the file is for QM4433, the chip is QM4434");
        row("unknown model", changed("QM4434", "QM9999"),
            "line 1: chip: unknown model 'QM9999' (known: QM4411, QM4422, QM4423, QM4433, QM4434)");
        row("no chip", changed("chip = QM4434\n", ""),
            "line 1: [VR1] comes before the key 'chip' (the file starts with chip = MODEL)");
        row("empty", QByteArray(), "missing key 'chip'");
        row("missing key", changed("ss = 2\n", ""), "[VR2]: missing key 'ss'");
        row("missing section", QByteArray(GOOD_FILE).left(GOOD_FILE.indexOf("[VR3]")),
            "missing section [VR3] (QM4434 has 3 regulators)");
        row("unknown key", changed("vout = 0.9", "volts = 0.9"), "line 4: unknown key 'volts'");
        row("twice", changed("dvs = 1.0", "ss = 1.0"),
            "line 11: the key 'ss' appears twice in [VR2]");
        row("too high", changed("vout = 1.2", "vout = 1.3"),
            "line 14: vout: 1.3 V is outside the range 0.5 to 1.202 V");
        row("not a rate", changed("dvs = 15744", "dvs = 5.0"),
            "line 15: dvs: expected a rate in mV/us or a code from 0 to 15, got '5.0'");
        row("not on or off", changed("enable = off", "enable = yes"),
            "line 8: enable: expected on or off, got 'yes'");
        row("no equals sign", changed("enable = off", "enable off"),
            "line 8: expected 'key = value', a [VRn] section or a comment, got 'enable off'");
        row("unknown section", changed("[VR3]", "[VR4]"),
            "line 12: unknown section '[VR4]' (expected [VR1], [VR2] or [VR3])");
        row("section twice", changed("[VR3]", "[VR2]"), "line 12: section [VR2] appears twice");
        row("binary", QByteArray("\x01\x7f\x00garbage", 10),
            "line 1: expected 'key = value', a [VRn] section or a comment, got "
            "'\\x01\\x7f\\x00garbage'");
        row("huge", QByteArray(70000, '#'), "larger than 65536 bytes: not a configuration file");
    }
    void badConfigFilesAreRefusedUntouched() {
        QFETCH(QByteArray, text);
        QFETCH(QString, message);
        const bool reachesBoard = message.contains("the chip is"); // identified, reads only
        QTemporaryDir dir;
        const QString path = dir.filePath("bad.cfg");
        QVERIFY(writeFile(path, text));
        SimulatedBridge &bridge = startSimulation("QM4434");
        QCOMPARE(ctl("power on ; set enable 1 on").code, 0);
        const QByteArray before = pageRegisters(bridge);
        bridge.clearTraffic();

        QCOMPARE(ctl({"load", path}).exit(),
                 "exit 1: qm44xx-ctl: load: " + path + ": " + message + "\n");
        QVERIFY(bridge.writes().empty());
        QCOMPARE(bridge.reports().empty(), !reachesBoard);
        QCOMPARE(pageRegisters(bridge), before);
    }

    void fileAndBoardErrors() {
        QTemporaryDir dir;
        const QString missing = dir.filePath("missing.cfg");
        QCOMPARE(ctl({"load", missing}).exit(), "exit 1: qm44xx-ctl: load: cannot open " + missing +
                                                    ": No such file or directory\n");
        const QString noDir = dir.filePath("no/such/dir.cfg");
        QVERIFY(ctl({"--simulate", "power on ; save", noDir})
                    .exit()
                    .startsWith("exit 1: qm44xx-ctl: save: cannot write " + noDir));

        stopSimulation();
        QCOMPARE(ctl("status").exit(), QString("exit 2: qm44xx-ctl: Motherboard not found\n"));
        SimulatedBridge &bridge = startSimulation("QM4434");
        bridge.refuseOpen(13);
        QCOMPARE(ctl("power on").err,
                 QString("qm44xx-ctl: Error opening motherboard USB connection: 13\n"
                         "qm44xx-ctl: (Permission denied) only root may open the bridge's node: "
                         "install the udev rule 70-qm44xx-bridge.rules and plug the board in "
                         "again (see \"Installing on Linux\" in the README)\n"));
        bridge.refuseOpen(0);

        QCOMPARE(ctl("pvin off ; power on").exit(),
                 QString("exit 2: qm44xx-ctl: IVR not powered: no known chip answered after EN "
                         "went high (is PVIN on?)\n"));
        QCOMPARE(ctl("status").err, NOT_POWERED);
        // EN is still high: the chip starts again.
        QCOMPARE(ctl("pvin on ; detect").out,
                 QString("chip: QM4434\naddress: 0x11\nid: 0x34\nregulators: 3\n"));
        // Power-up waits of the two power-ons, then PVIN's.
        QCOMPARE(sleeps, (QList<long>{250, 250, 250}));
    }

    // save completes (written, flushed, checked, renamed) or fails with exit 1
    // and the old file as it was, byte for byte.
    void saveIsWholeOrNothing() {
        QTemporaryDir dir;
        const QString path = dir.filePath("bench.cfg");
        const QByteArray old = "# an older file, not to be lost\n";
        QVERIFY(writeFile(path, old));
        QVERIFY(chmod(QFile::encodeName(path), 0640) == 0);
        const QString before = fileState(path);
        startSimulation("QM4434");
        QCOMPARE(ctl("power on").code, 0);

        // No room for the new text: writes past 64 bytes fail (EFBIG), as on a
        // full disk.
        std::signal(SIGXFSZ, SIG_IGN);
        rlimit saved;
        QVERIFY(getrlimit(RLIMIT_FSIZE, &saved) == 0);
        rlimit small = saved;
        small.rlim_cur = 64;
        QVERIFY(setrlimit(RLIMIT_FSIZE, &small) == 0);
        const Result full = ctl({"save", path});
        setrlimit(RLIMIT_FSIZE, &saved);
        QCOMPARE(full.exit(),
                 "exit 1: qm44xx-ctl: save: cannot write " + path + ": File too large\n");
        QCOMPARE(fileState(path), before);
        const auto entries = QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot;
        QCOMPARE(QDir(dir.path()).entryList(entries), QStringList{"bench.cfg"});

        // With room it is replaced whole and keeps its permission bits, and for
        // root its owner and group.
        const bool root = geteuid() == 0;
        if (root)
            QVERIFY(chown(QFile::encodeName(path), 12345, 12346) == 0);
        QCOMPARE(ctl({"save", path}).exit(), QString("exit 0: "));
        const QString after = fileState(path);
        const QString owner = root ? "12345:12346" : before.section(' ', 1, 1);
        QVERIFY2(after.startsWith("100640 " + owner + " # QM44xxC regulator settings"),
                 qPrintable(after));
        QVERIFY(after.endsWith("[VR3]\nenable = off\nvout = 0.7505\ndvs = 3.9\nss = 3.9\n"));

        // Through a symbolic link, the file it names is written; the link stays.
        const QString link = dir.filePath("link.cfg");
        QVERIFY(symlink("bench.cfg", QFile::encodeName(link)) == 0);
        QVERIFY(writeFile(path, old));
        QCOMPARE(ctl({"save", link}).code, 0);
        QVERIFY(fileState(link).startsWith("120777 "));
        QCOMPARE(fileState(path), after);
        // A new file gets what the umask leaves.
        const mode_t mask = umask(027);
        QCOMPARE(ctl({"save", dir.filePath("new.cfg")}).code, 0);
        umask(mask);
        QVERIFY(fileState(dir.filePath("new.cfg")).startsWith("100640 "));
        QCOMPARE(QDir(dir.path()).entryList(entries),
                 (QStringList{"bench.cfg", "link.cfg", "new.cfg"}));

        if (!root)
            return;
        // A user who may write the directory, but cannot give the new file the
        // old one's owner, is refused, and the file stays as it was.
        QVERIFY(chmod(QFile::encodeName(dir.path()), 0777) == 0);
        QVERIFY(chown(QFile::encodeName(path), 0, 0) == 0);
        QVERIFY(chmod(QFile::encodeName(path), 0666) == 0);
        const QString owned = fileState(path);
        const pid_t child = fork();
        if (child == 0) {
            if (setgid(65534) != 0 || setuid(65534) != 0)
                _exit(3);
            const QString refused = ctl({"save", path}).exit();
            if (refused == "exit 1: qm44xx-ctl: save: cannot write " + path +
                               ": its owner and group (0:0) cannot be kept: Operation not "
                               "permitted\n")
                _exit(0);
            std::fprintf(stderr, "%s", qPrintable(refused));
            _exit(1);
        }
        int status = -1;
        waitpid(child, &status, 0);
        QCOMPARE(status, 0);
        QCOMPARE(fileState(path), owned);
        QCOMPARE(QDir(dir.path()).entryList(entries),
                 (QStringList{"bench.cfg", "link.cfg", "new.cfg"}));
    }

    // Only regular files are saved over or loaded; '-' stays standard output
    // and input.
    void specialFilesAreRefused() {
        QTemporaryDir dir;
        const QString fifo = dir.filePath("fifo");
        QVERIFY(mkfifo(QFile::encodeName(fifo), 0644) == 0);
        // As root a copy of /dev/null, so that a fault cannot replace the machine's
        // own (left out where root may not make device nodes).
        const QString copy = dir.filePath("null");
        const bool made =
            geteuid() == 0 && mknod(QFile::encodeName(copy), S_IFCHR | 0666, makedev(1, 3)) == 0;
        const QString device = made ? copy : geteuid() == 0 ? QString() : "/dev/null";
        startSimulation("QM4434");
        QCOMPARE(ctl("power on").code, 0);
        QStringList paths = {fifo, dir.path()};
        QStringList kinds = {"a FIFO", "a directory"};
        if (!device.isEmpty()) {
            paths << device;
            kinds << "a device";
        }
        for (int i = 0; i < paths.size(); ++i) {
            const QString before = fileState(paths[i]);
            const QString notRegular = paths[i] + ": not a regular file (" + kinds[i] + ")\n";
            QCOMPARE(ctl({"save", paths[i]}).exit(),
                     "exit 1: qm44xx-ctl: save: cannot write " + notRegular);
            // A FIFO without a writer would block an open for reading.
            QCOMPARE(ctl({"load", paths[i]}).exit(),
                     "exit 1: qm44xx-ctl: load: cannot read " + notRegular);
            QCOMPARE(fileState(paths[i]), before);
        }
        const auto entries = QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot;
        QCOMPARE(QDir(dir.path()).entryList(entries).size(), made ? 2 : 1);
    }

    // A failed write to standard output fails the command that wrote.
    void everyOutputWriteIsChecked() {
        startSimulation("QM4434");
        QCOMPARE(ctl("power on").code, 0);
        const bool full = QFileInfo::exists("/dev/full");
        for (const char *line :
             {"save -", "dump", "status", "detect", "reg get 0x13", "telemetry --count 2 --csv"}) {
            const QString command = line;
            const QString name = command.section(' ', 0, command.startsWith("reg") ? 1 : 0);
            const QString expected = "qm44xx-ctl: " + name + ": cannot write the output\n";
            ClosingSink closing(0);
            std::ostream closed(&closing);
            std::ostringstream err;
            QCOMPARE(runTo(command.split(' '), closed, err), 1);
            QCOMPARE(QString::fromStdString(err.str()), expected);
            if (!full)
                continue;
            std::ofstream deviceFull("/dev/full");
            std::ostringstream fullErr;
            QCOMPARE(runTo(command.split(' '), deviceFull, fullErr), 1);
            QCOMPARE(QString::fromStdString(fullErr.str()), expected);
        }
    }

    // The I2C general call (address 0x00) reaches every device on the bus: the
    // tool identifies a chip by the five models' addresses only.
    void nothingGoesToTheGeneralCall() {
        SimulatedBridge &bridge = startSimulation("QM4422");
        const QList<int> known = {0x19, 0x25, 0x2d, 0x0d, 0x11};
        for (const char *script : {"pvin off ; power on", "detect", "status", "save -", "dump"}) {
            bridge.clearTraffic();
            const Result r = ctl(script);
            QCOMPARE(r.code, 2);
            QCOMPARE(addressesReached(bridge), known);
        }
        bridge.clearTraffic();
        QCOMPARE(ctl("pvin on ; power on ; detect ; status ; save -").code, 0);
        QCOMPARE(addressesReached(bridge), (QList<int>{0x19, 0x25}));
    }

    void commandsFromStandardInput() {
        QTemporaryDir dir;
        startSimulation("QM4411");
        const QString file = dir.filePath("my settings.cfg");
        const QByteArray script = "# bench script\n\npower on\nset vout 1 0.9; set enable 1 on\n"
                                  "reg get 0x41\nsave \"" +
                                  file.toUtf8() + "\"\nreg get 0x0f\nstatus\n";
        Result r = ctl(QStringList{}, script);
        QCOMPARE(r.out, QString("0x9a\n"));
        QCOMPARE(r.exit(), QString("exit 1: qm44xx-ctl: line 7: reg get: Attempt to read to "
                                   "unreadable address: 0d15\nusage: qm44xx-ctl reg get ADDR\n"));
        QVERIFY(readFile(file).contains("[VR1]\nenable = on\nvout = 0.8981\n"));

        r = ctl({"--simulate=QM4411"}, "power on\nload -\n");
        QCOMPARE(r.err, QString("qm44xx-ctl: line 2: load: standard input carries the commands; "
                                "give a file name\nusage: qm44xx-ctl load FILE [--verify]\n"));
        QCOMPARE(ctl(QStringList{}, QByteArray(5000, 'x') + "\nstatus\n").exit(),
                 QString("exit 1: qm44xx-ctl: line 1: longer than 4096 characters\n"));
        r = ctl(QStringList{}, "status\nsave \"x\n");
        QCOMPARE(r.err, QString("qm44xx-ctl: line 2: unterminated double quote\n"));
        QCOMPARE(r.out.count("OK\n"), 6);
        r = ctl({"--"}, "");
        QCOMPARE(r.exit() + r.out, QString("exit 0: "));
    }

    // list shows every bridge, one per line, and opens none: boards that refuse
    // every open are listed all the same.
    void listShowsEveryBridgeAndOpensNone() {
        Result r = ctl("list");
        QCOMPARE(r.exit() + r.out, QString("exit 0: "));
        QCOMPARE(ctl("--json list").out, QString());

        addSimulation("QM4434");
        addSimulation("QM4422");
        addSimulation("QM4411");
        for (SimulatedBridge *board : simulations())
            board->refuseOpen(EACCES);
        const QString product = "Microchip Technology Inc.\tQM44xxC evaluation board (simulated ";
        r = ctl("list ; detect");
        QCOMPARE(r.out, "sim:QM4434\tSIM0001\t" + product + "QM4434)\n" +
                            "sim:QM4422-2\tSIM0002\t" + product + "QM4422)\n" +
                            "sim:QM4411-3\tSIM0003\t" + product + "QM4411)\n");
        QVERIFY(r.exit().startsWith("exit 2: qm44xx-ctl: Error opening motherboard USB connection: "
                                    "13\n"));

        r = ctl("list --json");
        const QString first =
            "{\"manufacturer\":\"Microchip Technology Inc.\",\"path\":\"sim:QM4434\","
            "\"product\":\"QM44xxC evaluation board (simulated QM4434)\","
            "\"serial\":\"SIM0001\"}";
        QCOMPARE(r.out.section('\n', 0, 0), first);
        QCOMPARE(r.out.count('\n'), 3);
        QCOMPARE(jsonLines(r.out).join('\n') + '\n', r.out);
        for (SimulatedBridge *board : simulations())
            QVERIFY(board->reports().empty());

        // Strings from a device keep the line's four fields.
        hid::DeviceInfo odd;
        odd.path = "/dev/hidraw7";
        odd.product = "two\tfields\nand a line";
        QCOMPARE(ctl::formatBridge(odd), std::string("/dev/hidraw7\t\t\ttwo?fields?and a line\n"));
        QCOMPARE(ctl::bridgeJson(odd),
                 std::string("{\"manufacturer\":\"\",\"path\":\"/dev/hidraw7\","
                             "\"product\":\"two\\tfields\\nand a line\","
                             "\"serial\":\"\"}"));
    }

    // --device opens the bridge at that path; without it, the first one listed.
    void deviceChoosesTheBoard() {
        const Result r = ctl("--simulate=QM4434 --simulate QM4422 --device sim:QM4422-2 power on ; "
                             "detect ; set enable 1 on ; set vout 1 0.9");
        QCOMPARE(r.exit(), QString("exit 0: "));
        QCOMPARE(r.out, QString("chip: QM4422\naddress: 0x25\nid: 0x22\nregulators: 2\n"));
        const std::vector<SimulatedBridge *> boards = simulations();
        QCOMPARE(boards.size(), size_t(2));
        QVERIFY(boards[0]->reports().empty() && !boards[0]->en());
        QVERIFY(boards[1]->en());
        // A later run on the second board, by path: it holds what the first set.
        QCOMPARE(ctl("--device=sim:QM4422-2 telemetry").out,
                 QString("VIN 1.801 V  temperature 28.64 C  VR1 0.8981 V  VR2 0.0000 V\n"));
        QVERIFY(!boards[0]->en());

        QCOMPARE(ctl("--device sim:QM4433 detect").exit(),
                 QString("exit 2: qm44xx-ctl: Motherboard not found: sim:QM4433\n"));
    }

    void jsonOutput() {
        startSimulation("QM4422");
        Result r = ctl("--json power on ; set enable 1 on ; set vout 1 0.9 ; detect ; status ; "
                       "telemetry --count 2 --interval 100 ; dump ; telemetry --csv");
        QCOMPARE(r.exit(), QString("exit 0: "));
        const QString at = "\"time\":\"2024-05-01T12:00:00.";
        const QString sample = "{\"temperature_c\":28.64," + at +
                               "%1Z\",\"vin_v\":1.801,"
                               "\"vr1_v\":0.8981,\"vr2_v\":0}\n";
        QCOMPARE(r.out,
                 "{\"address\":37,\"chip\":\"QM4422\",\"id\":34,\"regulators\":2}\n"
                 "{\"over_temperature\":\"OK\",\"overall\":\"OK\",\"vin_overvoltage\":\"OK\","
                 "\"vin_undervoltage\":\"OK\",\"vr1_overvoltage\":\"OK\",\"vr1_short_circuit\":"
                 "\"OK\",\"vr1_undervoltage\":\"OK\",\"vr2_overvoltage\":\"OK\","
                 "\"vr2_short_circuit\":\"OK\",\"vr2_undervoltage\":\"OK\"}\n" +
                     sample.arg(250) + sample.arg(350) +
                     "{\"registers\":{\"0x00\":0,\"0x01\":179,\"0x02\":125,\"0x03\":154,\"0x04\":0,"
                     "\"0x05\":0,\"0x06\":0,\"0x07\":0,\"0x08\":0,\"0x10\":81,\"0x11\":77,"
                     "\"0x12\":1,\"0x13\":34,\"0x40\":8,\"0x41\":154,\"0x42\":19,\"0x43\":3,"
                     "\"0x80\":0,\"0x81\":0,\"0x82\":0,\"0x83\":0,\"0xc0\":0,\"0xc1\":118,"
                     "\"0xc2\":19,\"0xc3\":3}}\n"
                     // --csv given to the command outweighs --json given to them all.
                     "time,vin_v,temperature_c,vr1_v,vr2_v\n"
                     "2024-05-01T12:00:00.350Z,1.801,28.64,0.8981,0.0000\n");

        // --json on one command only; a failing flag, the worst of them all.
        SimulatedChip &chip = simulation()->chip();
        chip.setPageFault(1, true, false, false);
        chip.setAmbient(110);
        r = ctl("detect ; status --json ; detect --json");
        QCOMPARE(r.out, "chip: QM4422\naddress: 0x25\nid: 0x22\nregulators: 2\n"
                        "{\"over_temperature\":\"WARN\",\"overall\":\"WARN\",\"vin_overvoltage\":"
                        "\"OK\",\"vin_undervoltage\":\"OK\",\"vr1_overvoltage\":\"WARN\","
                        "\"vr1_short_circuit\":\"OK\",\"vr1_undervoltage\":\"OK\","
                        "\"vr2_overvoltage\":\"OK\",\"vr2_short_circuit\":\"OK\","
                        "\"vr2_undervoltage\":\"OK\"}\n"
                        "{\"address\":37,\"chip\":\"QM4422\",\"id\":34,\"regulators\":2}\n");
        chip.setPageFault(1, false, false, true);
        QVERIFY(ctl("--json status").out.contains("\"overall\":\"FAIL\""));
        // Letters in lower case, digits as they are, anything else an underscore.
        QCOMPARE(ctl::jsonKey("AZaz09@[`{/:"), std::string("azaz09______"));
    }

    // status --check fails (exit 3) when an indicator is FAIL, after showing
    // them all; a warning passes; plain status always exits 0.
    void statusCheckFailsOnAFailFlag() {
        SimulatedBridge &bridge = startSimulation("QM4434");
        QCOMPARE(ctl("power on ; set enable 1 on ; set enable 3 on").code, 0);
        Result r = ctl("status --check");
        QCOMPARE(r.out, OK_STATUS_CORE + okStatus(1) + okStatus(2) + okStatus(3));
        QCOMPARE(r.code, 0);
        SimulatedChip &chip = bridge.chip();
        chip.setAmbient(110);
        chip.setPageFault(1, true, false, false);
        r = ctl("status --check");
        QCOMPARE(r.out.count("WARN"), 2);
        QCOMPARE(r.exit(), QString("exit 0: "));

        chip.setInputVoltage(1.55);
        chip.setPageFault(3, false, false, true);
        r = ctl("status --check ; power off");
        const QString failed = "status: FAIL: VIN undervoltage, VR3 short circuit\n";
        QCOMPARE(r.exit(), "exit 3: qm44xx-ctl: " + failed);
        QVERIFY(bridge.en()); // the run stopped before power off
        // Every indicator shown first, as plain status shows them with exit 0.
        const Result plain = ctl("status");
        QCOMPARE(r.out, plain.out);
        QCOMPARE(r.out.count("FAIL"), 2);
        QCOMPARE(plain.exit(), QString("exit 0: "));
        r = ctl({"--json", "--"}, "status\nstatus --check\nstatus\n");
        QCOMPARE(r.out.count("\"overall\":\"FAIL\""), 2);
        QCOMPARE(r.exit(), "exit 3: qm44xx-ctl: line 2: " + failed);
    }

    // Sample i is taken at start + i * interval: the time the readings take
    // comes off the wait, so it does not add up; a run that falls a whole
    // interval behind gives up the samples it missed rather than catching up.
    void telemetryKeepsItsPace() {
        SimulatedBridge &bridge = startSimulation("QM4411");
        QCOMPARE(ctl("power on").code, 0);
        // Every exchange with the board takes 3 ms; the VIN read of sample
        // number jumpAt (from 1) takes jump ms more.
        int vinReads = 0, jumpAt = 0;
        qint64 jump = 0;
        const auto threeMs = [&] {
            const std::vector<uint8_t> &report = bridge.reports().back();
            const bool vin = report[1] == bridge::CMD_I2C_WRITE_READ && report[4] == reg::VIN;
            vinReads += vin;
            clock = clock.addMSecs(vin && vinReads == jumpAt ? 3 + jump : 3);
        };
        bridge.setReportHook(threeMs);
        // The rows' times, in ms after the first one.
        auto offsets = [](const QString &csv) {
            QList<qint64> list;
            QDateTime first;
            for (const QString &row : csv.split('\n', Qt::SkipEmptyParts).mid(1)) {
                const QDateTime t =
                    QDateTime::fromString(row.section(',', 0, 0), Qt::ISODateWithMs);
                if (!first.isValid())
                    first = t;
                list << first.msecsTo(t);
            }
            return list;
        };
        auto steps = [](qint64 from, int count, qint64 step) {
            QList<qint64> list;
            for (int i = 0; i < count; ++i)
                list << from + i * step;
            return list;
        };

        // 51 samples at 100 ms take 5 s: three readings of 3 ms, then a wait of 91 ms.
        sleeps.clear();
        Result r = ctl("telemetry --csv --count 51 --interval 100");
        QCOMPARE(r.code, 0);
        QCOMPARE(offsets(r.out), steps(0, 51, 100));
        QCOMPARE(sleeps, QList<long>(QVector<long>(50, 91).toList()));
        const QDateTime lastRow = QDateTime::fromString(
            r.out.section('\n', -2, -2).section(',', 0, 0), Qt::ISODateWithMs);
        QCOMPARE(lastRow.msecsTo(clock), qint64(9));
        sleeps.clear();
        r = ctl("telemetry --csv --count 4 --interval 100 --average 4");
        QCOMPARE(offsets(r.out), steps(0, 4, 100));
        QCOMPARE(sleeps, (QList<long>{64, 64, 64})); // 100 - 4 x 9

        // Readings slower than the interval: no waits, no burst.
        bridge.setReportHook([&] { clock = clock.addMSecs(40); });
        sleeps.clear();
        r = ctl("telemetry --csv --count 7 --interval 100");
        QCOMPARE(offsets(r.out), steps(0, 7, 120));
        QVERIFY(sleeps.isEmpty());
        bridge.setReportHook(threeMs);

        // An hour stopped during the third sample: the fourth comes at once, the
        // ones after it on the schedule again.
        vinReads = 0;
        jumpAt = 3;
        jump = 3600000;
        sleeps.clear();
        r = ctl("telemetry --csv --count 6 --interval 100");
        QCOMPARE(offsets(r.out), (QList<qint64>{0, 100, 200, 3600209, 3600300, 3600400}));
        QCOMPARE(sleeps, (QList<long>{91, 91, 82, 91}));
        // The clock set back an hour: one interval's wait, then a new schedule.
        vinReads = 0;
        jump = -3600000;
        sleeps.clear();
        r = ctl("telemetry --csv --count 5 --interval 100");
        QCOMPARE(offsets(r.out), (QList<qint64>{0, 100, 200, 309 - 3600000, 409 - 3600000}));
        QCOMPARE(sleeps, (QList<long>{91, 91, 100, 91}));
        bridge.setReportHook(nullptr);
    }

    // At a terminal each line gets a prompt, and an error does not end the run.
    void promptAtATerminal() {
        startSimulation("QM4411");
        const QString hint =
            "Type commands, one or more per line (such as: power on; detect; status),\n"
            "and Ctrl-D to end; 'qm44xx-ctl --help' lists them.\n";
        const QString prompt = "qm44xx-ctl> ";
        const auto none = [](int) {};
        Result r =
            typed({}, {"staus", "power on; detect", QString(5000, 'x') + " tail", "reg get 0x13"},
                  none, true);
        QCOMPARE(r.code, 0);
        QCOMPARE(r.out, QString("chip: QM4411\naddress: 0x19\nid: 0x11\nregulators: 1\n0x11\n"));
        QCOMPARE(r.err, hint + prompt + "qm44xx-ctl: line 1: unknown command 'staus'\n" +
                            "Try 'qm44xx-ctl --help' for more information.\n" + prompt + prompt +
                            "qm44xx-ctl: line 3: longer than 4096 characters\n" + prompt + prompt +
                            "\n");
        // The exit code is the last line's.
        r = typed({"--simulate=QM4411", "--"}, {"status", "set vout 1 2"}, none, true);
        QCOMPARE(r.code, 1);
        QCOMPARE(r.out, QString());
        QVERIFY(r.err.endsWith(prompt + "\n"));

        QCOMPARE(ctl(QStringList{"--device"}).exit(),
                 QString("exit 1: qm44xx-ctl: --device needs a path\n"
                         "Try 'qm44xx-ctl --help' for more "
                         "information.\n"));
        // The short options.
        QCOMPARE(ctl("-V").out, QString("qm44xx-ctl " QM_VERSION "\n"));
        QVERIFY(ctl("-h").out.startsWith("Usage: qm44xx-ctl [OPTION]..."));

        // --simulate MODEL, and --simulate followed by a command.
        QCOMPARE(ctl("--simulate QM4423 power on ; detect").out,
                 QString("chip: QM4423\naddress: 0x2d\nid: 0x23\nregulators: 2\n"));
        QCOMPARE(ctl("--simulate power on ; detect").out.section('\n', 0, 0),
                 QString("chip: QM4434"));
    }

    void programEntry() {
        QProcess process;
        // A fresh simulated board (EN low): the session runs and reports, with no
        // hint or prompt, as standard input is no terminal.
        process.start(QM_CTL_BINARY, {"--simulate=QM4411", "detect"});
        QVERIFY(process.waitForFinished(10000));
        QCOMPARE(process.readAllStandardOutput(), QByteArray());
        QCOMPARE(process.readAllStandardError(), NOT_POWERED.toUtf8());
        QCOMPARE(process.exitCode(), 2);

        // Output that cannot be written ends the program with exit 1 and a
        // message: a pipe whose reader went away (not death by SIGPIPE), a closed
        // standard output.
        for (bool pipe : {true, false}) {
            QByteArray err;
            const int status = runProgram("--help", pipe, err);
            QVERIFY2(WIFEXITED(status), qPrintable(QString::number(status)));
            QCOMPARE(WEXITSTATUS(status), 1);
            QCOMPARE(err, QByteArray("qm44xx-ctl: cannot write the output\n"));
        }
    }

    void faultMatrix_data() {
        QTest::addColumn<QString>("stage");
        QTest::addColumn<QString>("fault");
        QTest::addColumn<QString>("error"); // none: the run is done, exit 0
        auto row = [](const char *stage, const char *fault, const QString &error) {
            QTest::addRow("%s, %s", stage, fault) << stage << fault << error;
        };
        // The link's text, then what its number means.
        const QString gone = "qm44xx-ctl: (No such device)\n";
        const QString timedOut = "qm44xx-ctl: (Connection timed out)\n";
        const QString write19 = "qm44xx-ctl: Error during USB write: 19\n" + gone;
        const QString read110 = "qm44xx-ctl: Error during USB read: 110\n" + timedOut;
        const QString silent = "the chip stopped answering: QM4434 at 0x11 reads 0xff (is EN high "
                               "and PVIN on?)\n";
        row("power-on", "unplug", "qm44xx-ctl: Error during USB read: 19\n" + gone);
        row("power-on", "stall", read110);
        row("polling", "unplug", write19);
        row("polling", "stall", read110);
        row("polling", "short",
            "qm44xx-ctl: Error during USB read: 5\nqm44xx-ctl: (Input/output error)\n");
        row("polling", "empty", read110);
        row("polling", "silent", "qm44xx-ctl: " + silent);
        row("commit", "unplug", "qm44xx-ctl: line 2: Error during USB write: 19\n" + gone);
        // Writes need no answer: the stall shows at the next read.
        row("commit", "stall", "qm44xx-ctl: line 3: Error during USB read: 110\n" + timedOut);
        row("close", "unplug", "qm44xx-ctl: line 2: Error during USB write: 19\n" + gone);
        row("close", "stall", "");
    }
    void faultMatrix() {
        QFETCH(QString, stage);
        QFETCH(QString, fault);
        QFETCH(QString, error);
        SimulatedBridge &bridge = startSimulation("QM4434");
        // A time-out is reported at once; what a real bridge would have made
        // the run wait after the fault is counted instead.
        bridge.setTimeoutWait(false);
        long waitedBefore = 0;
        auto inject = [&] {
            waitedBefore = bridge.timeoutWaitedMs();
            injectFault(bridge, fault);
        };

        std::vector<std::string> args;
        int samples = 0;
        if (stage == "power-on") {
            args = {"power", "on"};
            // EN, then the first probe's report gets through.
            fault == "unplug" ? bridge.unplugAfterReports(2) : bridge.stallAfterReports(2);
        } else if (stage == "polling") {
            args = {"power on; telemetry --count 0 --interval 50"};
            afterSleep = [&] {
                if (++samples == 3)
                    inject();
            };
        }
        // Commit and close: commands typed one by one; the fault comes before line 2.
        QStringList lines = {"power on", "power off"};
        if (stage == "commit")
            lines = QStringList{"power on", "set vout 1 0.9", "status"};
        const Result r = typed(args, lines, [&](int line) {
            if (line == 1)
                inject();
        });
        QCOMPARE(r.exit(), QString("exit %1: ").arg(error.isEmpty() ? 0 : 2) + error);
        const long waited = bridge.timeoutWaitedMs() - waitedBefore;
        QCOMPARE(waited,
                 fault == "stall" && stage != "close" ? 1000L : 0L); // one time-out, never more
        if (stage == "polling")
            QVERIFY(r.out.contains("VIN 1.801 V"));
    }

    // At a terminal a link failure is reported and the next line read; the
    // failed link is let go, so that the board, plugged in again, is opened anew.
    void aFailureAtThePromptLeavesTheNextLine() {
        // Not the QM4434, whose address the board's device model starts with:
        // the board opened anew identifies its chip again.
        SimulatedBridge &bridge = startSimulation("QM4422");
        const Result r = typed(
            {}, {"power on", "status", "status", "reg get 0x13"},
            [&](int line) {
                if (line == 1)
                    bridge.unplug();
                if (line == 3)
                    bridge.replug();
            },
            true);
        QCOMPARE(r.code, 0);
        const QString prompt = "qm44xx-ctl> ";
        QCOMPARE(r.err.section('\n', 2),
                 prompt + prompt + "qm44xx-ctl: line 2: Error during USB write: 19\n" +
                     "qm44xx-ctl: (No such device)\n" + prompt +
                     "qm44xx-ctl: line 3: Motherboard not found\n" + prompt + prompt + "\n");
        QCOMPARE(r.out, QString("0x22\n"));
    }

    // A set whose trigger was lost is reported, and repeating it in a new run
    // puts it in effect: what the chip reads back is what is in effect.
    void aFailedSetIsReportedAndCanBeRepeated() {
        SimulatedBridge &bridge = startSimulation("QM4411");
        // EN, one probe, eight refresh reads and the data write get through.
        bridge.unplugAfterReports(1 + 1 + 8 + 1);
        QCOMPARE(ctl("power on ; set vout 1 0.9").exit(),
                 QString("exit 2: qm44xx-ctl: Error during USB write: 19\nqm44xx-ctl: (No such "
                         "device)\n"));
        QCOMPARE(bridge.chip().activePageRegister(1, 1), uint8_t(118));
        bridge.replug();
        QCOMPARE(ctl("set vout 1 0.9 --verify").code, 0);
        QCOMPARE(bridge.chip().activePageRegister(1, 1), uint8_t(154));
    }

    // A chip that stops answering mid-session reads all ones: what reads it says
    // so (exit 2) instead of showing 0xff as data or refusing the values read as
    // out of range.
    void aSilentChipIsNotReadAsData() {
        SimulatedBridge &bridge = startSimulation("QM4434");
        QTemporaryDir dir;
        const QString file = dir.filePath("bench.cfg");
        // Commands typed one by one; the chip falls silent before the last one.
        auto run = [&](const QStringList &lines) {
            return typed({}, lines,
                         [&](int line) { bridge.setChipSilent(line == lines.size() - 1); });
        };
        // A register that holds 0xff is shown as it is.
        const Result held = run({"power on", "reg set 0x41 0xff; reg get 0x41", ""});
        QCOMPARE(held.exit() + held.out, QString("exit 0: 0xff\n"));

        const QString silent = "qm44xx-ctl: line 2: the chip stopped answering: QM4434 at 0x11 "
                               "reads 0xff (is EN high and PVIN on?)\n";
        // The enable bit of an all-ones read back would seem right to --verify.
        for (const QString &command :
             {QString("save -"), "save " + file, QString("dump"), QString("reg get 0x41"),
              QString("reg get 0x13"), QString("set enable 1 on --verify")}) {
            const Result r = run({"power on", command});
            QCOMPARE(r.exit() + r.out, "exit 2: " + silent);
        }
        QVERIFY(!QFileInfo::exists(file));
    }
};

QTEST_GUILESS_MAIN(CtlTest)
#include "test_ctl.moc"
