// The board object: traffic log lines byte for byte, EN and PVIN with their
// lines, identification and refresh on power-up.
#include "device/ivr_device.h"
#include "link/motherboard.h"
#include "link/pic.h"
#include "test_support.h"
#include "tests/support/fake_clock.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QtTest>

class MotherBoardTest : public QObject {
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

    void hexByteIsTwoLowercaseDigits() {
        QCOMPARE(hexByte(0), QString("00"));
        QCOMPARE(hexByte(5), QString("05"));
        QCOMPARE(hexByte(0x0A), QString("0a"));
        QCOMPARE(hexByte(0xFF), QString("ff"));
    }

    void withoutABoardThereIsNoBoardObject() {
        QCOMPARE(thrown([] { MotherBoard board; }), QString("Motherboard not found"));
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

        try {
            board.read(0x11, 1);
            QFAIL("read must be refused");
        } catch (const std::string &text) {
            QCOMPARE(QString::fromStdString(text),
                     QString("read-only commands not yet supported - use writeread"));
        }
        QVERIFY(lines(spy).isEmpty());

        // The write line is in the log even when the transfer fails.
        bridge.unplug();
        try {
            board.write(0x11, bytes({0x05}));
            QFAIL("an unplugged board must fail");
        } catch (const std::string &text) {
            QCOMPARE(QString::fromStdString(text), QString("Error during USB write: 19"));
        }
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
};

QTEST_GUILESS_MAIN(MotherBoardTest)
#include "test_motherboard.moc"
