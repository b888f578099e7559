// qm44xx-ctl against a failing link or chip, at each stage of a session: every
// fault ends the run with exit 2 and the link's own text within two seconds of
// the fault, or, where the link still carries the exchange, with the run done.
#include "ctl/ctl.h"
#include "test_support.h"

#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QtTest>
#include <functional>
#include <memory>
#include <sstream>

namespace {
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
// A clock that moves only by the tool's waits, and calls a hook after each.
Clock fakeClock(std::function<void()> afterSleep = [] {}) {
    auto now = std::make_shared<QDateTime>(QDate(2024, 5, 1), QTime(12, 0), Qt::UTC);
    Clock clock;
    clock.now = [now] { return *now; };
    clock.sleep = [now, afterSleep](long ms) {
        *now = now->addMSecs(ms);
        afterSleep();
    };
    return clock;
}
} // namespace

class CtlFaultsTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { hermeticHidBus(); }
    void cleanup() { stopSimulation(); }

    void faultMatrix_data() {
        QTest::addColumn<QString>("stage");
        QTest::addColumn<QString>("fault");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("error");
        const QString write19 = "qm44xx-ctl: Error during USB write: 19\n";
        const QString read19 = "qm44xx-ctl: Error during USB read: 19\n";
        const QString read110 = "qm44xx-ctl: Error during USB read: 110\n";
        QTest::newRow("power-on, unplugged") << "power-on"
                                             << "unplug" << 2 << read19;
        QTest::newRow("power-on, stalled") << "power-on"
                                           << "stall" << 2 << read110;
        QTest::newRow("power-on, chip silent")
            << "power-on"
            << "silent" << 2
            << "qm44xx-ctl: IVR not powered: no known chip answered after EN went high (is PVIN "
               "on?)\n";
        QTest::newRow("polling, unplugged") << "polling"
                                            << "unplug" << 2 << write19;
        QTest::newRow("polling, stalled") << "polling"
                                          << "stall" << 2 << read110;
        QTest::newRow("polling, short answer")
            << "polling"
            << "short" << 2 << "qm44xx-ctl: Error during USB read: 5\n";
        QTest::newRow("polling, empty answer") << "polling"
                                               << "empty" << 2 << read110;
        QTest::newRow("polling, chip silent")
            << "polling"
            << "silent" << 2
            << "qm44xx-ctl: the chip stopped answering: QM4434 at 0x11 reads 0xff (is EN high and "
               "PVIN on?)\n";
        QTest::newRow("status, chip silent")
            << "status"
            << "silent" << 2
            << "qm44xx-ctl: line 2: the chip stopped answering: QM4434 at 0x11 reads 0xff (is EN "
               "high and PVIN on?)\n";
        QTest::newRow("commit, unplugged")
            << "commit"
            << "unplug" << 2 << "qm44xx-ctl: line 2: Error during USB write: 19\n";
        // Writes need no answer: the stall shows at the next read.
        QTest::newRow("commit, stalled")
            << "commit"
            << "stall" << 2 << "qm44xx-ctl: line 3: Error during USB read: 110\n";
        QTest::newRow("close, unplugged")
            << "close"
            << "unplug" << 2 << "qm44xx-ctl: line 2: Error during USB write: 19\n";
        QTest::newRow("close, stalled") << "close"
                                        << "stall" << 0 << "";
    }
    void faultMatrix() {
        QFETCH(QString, stage);
        QFETCH(QString, fault);
        QFETCH(int, exitCode);
        QFETCH(QString, error);
        SimulatedBridge &bridge = startSimulation("QM4434");
        // One stall waits out the bridge's real second, to show that a run ends
        // in time; elsewhere a time-out is reported at once.
        const bool realTimeout = stage == "polling" && fault == "stall";
        bridge.setTimeoutWait(realTimeout);
        QElapsedTimer since;
        auto inject = [&] {
            since.start();
            injectFault(bridge, fault);
        };

        std::vector<std::string> args;
        int samples = 0;
        Clock clock = fakeClock();
        if (stage == "power-on") {
            args = {"power", "on"};
            since.start();
            if (fault == "unplug")
                bridge.unplugAfterReports(2); // EN, then the first probe's report
            else if (fault == "stall")
                bridge.stallAfterReports(2);
            else
                bridge.setChipSilent(true);
        } else if (stage == "polling") {
            args = {"power on; telemetry --count 0 --interval 50"};
            clock = fakeClock([&] {
                if (++samples == 3)
                    inject();
            });
        }
        // Commit and close: commands typed one by one; the fault comes before line 2.
        QStringList lines = {"power on", "power off"};
        if (stage == "commit")
            lines = QStringList{"power on", "set vout 1 0.9", "status"};
        if (stage == "status")
            lines = QStringList{"power on", "status"};
        TypedLines typed(lines, [&](int line) {
            if (line == 1)
                inject();
        });
        std::istream in(&typed);
        std::ostringstream out, err;
        QCOMPARE(ctl::run(args, in, out, err, clock), exitCode);
        const qint64 elapsed = since.elapsed();
        QCOMPARE(QString::fromStdString(err.str()), error);
        QVERIFY2(elapsed < 2000, qPrintable(QString::number(elapsed)));
        if (stage == "polling")
            QVERIFY(out.str().find("VIN 1.801 V") != std::string::npos);
    }

    // A set whose trigger was lost is reported, and repeating it in a new run
    // puts it in effect: what the chip reads back is what is in effect.
    void aFailedSetIsReportedAndCanBeRepeated() {
        SimulatedBridge &bridge = startSimulation("QM4411");
        std::istringstream in;
        std::ostringstream out, err;
        // EN, one probe, eight refresh reads and the data write get through.
        bridge.unplugAfterReports(1 + 1 + 8 + 1);
        QCOMPARE(ctl::run({"power on; set vout 1 0.9"}, in, out, err, fakeClock()), 2);
        QCOMPARE(QString::fromStdString(err.str()),
                 QString("qm44xx-ctl: Error during USB write: 19\n"));
        QCOMPARE(bridge.chip().activePageRegister(1, 1), uint8_t(118));
        bridge.replug();
        std::ostringstream out2, err2;
        QCOMPARE(ctl::run({"set vout 1 0.9 --verify"}, in, out2, err2, fakeClock()), 0);
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
        auto run = [&](const QStringList &lines, std::string &out) {
            TypedLines typed(lines,
                             [&](int line) { bridge.setChipSilent(line == lines.size() - 1); });
            std::istream in(&typed);
            std::ostringstream output, err;
            const int code = ctl::run({}, in, output, err, fakeClock());
            out = output.str();
            return std::make_pair(code, QString::fromStdString(err.str()));
        };
        std::string out;
        // A register that holds 0xff is shown as it is.
        QCOMPARE(run({"power on", "reg set 0x41 0xff; reg get 0x41", ""}, out),
                 std::make_pair(0, QString()));
        QCOMPARE(out, std::string("0xff\n"));

        const QString silent = "qm44xx-ctl: line 2: the chip stopped answering: QM4434 at 0x11 "
                               "reads 0xff (is EN high and PVIN on?)\n";
        // The enable bit of an all-ones read back would seem right to --verify.
        for (const QString &command :
             {QString("save -"), "save " + file, QString("dump"), QString("reg get 0x41"),
              QString("reg get 0x13"), QString("set enable 1 on --verify")}) {
            const auto result = run({"power on", command}, out);
            QCOMPARE(result.second, silent);
            QCOMPARE(result.first, 2);
            QCOMPARE(out, std::string());
        }
        QVERIFY(!QFileInfo::exists(file));
    }
};

QTEST_GUILESS_MAIN(CtlFaultsTest)
#include "test_ctl_faults.moc"
