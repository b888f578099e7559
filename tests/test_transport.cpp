// The link layer on the simulated board: the transport's exact report bytes,
// normalised answers, bounded waits, refusals, error texts and trace; the
// bridges listed and chosen by path; one program per board, by the lock on the
// bridge's node (on plain files, which lock as a hidraw node does); the board
// object's log lines, EN, PVIN and power-up; the simulated chip's update trigger
// and injected faults. (Each model's identity, pages and flags show in test_ctl.)
#include "device/conversions.h"
#include "device/ivr_device.h"
#include "link/board_lock.h"
#include "link/link_errors.h"
#include "link/motherboard.h"
#include "link/pic.h"
#include "stdout_capture.h"
#include "test_support.h"
#include "tests/support/fake_clock.h"

#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>
#include <algorithm>
#include <cerrno>
#include <climits>
#include <iostream>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace {
// Run as "test_transport --hold PATH": takes the lock under the name
// qm44xx-panel, says "locked" (or "refused: TEXT"), and holds it until its
// standard input closes.
int holdLock(const char *path) {
    prctl(PR_SET_NAME, "qm44xx-panel", 0, 0, 0);
    try {
        BoardLock lock(path);
        std::cout << "locked" << std::endl;
        char byte;
        while (read(STDIN_FILENO, &byte, 1) > 0) {
        }
        return 0;
    } catch (const std::string &text) {
        std::cout << "refused: " << text << std::endl;
        return 2;
    }
}

QString ownName() {
    QFile comm("/proc/self/comm");
    comm.open(QIODevice::ReadOnly);
    return QString::fromUtf8(comm.readAll()).trimmed();
}

hid::DeviceInfo device(const std::string &path, uint16_t vendor, uint16_t product) {
    hid::DeviceInfo info;
    info.path = path;
    info.vendorId = vendor;
    info.productId = product;
    return info;
}

// HID devices listed ahead of the simulated bridges while this lives: by
// default a keyboard and another Microchip device (the bridge's vendor, another
// product), which no open reaches. Given a plain file, a bridge on it, locked
// as a hidraw node is, whose opens and reports are counted.
class ListedDevices : public hid::Backend {
public:
    ListedDevices()
        : listed{device("other:keyboard", 0x046D, 0xC31C),
                 device("other:microchip", 0x04D8, 0x000A)} {
        hid::addBackend(this, true);
    }
    explicit ListedDevices(const std::string &node)
        : listed{device(node, 0x04D8, 0xF02A)}, locks(true) {
        hid::addBackend(this, true);
    }
    ~ListedDevices() override { hid::removeBackend(this); }

    class CountingHandle : public hid::Handle {
    public:
        explicit CountingHandle(int &reports) : reports(reports) {}
        int write(const unsigned char *, size_t length) override {
            ++reports;
            return int(length);
        }
        int read(unsigned char *, size_t, int) override { return 0; }
        int error() const override { return 0; }
        int &reports;
    };

    bool enumerate(std::vector<hid::DeviceInfo> &devices) override {
        devices.insert(devices.end(), listed.begin(), listed.end());
        return true;
    }
    bool ownsPath(const std::string &path) const override {
        return std::any_of(listed.begin(), listed.end(),
                           [&](const hid::DeviceInfo &d) { return d.path == path; });
    }
    hid::Handle *open(const std::string &, bool, bool, hid::DeviceInfo &, int &error) override {
        ++opens;
        if (refusal) {
            error = refusal;
            return nullptr;
        }
        return new CountingHandle(reports);
    }
    bool locksBoard() const override { return locks; }

    const std::vector<hid::DeviceInfo> listed;
    const bool locks = false;
    int opens = 0;
    int reports = 0;
    int refusal = 0;
};

} // namespace

class TransportTest : public QObject {
    Q_OBJECT

    QTemporaryDir dir;
    std::string node; // a plain file standing for the bridge's node

    static QStringList lines(QSignalSpy &spy) {
        QStringList out;
        for (const QList<QVariant> &args : spy)
            out << args.at(0).toString();
        spy.clear();
        return out;
    }

    QString inUse(const QString &name, qint64 pid) const {
        return QString("board %1 is in use by %2 (pid %3)")
            .arg(QString::fromStdString(node), name)
            .arg(pid);
    }

