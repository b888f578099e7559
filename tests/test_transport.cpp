// The USB HID transport over the simulated bridge: exact report bytes, the
// normalised answer, bounded waits, refused payloads, error texts and the trace.
#include "link/motherboard.h"
#include "link/pic.h"
#include "stdout_capture.h"
#include "test_support.h"

#include <QElapsedTimer>
#include <QtTest>
#include <cerrno>

class TransportTest : public QObject {
    Q_OBJECT

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
    void initTestCase() { hermeticHidBus(); }
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
        QCOMPARE(thrown([&] { pic.writeRead(0x11, bytes({0x13}), 0); }),
                 QString("writereads of other than 1 byte read not yet supported"));
        QCOMPARE(thrown([&] { pic.writeRead(0x11, bytes({0x13}), 2); }),
                 QString("writereads of other than 1 byte read not yet supported"));
        QCOMPARE(thrown([&] { pic.read(0x11, 1); }),
                 QString("read-only commands not yet supported - use writeread"));
        QCOMPARE(bridge.reports().size(), before + 2);
    }

    void findingAndOpeningTheBridge() {
        QCOMPARE(thrown([] { PIC pic(nullptr, false); }), QString("Motherboard not found"));
        startSimulation("QM4411").refuseOpen(EACCES);
        QCOMPARE(thrown([] { PIC pic(nullptr, false); }),
                 QString("Error opening motherboard USB connection: 13"));
        startSimulation("QM4411").unplug();
        QCOMPARE(thrown([] { PIC pic(nullptr, false); }), QString("Motherboard not found"));
    }

    void linkFailuresAreRaisedAndBounded() {
        SimulatedBridge &bridge = startSimulation("QM4434");
        PIC pic(nullptr, false);
        pic.writeEN(1);

        bridge.setAnswerLength(2);
        QCOMPARE(thrown([&] { pic.writeRead(0x11, bytes({0x13}), 1); }),
                 QString("Error during USB read: 5"));
        bridge.setAnswerLength(0);
        QCOMPARE(thrown([&] { pic.writeRead(0x11, bytes({0x13}), 1); }),
                 QString("Error during USB read: 110"));
        bridge.setAnswerLength(3);
        QCOMPARE(hex(pic.writeRead(0x11, bytes({0x13}), 1)), QString("34"));
        bridge.setAnswerLength(-1);

        bridge.stall(true);
        QElapsedTimer clock;
        clock.start();
        QCOMPARE(thrown([&] { pic.writeRead(0x11, bytes({0x13}), 1); }),
                 QString("Error during USB read: 110"));
        QVERIFY2(clock.elapsed() < 3000, "a stalled bridge must not hold the caller");
        bridge.stall(false);

        bridge.unplugAfterReports(1); // the write-read's report gets through, its answer does not
        QCOMPARE(thrown([&] { pic.writeRead(0x11, bytes({0x13}), 1); }),
                 QString("Error during USB read: 19"));
        QCOMPARE(thrown([&] {
                     pic.write(0x11, bytes({0x0F, 0x01}));
                 }),
                 QString("Error during USB write: 19"));
        QCOMPARE(thrown([&] { pic.writeEN(0); }), QString("Error during USB write: 19"));
        bridge.replug();
        QCOMPARE(hex(pic.writeRead(0x11, bytes({0x13}), 1)), QString("34"));
    }

    // Regression (found by fuzz_device_operations): the answer to a write-read
    // whose board went away after taking the report stayed queued, and after a
    // replug every read returned the answer to the question before it.
    void aReplugLeavesNoStaleAnswer() {
        SimulatedBridge &bridge = startSimulation("QM4434");
        PIC pic(nullptr, false);
        pic.writeEN(1);
        bridge.unplugAfterReports(1);
        QCOMPARE(thrown([&] { pic.writeRead(0x11, bytes({0x13}), 1); }),
                 QString("Error during USB read: 19"));
        bridge.replug();
        QCOMPARE(hex(pic.writeRead(0x11, bytes({0x01}), 1)), QString("b3"));
        QCOMPARE(hex(pic.writeRead(0x11, bytes({0x13}), 1)), QString("34"));

        // The same when the board is pulled with an answer waiting.
        const uint8_t report[65] = {0, 0xF3, 4, 0x22, 0x13, 0x23, 1};
        int error = 0;
        QCOMPARE(bridge.receive(report, sizeof report, error), 65);
        bridge.unplug();
        bridge.replug();
        QCOMPARE(hex(pic.writeRead(0x11, bytes({0x02}), 1)), QString("7b"));
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

    // The simulated bridge's hooks for fuzzing: replaced answers of any length,
    // and time-outs reported without the wait.
    void replacedAnswersAndImmediateTimeOuts() {
        SimulatedBridge &bridge = startSimulation("QM4434");
        PIC pic(nullptr, false);
        pic.writeEN(1);

        bridge.replaceNextAnswer({0xF3, 0x01, 0xAB});
        QCOMPARE(hex(pic.writeRead(0x11, bytes({0x13}), 1)), QString("ab"));
        QCOMPARE(hex(pic.writeRead(0x11, bytes({0x13}), 1)), QString("34")); // only the next one
        std::vector<uint8_t> longAnswer(100, 0x00);
        longAnswer[2] = 0x5A;
        bridge.replaceNextAnswer(longAnswer);
        QCOMPARE(hex(pic.writeRead(0x11, bytes({0x13}), 1)), QString("5a"));
        bridge.replaceNextAnswer({0xF3, 0x01});
        QCOMPARE(thrown([&] { pic.writeRead(0x11, bytes({0x13}), 1); }),
                 QString("Error during USB read: 5"));
        bridge.replaceNextAnswer({});
        QCOMPARE(thrown([&] { pic.writeRead(0x11, bytes({0x13}), 1); }),
                 QString("Error during USB read: 110"));
        // A replacement goes to a report that reaches the bridge, and a stall
        // swallows it with the answer.
        bridge.replaceNextAnswer({0, 0, 0x77});
        QCOMPARE(thrown([&] { pic.writeRead(0x11, std::string(60, '\x13'), 1); }),
                 QString("I2C write-read of 60 bytes exceeds the 59 a report holds"));
        bridge.setTimeoutWait(false);
        bridge.stall(true);
        QElapsedTimer clock;
        clock.start();
        QCOMPARE(thrown([&] { pic.writeRead(0x11, bytes({0x13}), 1); }),
                 QString("Error during USB read: 110"));
        QVERIFY2(clock.elapsed() < PIC::READ_TIMEOUT_MS / 2, "the time-out must not be waited");
        bridge.stall(false);
        QCOMPARE(hex(pic.writeRead(0x11, bytes({0x13}), 1)), QString("34"));
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
};

QTEST_GUILESS_MAIN(TransportTest)
#include "test_transport.moc"
