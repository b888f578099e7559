// The virtual bridge without a kernel: the test plays the kernel's side of
// /dev/uhid over a socket pair that keeps event boundaries, and checks the
// device it creates, the answers, refusals, unplugging and stalling. The
// program itself is run for its command line and its message without uhid.
#include "test_support.h"
#include "vbridge/virtual_bridge.h"

#include <QProcess>
#include <QtTest>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <future>
#include <linux/uhid.h>
#include <poll.h>
#include <sstream>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace {

std::vector<uint8_t> report(std::initializer_list<int> head, size_t size) {
    std::vector<uint8_t> data(size, 0);
    std::copy(head.begin(), head.end(), data.begin());
    return data;
}

// The 65-byte form the kernel hands over, and the bare 64 bytes.
const std::vector<uint8_t> EN_HIGH = report({0x00, 0x30, 0x01, 0x01}, 65);
const std::vector<uint8_t> READ_CHIP_ID = report({0x00, 0xF3, 0x04, 0x22, 0x13, 0x23, 0x01}, 65);
const std::vector<uint8_t> READ_CHIP_ID_64 = report({0xF3, 0x04, 0x22, 0x13, 0x23, 0x01}, 64);

// "size: bytes", the trailing zeros left out.
QString shortForm(const std::vector<uint8_t> &data) {
    size_t shown = data.size();
    while (shown > 0 && data[shown - 1] == 0)
        --shown;
    return QString("%1: %2")
        .arg(data.size())
        .arg(hex(std::vector<uint8_t>(data.begin(), data.begin() + shown)));
}

// The kernel's end of a virtual bridge running on its own thread.
class FakeKernel {
public:
    explicit FakeKernel(const VirtualBridgeOptions &options) {
        int fds[2];
        if (socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, fds) != 0)
            qFatal("socketpair failed");
        kernel = fds[0];
        device = fds[1];
        VirtualBridgeOptions withoutSysfs = options;
        withoutSysfs.uhidPath = "uhid-test";
        withoutSysfs.hidrawClassDir.clear();
        bridge = std::make_unique<VirtualBridge>(device, withoutSysfs, log);
    }
    ~FakeKernel() {
        if (runner.joinable()) {
            bridge->requestStop();
            runner.join();
        }
        closeKernel();
        close(device);
    }

    bool create() {
        std::string error;
        return bridge->create(error);
    }
    // Creates the device, takes its UHID_CREATE2 and starts the bridge.
    bool plugIn() {
        uhid_event created;
        if (!create() || !receive(created) || created.type != UHID_CREATE2)
            return false;
        start();
        return true;
    }
    // EN raised, then the chip's ID asked for: its answer, or "nothing".
    QString powerAndReadChipId(int timeoutMs = 3000) {
        sendOutput(EN_HIGH);
        sendOutput(READ_CHIP_ID);
        return next(timeoutMs);
    }
    void start() {
        runner = std::thread([this] {
            end = bridge->run(error);
            done.set_value();
        });
    }
    // Waits for the bridge's run to end (at most 5 s).
    bool finished() {
        if (done.get_future().wait_for(std::chrono::seconds(5)) != std::future_status::ready)
            return false;
        runner.join();
        return true;
    }
    // Whether the bridge left unanswered what it took up to its `reports`-th
    // report: once it has taken that many it is unplugged, and any answer it
    // made would reach the kernel ahead of the unplug's destroy event.
    bool unansweredUpTo(long reports) {
        const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (bridge->reportCount() < reports && std::chrono::steady_clock::now() < limit)
            std::this_thread::yield();
        bridge->requestUnplug();
        return next() == "destroy";
    }

    void send(const uhid_event &event) {
        QCOMPARE(::write(kernel, &event, sizeof event), ssize_t(sizeof event));
    }
    void sendOutput(const std::vector<uint8_t> &data, uint8_t type = UHID_OUTPUT_REPORT) {
        uhid_event event;
        std::memset(&event, 0, sizeof event);
        event.type = UHID_OUTPUT;
        event.u.output.size = uint16_t(data.size());
        event.u.output.rtype = type;
        std::copy(data.begin(), data.end(), event.u.output.data);
        send(event);
    }
    void sendSimple(uint32_t type) {
        uhid_event event;
        std::memset(&event, 0, sizeof event);
        event.type = type;
        send(event);
    }
    // The next event from the bridge, or false after timeoutMs.
    bool receive(uhid_event &event, int timeoutMs = 3000) {
        pollfd fd = {kernel, POLLIN, 0};
        if (poll(&fd, 1, timeoutMs) != 1)
            return false;
        std::memset(&event, 0, sizeof event);
        return ::read(kernel, &event, sizeof event) > 0;
    }
    // The next event's description: "input: <hex>" (trailing zeros dropped, with
    // the size), "destroy", "get-report-reply id err", ... or "nothing".
    QString next(int timeoutMs = 3000) {
        uhid_event event;
        if (!receive(event, timeoutMs))
            return "nothing";
        switch (event.type) {
        case UHID_INPUT2:
            return "input " + shortForm(std::vector<uint8_t>(
                                  event.u.input2.data, event.u.input2.data + event.u.input2.size));
        case UHID_DESTROY:
            return "destroy";
        case UHID_GET_REPORT_REPLY:
            return QString("get-report-reply %1 %2")
                .arg(event.u.get_report_reply.id)
                .arg(event.u.get_report_reply.err);
        case UHID_SET_REPORT_REPLY:
            return QString("set-report-reply %1 %2")
                .arg(event.u.set_report_reply.id)
                .arg(event.u.set_report_reply.err);
        default:
            return QString("event %1").arg(event.type);
        }
    }
    void closeKernel() {
        if (kernel >= 0)
            close(kernel);
        kernel = -1;
    }

    std::ostringstream log;
    std::unique_ptr<VirtualBridge> bridge;
    std::string error;
    VirtualBridge::End end = VirtualBridge::End::Failed;

