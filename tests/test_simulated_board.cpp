// The board object and the simulated evaluation board behind it, with the real
// transport and device model: traffic log lines byte for byte, EN and PVIN with
// their lines, identification and refresh on power-up for every model, page
// writes that take effect at the update trigger, and telemetry and status that
// follow the chip's state and injected faults.
#include "device/chip_table.h"
#include "device/conversions.h"
#include "device/ivr_device.h"
#include "device/register_map.h"
#include "link/motherboard.h"
#include "link/pic.h"
#include "test_support.h"
#include "tests/support/fake_clock.h"

#include <QSignalSpy>
#include <QtTest>

class SimulatedBoardTest : public QObject {
    Q_OBJECT

    static QStringList lines(QSignalSpy &spy) {
        QStringList out;
        for (const QList<QVariant> &args : spy)
            out << args.at(0).toString();
        spy.clear();
        return out;
    }

private Q_SLOTS:
    void initTestCase() { hermeticHidBus(); }
    void cleanup() { stopSimulation(); }

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

        QStringList log = lines(spy);
        QCOMPARE(log.first(), QString("Setting EN high"));
        // Probe of row 1 finds nothing at 0x19, row 2 answers; then the refresh.
        QCOMPARE(
            log.mid(1, 4),
            (QStringList{"I2C Write, Addr 0x19 => [ 0x13 ]", "I2C Read,  Addr 0x19 <= [ 0xff ]",
                         "I2C Write, Addr 0x25 => [ 0x13 ]", "I2C Read,  Addr 0x25 <= [ 0x22 ]"}));
        QCOMPARE(log.size(), 1 + 4 + 2 * 12);
        QCOMPARE(log.last(), QString("I2C Read,  Addr 0x25 <= [ 0x03 ]"));
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

        // With PVIN off nothing answers: the fallback row.
        QCOMPARE(QString::fromStdString(board.setEN(true).chip_name), QString("ERROR"));
        QCOMPARE(board.device->i2c_address, uint16_t(0));
    }
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
        const ChipDescriptor chip = board.setEN(true);
        QCOMPARE(QString::fromStdString(chip.chip_name), model);
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

QTEST_GUILESS_MAIN(SimulatedBoardTest)
#include "test_simulated_board.moc"