    // The last report the bridge received, as hex, with the zero padding counted.
    static QString lastReport(SimulatedBridge &bridge, int shown) {
        const std::vector<uint8_t> &r = bridge.reports().back();
        int zeros = 0;
        for (size_t i = shown; i < r.size(); ++i)
            zeros += r[i] == 0;
        return hex(std::vector<uint8_t>(r.begin(), r.begin() + shown)) +
               QString(" +%1/%2 zeros").arg(zeros).arg(r.size() - shown);
    }

private Q_SLOTS:
    void initTestCase() {
        hermeticHidBus();
        QVERIFY(dir.isValid());
        node = dir.filePath("hidraw0").toStdString();
        QVERIFY(writeFile(QString::fromStdString(node), QByteArray()));
    }
    void cleanup() { stopSimulation(); }

    void reportsHaveTheBridgeLayout() {
        SimulatedBridge &bridge = startSimulation("QM4434");
        PIC pic(nullptr, false);
        pic.write(0x11, bytes({0x0F, 0x01}));
        QCOMPARE(lastReport(bridge, 6), QString("00 f1 03 22 0f 01 +59/59 zeros"));
        pic.write(0x11, std::string());
        QCOMPARE(lastReport(bridge, 4), QString("00 f1 01 22 +61/61 zeros"));
        pic.writeEN(1);
        QCOMPARE(lastReport(bridge, 4), QString("00 30 01 01 +61/61 zeros"));
        QVERIFY(bridge.en());
        pic.writePVIN(0);
        QCOMPARE(lastReport(bridge, 4), QString("00 20 01 00 +61/61 zeros"));
        QVERIFY(!bridge.pvin());
        pic.writePVIN(1);

        // The chip's byte comes back from byte 3 of the 65-byte answer.
        QCOMPARE(hex(pic.writeRead(0x11, bytes({0x13}), 1)), QString("34"));
        QCOMPARE(lastReport(bridge, 7), QString("00 f3 04 22 13 23 01 +58/58 zeros"));
        pic.writeRead(0x11, std::string(), 1);
        QCOMPARE(lastReport(bridge, 6), QString("00 f3 03 22 23 01 +59/59 zeros"));
        // Addresses lose their top bit: 0x91 reaches the chip at 0x11.
        QCOMPARE(hex(pic.writeRead(0x91, bytes({0x13}), 1)), QString("34"));
        QCOMPARE(lastReport(bridge, 7), QString("00 f3 04 22 13 23 01 +58/58 zeros"));

        // Payload limits: 61 for a write, 59 for a write-read; longer is refused
        // before anything is sent.
        const size_t before = bridge.reports().size();
        pic.write(0x11, std::string(61, '\x41'));
        QCOMPARE(bridge.reports().back()[64], uint8_t(0x41));
        QCOMPARE(thrown([&] { pic.write(0x11, std::string(62, '\x41')); }),
                 QString("I2C write of 62 bytes exceeds the 61 a report holds"));
        pic.writeRead(0x11, std::string(59, '\x41'), 1);
        QCOMPARE(bridge.reports().back()[63], uint8_t(0x23));
        QCOMPARE(bridge.reports().back()[64], uint8_t(0x01));
        QCOMPARE(thrown([&] { pic.writeRead(0x11, std::string(60, '\x41'), 1); }),
                 QString("I2C write-read of 60 bytes exceeds the 59 a report holds"));
        QCOMPARE(thrown([&] { pic.writeRead(0x11, bytes({0x13}), 2); }),
                 QString("writereads of other than 1 byte read not yet supported"));
        QCOMPARE(thrown([&] { pic.read(0x11, 1); }),
                 QString("read-only commands not yet supported - use writeread"));
        QCOMPARE(bridge.reports().size(), before + 2);
    }