private:
    std::promise<void> done;
    int kernel = -1;
    int device = -1;
    std::thread runner;
};

// The program's exit code, standard error, then standard output after "|":
// "exit 1: TEXT\n| ".
QString run(const QStringList &arguments) {
    QProcess process;
    process.start(VBRIDGE_PROGRAM, arguments);
    if (!process.waitForFinished(10000)) {
        process.kill();
        process.waitForFinished();
    }
    const int status = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    return QString("exit %1: %2| %3")
        .arg(status)
        .arg(QString::fromLocal8Bit(process.readAllStandardError()),
             QString::fromLocal8Bit(process.readAllStandardOutput()));
}

} // namespace

class VirtualBridgeTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void createsAUsbHidDeviceOfTheBridge() {
        FakeKernel kernel({});
        QVERIFY(kernel.create());
        uhid_event event;
        QVERIFY(kernel.receive(event));
        QCOMPARE(event.type, uint32_t(UHID_CREATE2));
        const uhid_create2_req &req = event.u.create2;
        QCOMPARE(QString(reinterpret_cast<const char *>(req.name)),
                 QString("QM44xxC evaluation board (virtual)"));
        QCOMPARE(QString(reinterpret_cast<const char *>(req.phys)),
                 QString("qm44xx-virtual-bridge"));
        QCOMPARE(QString(reinterpret_cast<const char *>(req.uniq)),
                 QString::fromStdString(kernel.bridge->uniq()));
        QVERIFY(kernel.bridge->uniq().rfind("qm44xx-virtual-", 0) == 0);
        QCOMPARE(req.bus, uint16_t(BUS_USB));
        QCOMPARE(req.vendor, uint32_t(0x04D8));
        QCOMPARE(req.product, uint32_t(0xF02A));
        QCOMPARE(req.version, uint32_t(0x0100));

