// The simulated evaluation board behind the real transport and device model:
// every model identifies, page writes take effect at the update trigger, and
// telemetry and status follow the chip's state and injected faults.
#include "device/chip_table.h"
#include "device/conversions.h"
#include "device/ivr_device.h"
#include "device/register_map.h"
#include "link/motherboard.h"
#include "test_support.h"
#include "tests/support/fake_clock.h"

#include <QSignalSpy>
#include <QtTest>

class SimulatedBoardTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { hermeticHidBus(); }
    void cleanup() { stopSimulation(); }

    void everyModelIdentifiesWithItsPages_data() {
        QTest::addColumn<QString>("model");
        QTest::addColumn<int>("address");
        QTest::addColumn<int>("count");
        QTest::newRow("QM4411") << "QM4411" << 0x19 << 1;
        QTest::newRow("QM4422") << "QM4422" << 0x25 << 2;
        QTest::newRow("QM4423") << "QM4423" << 0x2D << 2;
        QTest::newRow("QM4433") << "QM4433" << 0x0D << 3;
        QTest::newRow("QM4434") << "QM4434" << 0x11 << 3;
    }
    void everyModelIdentifiesWithItsPages() {
        QFETCH(QString, model);
        QFETCH(int, address);
        QFETCH(int, count);
        SimulatedBridge &bridge = startSimulation(model.toStdString());
        MotherBoard board;
        board.setClock(FakeClock().clock()); // the power-up wait passes at once
        IvrDevice &dev = *board.device;
        QSignalSpy lines(&board, &MotherBoard::logMessage);
        const ChipDescriptor chip = board.setEN(true);
        QCOMPARE(QString::fromStdString(chip.chip_name), model);

        // After the probes, the refresh reads exactly the populated pages.
        QStringList refreshed;
        const QString head = QString("I2C Write, Addr 0x%1 => [ 0x").arg(hexByte(uint8_t(address)));
        for (const QList<QVariant> &line : lines) {
            const QString text = line.at(0).toString();
            if (text.startsWith(head))
                refreshed << text.mid(head.size(), 2);
        }
        QStringList reads = {"13", "10", "11", "12", "13", "40", "41", "42", "43"};
        if (count > 1)
            reads << "c0"
                  << "c1"
                  << "c2"
                  << "c3";
        if (count > 2)
            reads << "80"
                  << "81"
                  << "82"
                  << "83";
        QCOMPARE(refreshed, reads); // the matching probe, then the refresh
        QCOMPARE(int(dev.i2c_address), address);
        QCOMPARE(dev.regulator_count, count);

        // Populated pages come up with the defaults, the others read 0 and ignore writes.
        for (int page = 1; page <= 3; ++page) {
            const bool populated = bridge.chip().pagePopulated(page);
            QCOMPARE(populated, page == 1 || (page == 3 && count >= 2) || count == 3);
            QCOMPARE(int(dev.read_register(reg::pageBase(page) + 1, true, false)),
                     populated ? 118 : 0);
            dev.set_enable(page, 1);
            dev.set_dac_code(page, 100);
        }
        dev.commit();
        const double expected = conv::voutFromCode(100);
        QCOMPARE(dev.read_vout(1), expected);
        QCOMPARE(dev.read_vout(2), count == 3 ? expected : conv::VOUT_OFFSET);
        QCOMPARE(dev.read_vout(3), count >= 2 ? expected : conv::VOUT_OFFSET);
        QCOMPARE(dev.read_core_status(), uint8_t(0));
        QCOMPARE(dev.read_page_status(2), uint8_t(count == 3 ? 0x08 : 0));
    }

    void pageWritesTakeEffectAtTheTrigger() {
        SimulatedBridge &bridge = startSimulation("QM4434");
        MotherBoard board;
        board.setClock(FakeClock().clock()); // the power-up wait passes at once
        IvrDevice &dev = *board.device;
        board.setEN(true);
        QCOMPARE(dev.read_vin(), conv::vinFromCode(179)); // about 1.8 V
        QCOMPARE(dev.read_temperature(), conv::temperatureFromCode(123));

        // Written without the trigger: not in effect, and not read back either.
        board.write(0x11, bytes({0x40, 0x08, 150}));
        QCOMPARE(dev.read_register(0x41, true, false), uint8_t(118));
        QCOMPARE(bridge.chip().activePageRegister(1, 1), uint8_t(118));
        QCOMPARE(dev.read_vout(1), conv::VOUT_OFFSET);
        board.write(0x11, bytes({0x0F, 0x01}));
        QCOMPARE(dev.read_register(0x41, true, false), uint8_t(150));
        QCOMPARE(dev.read_vout(1), conv::voutFromCode(150));
        // The die warms with each enabled output.
        QCOMPARE(bridge.chip().dieTemperature(), 28.0);

        // The chip ignores writes to read-only registers and keeps its own flags.
        board.write(0x11, bytes({0x00, 0xFF, 0xFF}));
        QCOMPARE(dev.read_register(0x01, true, false), uint8_t(179));
        board.write(0x11, bytes({0x40, 0x0F}));
        QCOMPARE(dev.read_register(0x40, true, false), uint8_t(0x08));

        // EN low: nothing answers; EN high again: power-on defaults.
        board.setEN(false);
        QCOMPARE(dev.read_register(0x13, true, false), uint8_t(0xFF));
        board.setEN(true);
        QCOMPARE(dev.get_dac_code(1), uint8_t(118));
        QCOMPARE(dev.read_vout(1), conv::VOUT_OFFSET);
    }

    void statusFollowsInjectedFaults() {
        SimulatedBridge &bridge = startSimulation("QM4433");
        MotherBoard board;
        board.setClock(FakeClock().clock()); // the power-up wait passes at once
        IvrDevice &dev = *board.device;
        board.setEN(true);
        SimulatedChip &chip = bridge.chip();

        chip.setInputVoltage(1.62);
        QCOMPARE(dev.read_core_status(), uint8_t(0x02)); // VIN UV warn
        chip.setInputVoltage(1.55);
        QCOMPARE(dev.read_core_status(), uint8_t(0x03)); // and fail
        chip.setInputVoltage(1.97);
        QCOMPARE(dev.read_core_status(), uint8_t(0x08));
        chip.setInputVoltage(2.05);
        QCOMPARE(dev.read_core_status(), uint8_t(0x0C));
        QCOMPARE(dev.read_vin(), conv::vinFromCode(213));
        chip.setInputVoltage(1.8);
        chip.setAmbient(110);
        QCOMPARE(dev.read_core_status(), uint8_t(0x20));
        chip.setAmbient(130);
        QCOMPARE(dev.read_core_status(), uint8_t(0x30));
        chip.setAmbient(25);

        for (int page = 1; page <= 3; ++page)
            dev.set_enable(page, 1);
        dev.commit();
        chip.setPageFault(2, true, false, false);
        QCOMPARE(dev.read_page_status(2), uint8_t(0x09));
        QCOMPARE(dev.read_core_status(), uint8_t(0x80));
        QVERIFY(dev.read_vout(2) > conv::voutFromCode(118) * 1.1);
        chip.setPageFault(3, false, true, false);
        QCOMPARE(dev.read_page_status(3), uint8_t(0x0A));
        chip.setPageFault(1, false, false, true);
        QCOMPARE(dev.read_page_status(1), uint8_t(0x0E)); // shorted: no output, so UV too
        QCOMPARE(dev.read_vout(1), conv::VOUT_OFFSET);
        QCOMPARE(dev.read_core_status(), uint8_t(0x40));

        // A disabled page reports nothing.
        dev.set_enable(1, 0);
        dev.commit();
        QCOMPARE(dev.read_page_status(1), uint8_t(0));

        bridge.setChipSilent(true);
        QCOMPARE(dev.read_register(0x13, true, false), uint8_t(0xFF));
    }

    void noiseOnlyOnRequestAndRepeatable() {
        SimulatedBridge &bridge = startSimulation("QM4411");
        MotherBoard board;
        board.setClock(FakeClock().clock()); // the power-up wait passes at once
        board.setEN(true);
        auto sample = [&] {
            std::vector<int> codes;
            for (int i = 0; i < 40; ++i)
                codes.push_back(board.device->read_register(0x01, true, false));
            return codes;
        };
        QCOMPARE(sample(), std::vector<int>(40, 179));
        bridge.chip().setNoise(true, 7);
        const std::vector<int> first = sample();
        QCOMPARE(*std::min_element(first.begin(), first.end()), 178);
        QCOMPARE(*std::max_element(first.begin(), first.end()), 180);
        bridge.chip().setNoise(true, 7);
        QCOMPARE(sample(), first);
    }

    void timedFaultsFallDueAndSayWhen() {
        using namespace std::chrono;
        SimulatedBridge bridge(*findChipModel("QM4434"));
        auto send = [&](std::initializer_list<uint8_t> head) {
            std::vector<uint8_t> report(65, 0);
            std::copy(head.begin(), head.end(), report.begin());
            int error = 0;
            return bridge.receive(report.data(), report.size(), error);
        };
        auto readChipId = [&] { // the answer's length, 0 if none
            uint8_t answer[64];
            int error = 0;
            send({0x00, 0xF3, 0x04, 0x22, 0x13, 0x23, 0x01});
            return bridge.readAnswer(answer, sizeof answer, 0, error);
        };
        const auto never = steady_clock::time_point::max();
        QCOMPARE(bridge.nextChange(), never);
        send({0x00, 0x30, 0x01, 0x01}); // EN high

        // A stall an hour away leaves the answers alone; one due now takes them.
        bridge.stallAfter(hours(1));
        QCOMPARE(readChipId(), 64);
        bridge.stallAfter(milliseconds(0));
        QCOMPARE(readChipId(), 0);
        QCOMPARE(readChipId(), 0);
        bridge.stall(false);
        QCOMPARE(readChipId(), 64);

        // The next change is the earlier of a delayed answer and a timed unplug.
        bridge.delayAnswers(hours(2));
        const auto asked = steady_clock::now();
        QCOMPARE(readChipId(), 0);
        QVERIFY(bridge.nextChange() >= asked + hours(2));
        QVERIFY(bridge.nextChange() <= steady_clock::now() + hours(2));
        bridge.unplugAfter(hours(1));
        QVERIFY(bridge.nextChange() >= asked + hours(1));
        QVERIFY(bridge.nextChange() <= steady_clock::now() + hours(1));
        QVERIFY(bridge.present());
        bridge.unplugAfter(milliseconds(0));
        QVERIFY(!bridge.present());
        QCOMPARE(send({0x00, 0x30, 0x01, 0x00}), -1);
        QCOMPARE(bridge.nextChange(), never); // the late answer went with the board
    }

    void simulateOption() {
        std::string model, error;
        QVERIFY(!parseSimulateArgument("--verbose", model, error));
        QVERIFY(parseSimulateArgument("--simulate", model, error));
        QCOMPARE(QString::fromStdString(model), QString("QM4434"));
        QVERIFY(parseSimulateArgument("--simulate=QM4422", model, error));
        QCOMPARE(QString::fromStdString(model), QString("QM4422"));
        QVERIFY(error.empty());
        QVERIFY(parseSimulateArgument("--simulate=QM9999", model, error));
        QCOMPARE(QString::fromStdString(error),
                 QString("Unknown chip model \"QM9999\" for --simulate (known: QM4411, QM4422, "
                         "QM4423, QM4433, QM4434)"));
        try {
            startSimulation("ERROR");
            QFAIL("the fallback row is no model");
        } catch (const std::string &text) {
            QVERIFY(QString::fromStdString(text).startsWith("Unknown chip model \"ERROR\""));
        }
    }
};

QTEST_GUILESS_MAIN(SimulatedBoardTest)
#include "test_simulated_board.moc"