    // Several simulated boards: each listed with its own path and serial, in
    // the order they were added; the first keeps "sim:MODEL".
    void bridgesAreListedWithTheirStrings() {
        SimulatedBridge &first = startSimulation("QM4434");
        SimulatedBridge &second = addSimulation("QM4422");
        SimulatedBridge &third = addSimulation("QM4434");
        QCOMPARE(simulations(), (std::vector<SimulatedBridge *>{&first, &second, &third}));
        QCOMPARE(simulation(), &first);
        QCOMPARE(simulationPath(third), std::string("sim:QM4434-3"));

        ListedDevices others; // listed ahead of the bridges, and none of them
        QStringList listed;
        for (const hid::DeviceInfo &d : listBridges())
            listed << QString("%1 %2:%3 %4 | %5 | %6")
                          .arg(QString::fromStdString(d.path))
                          .arg(d.vendorId, 4, 16, QChar('0'))
                          .arg(d.productId, 4, 16, QChar('0'))
                          .arg(QString::fromStdString(d.serialNumber),
                               QString::fromStdString(d.manufacturer),
                               QString::fromStdString(d.product));
        QCOMPARE(listed,
                 (QStringList{"sim:QM4434 04d8:f02a SIM0001 | Microchip Technology Inc. | "
                              "QM44xxC evaluation board (simulated QM4434)",
                              "sim:QM4422-2 04d8:f02a SIM0002 | Microchip Technology Inc. | "
                              "QM44xxC evaluation board (simulated QM4422)",
                              "sim:QM4434-3 04d8:f02a SIM0003 | Microchip Technology Inc. | "
                              "QM44xxC evaluation board (simulated QM4434)"}));
        second.unplug();
        QCOMPARE(listBridges().size(), size_t(2));
        QCOMPARE(listBridges()[1].path, std::string("sim:QM4434-3"));

        // hidapi's wide strings, as UTF-8.
        QCOMPARE(hid::utf8(nullptr), std::string());
        QCOMPARE(hid::utf8(L"Microchip"), std::string("Microchip"));
        QCOMPARE(hid::utf8(L"\u007f\u0080\u07ff\u0800\uffff\U00010000\U0010FFFF"),
                 std::string("\x7f\xc2\x80\xdf\xbf\xe0\xa0\x80\xef\xbf\xbf\xf0\x90\x80\x80"
                             "\xf4\x8f\xbf\xbf"));
        const wchar_t invalid[] = {wchar_t(0xD800), wchar_t(0x110000), wchar_t(0x7F), 0};
        QCOMPARE(hid::utf8(invalid), std::string("\xef\xbf\xbd\xef\xbf\xbd\x7f"));
    }

    void aBoardIsChosenByItsPath() {
        SimulatedBridge &first = startSimulation("QM4434");
        SimulatedBridge &second = addSimulation("QM4422");
        {
            PIC chosen(nullptr, false, "sim:QM4422-2");
            chosen.writeEN(1);
            QVERIFY(second.en() && !first.en());
            QCOMPARE(hex(chosen.writeRead(0x25, bytes({0x13}), 1)), QString("22"));
            // A second link to the same board: simulated boards are not locked.
            MotherBoard board(nullptr, "sim:QM4422-2");
            board.write(0x25, bytes({0x0F, 0x01}));
            QCOMPARE(busWrites(second), QStringList{"25: 0f 01"});
            QCOMPARE(first.reportCount(), 0L);
        }
        QCOMPARE(thrown([] { MotherBoard board(nullptr, "/dev/hidraw99"); }),
                 QString("Motherboard not found: /dev/hidraw99"));
        {
            ListedDevices others;
            QCOMPARE(
                thrown([] { PIC pic(nullptr, false, "other:keyboard"); }),
                QString("Not a motherboard: other:keyboard (USB ID 046d:c31c, not 04d8:f02a)"));
            QCOMPARE(
                thrown([] { PIC pic(nullptr, false, "other:microchip"); }),
                QString("Not a motherboard: other:microchip (USB ID 04d8:000a, not 04d8:f02a)"));
            // Without a path, the first bridge behind them.
            const long before = first.reportCount();
            PIC pic(nullptr, false);
            pic.writeEN(0);
            QCOMPARE(first.reportCount(), before + 1);
        }
        second.refuseOpen(EACCES);
        QCOMPARE(thrown([] { PIC pic(nullptr, false, "sim:QM4422-2"); }),
                 QString("Error opening motherboard USB connection: 13"));
    }