        VirtualBridgeOptions options;
        options.name = "bench board";
        FakeKernel named(options);
        QVERIFY(named.create() && named.receive(event));
        QCOMPARE(QString(reinterpret_cast<const char *>(event.u.create2.name)),
                 QString("bench board"));
    }

    void answersReportsOfBothForms() {
        VirtualBridgeOptions options;
        options.verbose = true;
        FakeKernel kernel(options);
        QVERIFY(kernel.plugIn());
        kernel.sendSimple(UHID_START);
        kernel.sendSimple(UHID_OPEN);
        kernel.sendOutput(EN_HIGH);
        // The chip's ID (QM4434: 0x34) comes back as 64 bytes without report ID.
        kernel.sendOutput(READ_CHIP_ID);
        QCOMPARE(kernel.next(), QString("input 64: f3 01 34"));
        kernel.sendOutput(READ_CHIP_ID_64);
        QCOMPARE(kernel.next(), QString("input 64: f3 01 34"));
        // Reports of other types are not the bridge's.
        kernel.sendOutput(READ_CHIP_ID, UHID_FEATURE_REPORT);
        QCOMPARE(kernel.next(200), QString("nothing"));
        kernel.bridge->requestStop();
        QCOMPARE(kernel.next(), QString("destroy"));
        QVERIFY(kernel.finished());
        QCOMPARE(int(kernel.end), int(VirtualBridge::End::Stopped));
        QCOMPARE(QString::fromStdString(kernel.log.str()),
                 QString("qm44xx-virtual-bridge: started by the kernel\n"
                         "qm44xx-virtual-bridge: QM4434 plugged in\n"
                         "qm44xx-virtual-bridge: opened\n"
                         "qm44xx-virtual-bridge: output report (65 bytes): 00 30 01 01 + zeros\n"
                         "qm44xx-virtual-bridge: output report (65 bytes): 00 f3 04 22 13 23 "
                         "01 + zeros\n"
                         "qm44xx-virtual-bridge: input report (64 bytes): f3 01 34 + zeros\n"
                         "qm44xx-virtual-bridge: output report (64 bytes): f3 04 22 13 23 01 "
                         "+ zeros\n"
                         "qm44xx-virtual-bridge: input report (64 bytes): f3 01 34 + zeros\n"
                         "qm44xx-virtual-bridge: ignored a report of type 0\n"
                         "qm44xx-virtual-bridge: stopped after 3 reports\n"));
    }

    void answersWithTheChosenModel() {
        VirtualBridgeOptions options;
        options.model = "QM4411";
        FakeKernel kernel(options);
        QVERIFY(kernel.plugIn());
        kernel.sendOutput(EN_HIGH);
        // QM4411 sits at 0x19 with ID 0x11; 0x11 (the QM4434's address) is silent.
        kernel.sendOutput(report({0x00, 0xF3, 0x04, 0x32, 0x13, 0x33, 0x01}, 65));
        QCOMPARE(kernel.next(), QString("input 64: f3 01 11"));
        kernel.sendOutput(READ_CHIP_ID);
        QCOMPARE(kernel.next(), QString("input 64: f3 01 ff"));
    }

    void refusesFeatureRequestsAtOnce() {
        FakeKernel kernel({});
        QVERIFY(kernel.plugIn());
        uhid_event event;
        std::memset(&event, 0, sizeof event);
        event.type = UHID_GET_REPORT;
        event.u.get_report.id = 7;
        kernel.send(event);
        QCOMPARE(kernel.next(), QString("get-report-reply 7 %1").arg(EIO));
        std::memset(&event, 0, sizeof event);
        event.type = UHID_SET_REPORT;
        event.u.set_report.id = 9;
        event.u.set_report.size = 3;
        kernel.send(event);
        QCOMPARE(kernel.next(), QString("set-report-reply 9 %1").arg(EIO));
    }

    void unplugsAfterTheLastReportAnswered() {
        VirtualBridgeOptions options;
        options.unplugAfterReports = 2;
        FakeKernel kernel(options);
        QVERIFY(kernel.plugIn());
        QCOMPARE(kernel.powerAndReadChipId(), QString("input 64: f3 01 34"));
        QCOMPARE(kernel.next(), QString("destroy"));
        QVERIFY(kernel.finished());
        QCOMPARE(int(kernel.end), int(VirtualBridge::End::Unplugged));
        QCOMPARE(QString::fromStdString(kernel.log.str()),
                 QString("qm44xx-virtual-bridge: unplugged after 2 reports\n"));
    }

    void unplugsAfterATime() {
        VirtualBridgeOptions options;
        options.unplugAfterMs = 3600000; // an hour: reports are answered meanwhile
        FakeKernel later(options);
        QVERIFY(later.plugIn());
        QCOMPARE(later.powerAndReadChipId(), QString("input 64: f3 01 34"));

        // Soon: the bridge wakes by itself to unplug, with no report to wake it.
        options.unplugAfterMs = 100;
        FakeKernel soon(options);
        QVERIFY(soon.plugIn());
        soon.sendOutput(EN_HIGH);
        QCOMPARE(soon.next(), QString("destroy"));
        QVERIFY(soon.finished());
        QCOMPARE(int(soon.end), int(VirtualBridge::End::Unplugged));
        QCOMPARE(soon.bridge->reportCount(), 1L);
    }

    void unplugsAndStallsOnRequest() {
        FakeKernel kernel({});
        QVERIFY(kernel.plugIn());
        QCOMPARE(kernel.powerAndReadChipId(), QString("input 64: f3 01 34"));
        // The request is seen before the report that follows it (the bridge
        // reads its requests first): that report goes unanswered.
        kernel.bridge->requestStall();
        kernel.sendOutput(READ_CHIP_ID);
        QVERIFY(kernel.unansweredUpTo(3));
        QVERIFY(kernel.finished());
        QCOMPARE(int(kernel.end), int(VirtualBridge::End::Unplugged));
        QCOMPARE(kernel.bridge->reportCount(), 3L);
    }

    void stallsAfterReportsAndAfterATime() {
        VirtualBridgeOptions options;
        options.stallAfterReports = 2;
        FakeKernel counted(options);
        QVERIFY(counted.plugIn());
        // The second report is still answered.
        QCOMPARE(counted.powerAndReadChipId(), QString("input 64: f3 01 34"));
        counted.sendOutput(READ_CHIP_ID);
        QVERIFY(counted.unansweredUpTo(3));

        // Timed from plugging in: an hour away, and due at once.
        options = VirtualBridgeOptions();
        options.stallAfterMs = 3600000;
        FakeKernel later(options);
        QVERIFY(later.plugIn());
        QCOMPARE(later.powerAndReadChipId(), QString("input 64: f3 01 34"));
        options.stallAfterMs = 0;
        FakeKernel now(options);
        QVERIFY(now.plugIn());
        now.sendOutput(EN_HIGH);
        now.sendOutput(READ_CHIP_ID);
        QVERIFY(now.unansweredUpTo(2));
    }

    void answersLateWhenAsked() {
        VirtualBridgeOptions options;
        options.answerDelayMs = 300;
        FakeKernel kernel(options);
        QVERIFY(kernel.plugIn());
        kernel.sendOutput(EN_HIGH);
        QElapsedTimer timer;
        timer.start();
        kernel.sendOutput(READ_CHIP_ID);
        QCOMPARE(kernel.next(150), QString("nothing"));
        QCOMPARE(kernel.next(), QString("input 64: f3 01 34"));
        QVERIFY(timer.elapsed() >= 290);
    }

    void failsWhenUhidGoesAway() {
        FakeKernel kernel({});
        QVERIFY(kernel.plugIn());
        kernel.closeKernel();
        QVERIFY(kernel.finished());
        QCOMPARE(int(kernel.end), int(VirtualBridge::End::Failed));
        QCOMPARE(QString::fromStdString(kernel.error), QString("uhid-test closed"));
    }

    void normalisesOutputData() {
        auto form = [](std::initializer_list<int> head, size_t size) {
            const std::vector<uint8_t> data = report(head, size);
            return shortForm(bridgeReportFromOutput(data.data(), data.size()));
        };
        QCOMPARE(form({0x00, 0x30, 0x01, 0x01}, 65), QString("65: 00 30 01 01"));
        QCOMPARE(form({0x30, 0x01, 0x01}, 64), QString("65: 00 30 01 01"));
        // A short report with its report ID, and one without.
        QCOMPARE(form({0x00, 0x30, 0x01, 0x01}, 4), QString("65: 00 30 01 01"));
        QCOMPARE(form({0x30, 0x01, 0x01}, 3), QString("65: 00 30 01 01"));
        // A numbered report is kept as it is (the bridge ignores it).
        QCOMPARE(form({0x05, 0x30, 0x01, 0x01}, 65), QString("65: 05 30 01 01"));
        // Longer data is cut to the report.
        std::vector<uint8_t> longer(70, 0x41);
        longer[0] = 0;
        const std::vector<uint8_t> cut = bridgeReportFromOutput(longer.data(), longer.size());
        QCOMPARE(cut.size(), size_t(65));
        QCOMPARE(cut[0], uint8_t(0));
        QCOMPARE(cut[64], uint8_t(0x41));
        QCOMPARE(bridgeReportFromOutput(nullptr, 0), std::vector<uint8_t>(65, 0));
    }

    void parsesTheCommandLine() {
        VirtualBridgeOptions options;
        // "run", "help", "version" or the error.
        auto parsed = [&](const std::vector<std::string> &arguments) {
            std::string error;
            const OptionsResult result = parseVirtualBridgeOptions(arguments, options, error);
            const char *const names[] = {"run", "help", "version"};
            return result == OptionsResult::Error ? error : std::string(names[int(result)]);
        };
        QCOMPARE(parsed({}), std::string("run"));
        QCOMPARE(options.uhidPath, std::string("/dev/uhid"));
        QCOMPARE(parsed({"--model", "QM4422", "--unplug-after-reports=40", "--unplug-after-ms",
                         "2500", "--stall-after-reports", "0", "--stall-after-ms=7", "-v", "--uhid",
                         "/tmp/u", "--name=bench", "--answer-delay-ms", "1300"}),
                 std::string("run"));
        QCOMPARE(options.model, std::string("QM4422"));
        QCOMPARE(options.unplugAfterReports, 40L);
        QCOMPARE(options.unplugAfterMs, 2500L);
        QCOMPARE(options.stallAfterReports, 0L);
        QCOMPARE(options.stallAfterMs, 7L);
        QCOMPARE(options.answerDelayMs, 1300L);
        QVERIFY(options.verbose);
        QCOMPARE(options.uhidPath, std::string("/tmp/u"));
        QCOMPARE(options.name, std::string("bench"));
        QCOMPARE(parsed({"--model=QM4411"}), std::string("run"));
        QCOMPARE(options.model, std::string("QM4411"));
        QCOMPARE(parsed({"-v", "--help"}), std::string("help"));
        QCOMPARE(parsed({"--version"}), std::string("version"));
        QCOMPARE(parsed({"-V"}), std::string("version"));
        QCOMPARE(parsed({"--simulate=QM4434"}), std::string("unknown option --simulate=QM4434"));
        QCOMPARE(parsed({"--model"}), std::string("--model needs a value"));
        QCOMPARE(parsed({"--unplug-after-reports", "-3"}),
                 std::string("--unplug-after-reports needs a whole number, not \"-3\""));
        QCOMPARE(parsed({"--stall-after-ms=1.5"}),
                 std::string("--stall-after-ms needs a whole number, not \"1.5\""));
        QCOMPARE(parsed({"--unplug-after-ms="}),
                 std::string("--unplug-after-ms needs a whole number, not \"\""));
    }

    void programSaysWhatItNeedsWithoutUhid() {
        QCOMPARE(run({"--uhid", "/nonexistent/uhid"}),
                 QString("exit 1: qm44xx-virtual-bridge: cannot open /nonexistent/uhid (No such "
                         "file or directory): it needs the uhid kernel module (sudo modprobe uhid) "
                         "and root or read-write access to /nonexistent/uhid\n| "));
        // A usage error: the message, where to read more, status 1, nothing run.
        QCOMPARE(run({"--model", "QM1", "--uhid", "/nonexistent/uhid"}),
                 QString("exit 1: qm44xx-virtual-bridge: unknown chip model \"QM1\" (known: "
                         "QM4411, QM4422, QM4423, QM4433, QM4434)\nTry 'qm44xx-virtual-bridge "
                         "--help' for more information.\n| "));
        QCOMPARE(run({"--version", "--uhid", "/nonexistent/uhid"}),
                 QString("exit 0: | qm44xx-virtual-bridge " QM_VERSION "\n"));
        const QString help = run({"--help"});
        QCOMPARE(help, "exit 0: | " + QString::fromStdString(virtualBridgeUsage()));
        QVERIFY(help.startsWith("exit 0: | Usage: qm44xx-virtual-bridge [options]\n"));
    }
};

QTEST_GUILESS_MAIN(VirtualBridgeTest)
#include "test_virtual_bridge.moc"
