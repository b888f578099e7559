// The regulator's shared rules: pages, target encoding and its text, the
// current limit, and the settings value read from and applied to a device.
#include "device/ivr_device.h"
#include "device/regulator.h"
#include "device/settings.h"
#include "device/text.h"
#include "test_support.h"

#include <QtTest>

class TestRegulator : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void pagesAndPanels() {
        QCOMPARE(regulator::pageOf(1, 1), 1);
        QCOMPARE(regulator::pageOf(2, 1), 0);
        QCOMPARE(regulator::pageOf(2, 2), 3);
        QCOMPARE(regulator::pageOf(2, 3), 2);
        QCOMPARE(regulator::pageOf(3, 2), 0);
        QCOMPARE(regulator::pageOf(0, 3), 0);
        QCOMPARE(regulator::populatedPages(2), (std::vector<int>{1, 3}));
        QCOMPARE(regulator::populatedPages(3), (std::vector<int>{1, 2, 3}));
        QVERIFY(regulator::populatedPages(0).empty());
        QVERIFY(!regulator::pagePopulated(2, 2) && regulator::pagePopulated(3, 2));
        // Panel 2 of a two-regulator chip drives page 3; its disabled third
        // panel shows page 2 but would drive page 3.
        QCOMPARE(regulator::panelPage(2, 2), 3);
        QCOMPARE(regulator::panelPage(3, 2), 3);
        QCOMPARE(regulator::panelShownPage(3, 2), 2);
        QCOMPARE(regulator::panelShownPage(2, 3), 2);
    }

    void targetsAndRates() {
        QCOMPARE(regulator::dacCodeFromVolts(0.6), 81);
        QCOMPARE(regulator::dacCodeFromVolts(0.5), 57);
        QCOMPARE(regulator::dacCodeFromVolts(1.202), 228);
        QCOMPARE(regulator::dacCodeFromVolts(0.9), 154);
        QVERIFY(!regulator::targetInRange(0.4999) && !regulator::targetInRange(1.2021));
        QVERIFY(regulator::targetInRange(0.5) && regulator::targetInRange(1.202));
        QCOMPARE(regulator::clampTarget(0.1), 0.5);
        QCOMPARE(regulator::clampTarget(2.0), 1.202);
        // Every code's voltage as a file holds it (4 decimals) gives that code
        // back; the window's truncation takes the step below for the same text.
        for (int code = regulator::DAC_CODE_MIN; code <= regulator::DAC_CODE_MAX; ++code) {
            double volts = 0;
            QVERIFY(text::parseDecimal(text::fixed(regulator::voltsFromDacCode(code), 4), volts));
            QCOMPARE(regulator::dacCodeFromVolts(volts), code);
        }
        QCOMPARE(regulator::sliderPositionForVolts(0.6), 24);
        QCOMPARE(regulator::codeFromSliderPosition(regulator::SLIDER_MAX), 228);
        QCOMPARE(QString::fromStdString(regulator::targetText(81)), QString("0.599"));
        QCOMPARE(QString::fromStdString(regulator::targetText(57)), QString("0.5"));
        QCOMPARE(QString::fromStdString(regulator::targetText(228)), QString("1.2"));
        QCOMPARE(regulator::shownVout(0.2999), 0.0);
        QCOMPARE(regulator::shownVout(0.3), 0.3);
        QCOMPARE(regulator::climCodeForSoftStart(2), 0);
        QCOMPARE(regulator::climCodeForSoftStart(3), 1);
        QCOMPARE(regulator::climCodeForSoftStart(15), 10);
    }

    // Settings read from one chip's cache and applied to another's send the same
    // registers in one commit, with the current limit that goes with the rate.
    void settingsRoundTrip() {
        RecordingBus bus;
        IvrDevice device(&bus, 0x25, 2);
        device.chip_name = "QM4422";
        device.register_cache[0x40] = 0x08;
        device.register_cache[0x41] = 0x9A;
        device.register_cache[0x42] = 0x07;
        device.register_cache[0x43] = 0x03;
        device.register_cache[0xC1] = 0x76;
        device.register_cache[0xC2] = 0x13;
        device.register_cache[0x81] = 0x55; // page 2 is not populated on QM4422
        const ChipSettings settings = settingsFromCache(device);
        QCOMPARE(settings.chip, std::string("QM4422"));
        QCOMPARE(int(settings.regulators.size()), 2);
        QVERIFY(settings.regulators[0] == (RegulatorSettings{true, 0x9A, 3, 7}));
        QVERIFY(settings.regulators[1] == (RegulatorSettings{false, 0x76, 0, 3}));
        QCOMPARE(unsavableReason(settings), std::string());

        IvrDevice other(&bus, 0x25, 2);
        other.chip_name = "QM4422";
        QCOMPARE(mismatchReason(settings, other), std::string());
        const std::vector<uint8_t> touched = applySettings(other, settings);
        QCOMPARE(touched, (std::vector<uint8_t>{0x40, 0x41, 0x42, 0x43, 0xC0, 0xC1, 0xC2, 0xC3}));
        other.commit();
        QCOMPARE(bus.log, QStringList({"W 25: 40 08 9a 57 03", "W 25: c1 76 13", "W 25: 0f 01"}));

        other.chip_name = "QM4423";
        QCOMPARE(mismatchReason(settings, other),
                 std::string("the file is for QM4422, the chip is QM4423"));
        ChipSettings fresh = settings;
        fresh.regulators[1].dacCode = 0;
        QCOMPARE(unsavableReason(fresh),
                 std::string("the target of VR2 (DAC code 0, 0.2667 V) is outside 0.5 to 1.202 V "
                             "and cannot be saved"));
    }
};

QTEST_GUILESS_MAIN(TestRegulator)
#include "test_regulator.moc"