    void linkFailuresAreRaisedAndBounded() {
        SimulatedBridge &bridge = startSimulation("QM4434");
        PIC pic(nullptr, false);
        pic.writeEN(1);
        // (Short, empty and long answers are fuzz_transport_answers' corpus.)

        // A stalled bridge holds the caller for one read's time-out, 1 s, and no
        // more (counted by the simulation, not waited).
        bridge.stall(true);
        bridge.setTimeoutWait(false);
        QCOMPARE(thrown([&] { pic.writeRead(0x11, bytes({0x13}), 1); }),
                 QString("Error during USB read: 110"));
        QCOMPARE(bridge.timeoutWaitedMs(), 1000L);
        bridge.stall(false);

        bridge.unplugAfterReports(1); // the write-read's report gets through, its answer does not
        QCOMPARE(thrown([&] { pic.writeRead(0x11, bytes({0x13}), 1); }),
                 QString("Error during USB read: 19"));
        QCOMPARE(thrown([&] {
                     pic.write(0x11, bytes({0x0F, 0x01}));
                 }),
                 QString("Error during USB write: 19"));
        QCOMPARE(thrown([&] { pic.writeEN(0); }), QString("Error during USB write: 19"));
        // Plugged in again, each question gets its own answer, not one left over.
        bridge.replug();
        QCOMPARE(hex(pic.writeRead(0x11, bytes({0x01}), 1)), QString("b3"));
    }

    // The line under a link error: what its number means, and for a node only
    // root may open, the udev rule; nothing for the other texts.
    void linkErrorsAreExplained() {
        const QString rule = "only root may open the bridge's node: install the udev rule "
                             "70-qm44xx-bridge.rules and plug the board in again (see \"Installing "
                             "on Linux\" in the README)";
        const QList<QPair<QString, QString>> cases = {
            {"Error opening motherboard USB connection: 13", "(Permission denied) " + rule},
            {"Error opening motherboard USB connection: 1", "(Operation not permitted) " + rule},
            {"Error opening motherboard USB connection: 2", "(No such file or directory)"},
            {"Error during USB read: 110", "(Connection timed out)"},
            {"Error during USB write: 19", "(No such device)"},
            {"Error during USB write: 13", "(Permission denied)"},
            {"Error during USB write: 99999", "(Unknown error 99999)"},
            {"Error during USB write: ", ""},
            {"Error during USB write: 19 ", ""},
            {"Error during USB write: -5", ""},
            {"Error during USB write: 1234567", ""},
            {"line 2: Error during USB write: 19", ""},
            {"Motherboard not found: /dev/hidraw13", ""},
        };
        for (const auto &c : cases)
            QCOMPARE(QString::fromStdString(linkErrorHint(c.first.toStdString())), c.second);
    }

    // An answer that arrives after its read timed out is discarded before the
    // next question, instead of being taken for that question's answer (which
    // left every later read one behind).
    void aLateAnswerIsNotTakenForTheNext() {
        SimulatedBridge &bridge = startSimulation("QM4434");
        bridge.setTimeoutWait(false);
        PIC pic(nullptr, false);
        pic.writeEN(1);
        bridge.setLateAnswers(true);
        QCOMPARE(thrown([&] { pic.writeRead(0x11, bytes({0x13}), 1); }),
                 QString("Error during USB read: 110"));
        QCOMPARE(thrown([&] { pic.writeRead(0x11, bytes({0x02}), 1); }),
                 QString("Error during USB read: 110"));
        bridge.setLateAnswers(false);
        QCOMPARE(hex(pic.writeRead(0x11, bytes({0x01}), 1)), QString("b3"));
        QCOMPARE(hex(pic.writeRead(0x11, bytes({0x13}), 1)), QString("34"));

        // Discarding is bounded, so that a bridge flooding answers cannot hold a
        // write-read: up to MAX_STALE_ANSWERS waiting answers go, the rest stay.
        auto queueAnswers = [&](int count) {
            const uint8_t question[65] = {0, 0xF3, 4, 0x22, 0x02, 0x23, 1}; // temperature
            int error = 0;
            for (int i = 0; i < count; ++i)
                QCOMPARE(bridge.receive(question, sizeof question, error), 65);
        };
        queueAnswers(PIC::MAX_STALE_ANSWERS);
        QCOMPARE(hex(pic.writeRead(0x11, bytes({0x01}), 1)), QString("b3"));
        queueAnswers(PIC::MAX_STALE_ANSWERS + 1);
        QCOMPARE(hex(pic.writeRead(0x11, bytes({0x01}), 1)), QString("7b"));
        QCOMPARE(hex(pic.writeRead(0x11, bytes({0x01}), 1)), QString("b3"));
    }

    void traceEchoesTransfersToStandardOutput() {
        SimulatedBridge &bridge = startSimulation("QM4434");
        bridge.chip().setInputVoltage(1.8);
        PIC traced(nullptr, true);
        traced.writeEN(1);
        const std::string out = captureStdout([&] {
            traced.write(0x11, bytes({0x0F, 0x01}));
            traced.writeRead(0x11, bytes({0x13}), 1);
            traced.writePVIN(1);
        });
        QCOMPARE(QString::fromStdString(out),
                 QString("Writing to PIC, addr 0x11 => [ 0x0f 0x01 ]\n"
                         "WriteRead Writing to PIC, addr 0x11 => [ 0x13 ]\n"
                         "WriteRead Reading 1 bytes from PIC, addr 0x11 => [ 0x34 ]\n"));
        PIC quiet(nullptr, false);
        QCOMPARE(captureStdout([&] { quiet.writeRead(0x11, bytes({0x13}), 1); }), std::string());
    }
    // A node that is not there gives the open's own error. (A second lock in
    // this process, and its release, show with the transport below.)
    void aLockOnAMissingNode() {
        QCOMPARE(thrown([&] { BoardLock missing(node + ".gone"); }),
                 QString("Error opening motherboard USB connection: %1").arg(ENOENT));
    }

    void anotherProcessIsRefusedAndNamed() {
        QProcess holder;
        holder.start(QCoreApplication::applicationFilePath(),
                     {"--hold", QString::fromStdString(node)});
        QVERIFY(holder.waitForReadyRead(10000));
        QCOMPARE(holder.readLine(), QByteArray("locked\n"));
        QCOMPARE(thrown([&] { BoardLock mine(node); }), inUse("qm44xx-panel", holder.processId()));
        holder.closeWriteChannel();
        QVERIFY(holder.waitForFinished(10000));
        QCOMPARE(holder.exitCode(), 0);
        // The lock ends with the process that held it.
        std::unique_ptr<BoardLock> mine;
        QCOMPARE(thrown([&] { mine = std::make_unique<BoardLock>(node); }),
                 QString("(nothing thrown)"));

        // And this process's lock refuses another one.
        QProcess refused;
        refused.start(QCoreApplication::applicationFilePath(),
                      {"--hold", QString::fromStdString(node)});
        refused.closeWriteChannel();
        QVERIFY(refused.waitForFinished(10000));
        QCOMPARE(refused.exitCode(), 2);
        QCOMPARE(QString::fromUtf8(refused.readAllStandardOutput()),
                 "refused: " + inUse(ownName(), getpid()) + "\n");
    }

    void theHolderIsFoundInTheKernelsList() {
        const dev_t device = makedev(0xfe, 0x01);
        const std::string locks = "1: POSIX  ADVISORY  WRITE 700 fe:01:4242 0 EOF\n"
                                  "2: OFDLCK ADVISORY  WRITE -1 fe:01:4242 0 EOF\n"
                                  "3: FLOCK  ADVISORY  WRITE 800 fe:00:4242 0 EOF\n"
                                  "4: FLOCK  ADVISORY  WRITE 900 fe:01:42421 0 EOF\n"
                                  "5: FLOCK  ADVISORY  WRITE 1234 fe:01:4242 0 EOF\n"
                                  "5: -> FLOCK  ADVISORY  WRITE 1300 fe:01:4242 0 EOF\n";
        QCOMPARE(BoardLock::holderIn(locks, device, 4242), pid_t(1234));
        QCOMPARE(BoardLock::holderIn(locks, makedev(0xfe, 0x00), 4242), pid_t(800));
        QCOMPARE(BoardLock::holderIn(locks, device, 4243), pid_t(0));
        // A lock taken in another pid namespace is listed with pid 0.
        QCOMPARE(
            BoardLock::holderIn("1: FLOCK  ADVISORY  WRITE 0 fe:01:4242 0 EOF\n", device, 4242),
            pid_t(0));

        // A holder whose name cannot be read (pid 0, or no such process).
        QCOMPARE(QString::fromStdString(BoardLock::inUseText("/dev/hidraw0", 0)),
                 QString("board /dev/hidraw0 is in use by another program"));
        QCOMPARE(QString::fromStdString(BoardLock::inUseText("/dev/hidraw0", INT_MAX)),
                 QString("board /dev/hidraw0 is in use by another program"));
    }

    void theTransportHoldsTheLockUntilDestroyed() {
        ListedDevices backend(node);
        {
            auto first = std::make_unique<PIC>(nullptr, false);
            first->writeEN(1);
            QCOMPARE(backend.opens, 2);
            // Refused before it opens anything, so it never sees a report.
            QCOMPARE(thrown([] { PIC second(nullptr, false); }), inUse(ownName(), getpid()));
            QCOMPARE(thrown([&] { MotherBoard board(nullptr, node); }), inUse(ownName(), getpid()));
            QCOMPARE(backend.opens, 2);
            first.reset();
            MotherBoard board(nullptr, node);
            board.setPVIN(false);
            QCOMPARE(backend.opens, 4);
            QCOMPARE(backend.reports, 2);
            QCOMPARE(thrown([&] { BoardLock other(node); }), inUse(ownName(), getpid()));
        }
        QCOMPARE(thrown([&] { BoardLock free(node); }), QString("(nothing thrown)"));

        // A failed open gives the lock back with the error.
        backend.refusal = EACCES;
        QCOMPARE(thrown([] { PIC refused(nullptr, false); }),
                 QString("Error opening motherboard USB connection: 13"));
        QCOMPARE(thrown([&] { BoardLock free(node); }), QString("(nothing thrown)"));
        backend.refusal = 0;

        // A link to the node names the same board, and the same lock.
        const std::string link = dir.filePath("qm44xx-bridge").toStdString();
        QCOMPARE(symlink(node.c_str(), link.c_str()), 0);
        PIC linked(nullptr, false, link);
        QCOMPARE(thrown([] { PIC first(nullptr, false); }), inUse(ownName(), getpid()));
    }

    void transfersAreLoggedExactly() {
        SimulatedBridge &bridge = startSimulation("QM4434");
        MotherBoard board;
        QSignalSpy spy(&board, &MotherBoard::logMessage);
        QVERIFY(!board.getEN());

        board.write(0x11, bytes({0x0F, 0x01}));
        board.write(0x11, std::string());
        QCOMPARE(lines(spy), (QStringList{"I2C Write, Addr 0x11 => [ 0x0f 0x01 ]",
                                          "I2C Write, Addr 0x11 => [ ]"}));

        bridge.chip().setInputVoltage(1.8);
        board.setPVIN(true);
        board.pic->writeEN(1); // raise EN without identification
        QCOMPARE(hex(board.writeRead(0x11, bytes({0x13}), 1)), QString("34"));
        QCOMPARE(lines(spy), (QStringList{"PVIN ON", "I2C Write, Addr 0x11 => [ 0x13 ]",
                                          "I2C Read,  Addr 0x11 <= [ 0x34 ]"}));

        QCOMPARE(thrown([&] { board.read(0x11, 1); }),
                 QString("read-only commands not yet supported - use writeread"));
        QVERIFY(lines(spy).isEmpty());

        // The write line is in the log even when the transfer fails.
        bridge.unplug();
        QCOMPARE(thrown([&] { board.write(0x11, bytes({0x05})); }),
                 QString("Error during USB write: 19"));
        QCOMPARE(lines(spy), QStringList{"I2C Write, Addr 0x11 => [ 0x05 ]"});
    }

    void raisingEnIdentifiesAndRefreshes() {
        SimulatedBridge &bridge = startSimulation("QM4422");
        MotherBoard board;
        FakeClock clock;
        board.setClock(clock.clock());
        QSignalSpy spy(&board, &MotherBoard::logMessage);

        const ChipDescriptor chip = board.setEN(true);
        QCOMPARE(clock.waits(), std::vector<long>{MotherBoard::POWER_UP_DELAY_MS});
        QVERIFY(board.getEN());
        QVERIFY(bridge.en());
        QCOMPARE(QString::fromStdString(chip.chip_name), QString("QM4422"));
        QCOMPARE(int(chip.regulator_count), 2);
        QCOMPARE(board.device->i2c_address, uint16_t(0x25));

        // Then the probes and the refresh, as test_ctl's trace shows them.
        QCOMPARE(lines(spy).first(), QString("Setting EN high"));
        QCOMPARE(board.device->get_dac_code(3), uint8_t(118));
        QCOMPARE(board.device->get_ss_code(3), uint8_t(3));

        const ChipDescriptor low = board.setEN(false);
        board.setEN(false);
        QVERIFY(low.chip_name.empty());
        QCOMPARE(lines(spy), (QStringList{"Setting EN low", "Setting EN low"}));
        QVERIFY(!board.getEN());
        QCOMPARE(board.device->i2c_address, uint16_t(0x25)); // kept until the next power-up

        board.setPVIN(false);
        QCOMPARE(lines(spy), QStringList{"PVIN OFF"});
        QVERIFY(!bridge.pvin());
    }
    void pageWritesTakeEffectAtTheTrigger() {
        SimulatedBridge &bridge = startSimulation("QM4434");
        MotherBoard board;
        board.setClock(FakeClock().clock()); // the power-up wait passes at once
        IvrDevice &dev = *board.device;
        board.setEN(true);

        // Written without the trigger: not in effect, and not read back either.
        board.write(0x11, bytes({0x40, 0x08, 150}));
        QCOMPARE(dev.read_register(0x41, true, false), uint8_t(118));
        QCOMPARE(bridge.chip().activePageRegister(1, 1), uint8_t(118));
        QCOMPARE(dev.read_vout(1), conv::VOUT_OFFSET);
        board.write(0x11, bytes({0x0F, 0x01}));
        QCOMPARE(dev.read_register(0x41, true, false), uint8_t(150));
        QCOMPARE(dev.read_vout(1), conv::voutFromCode(150));

        // The chip ignores writes to read-only registers and keeps its own flags.
        board.write(0x11, bytes({0x00, 0xFF, 0xFF}));
        QCOMPARE(dev.read_register(0x01, true, false), uint8_t(179));
        board.write(0x11, bytes({0x40, 0x0F}));
        QCOMPARE(dev.read_register(0x40, true, false), uint8_t(0x08));

        // EN low, then high again: the power-on defaults.
        board.setEN(false);
        board.setEN(true);
        QCOMPARE(dev.get_dac_code(1), uint8_t(118));
        QCOMPARE(dev.read_vout(1), conv::VOUT_OFFSET);
    }

    // Injected faults show in the outputs as well as in the flags (each flag's
    // text is a case of test_ctl): an overvoltage raises the output, a short
    // takes it away, and a disabled page reports nothing.
    void faultsShowInTheOutputs() {
        SimulatedBridge &bridge = startSimulation("QM4433");
        MotherBoard board;
        board.setClock(FakeClock().clock()); // the power-up wait passes at once
        IvrDevice &dev = *board.device;
        board.setEN(true);
        for (int page = 1; page <= 3; ++page)
            dev.set_enable(page, 1);
        dev.commit();
        bridge.chip().setPageFault(2, true, false, false);
        QVERIFY(dev.read_vout(2) > conv::voutFromCode(118) * 1.1);
        bridge.chip().setPageFault(1, false, false, true);
        QCOMPARE(dev.read_page_status(1), uint8_t(0x0E)); // shorted: no output, so UV too
        QCOMPARE(dev.read_vout(1), conv::VOUT_OFFSET);
        dev.set_enable(1, 0);
        dev.commit();
        QCOMPARE(dev.read_page_status(1), uint8_t(0));
    }

    // The fallback row of the chip table is no model to simulate.
    void theFallbackRowIsNoModel() {
        QVERIFY(
            thrown([] { startSimulation("ERROR"); }).startsWith("Unknown chip model \"ERROR\""));
    }
};

int main(int argc, char **argv) {
    if (argc == 3 && std::string(argv[1]) == "--hold")
        return holdLock(argv[2]);
    QCoreApplication app(argc, argv);
    TransportTest test;
    return QTest::qExec(&test, argc, argv);
}
#include "test_transport.moc"
