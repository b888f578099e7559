// The regulator's device model against a recording bus: access rules, the cache,
// the exact transfers of commit and refresh, field encodings, telemetry and
// status decoding, identification; and the bounds of the regulator layer that
// every front end shares (its pages, codes, texts, current limits and settings
// files show in the front ends' own tests). What a failed commit or refresh
// leaves pending is fuzz_device_operations' to check, on its replayed corpus.
#include "device/chip_table.h"
#include "device/ivr_device.h"
#include "device/regulator.h"
#include "device/text.h"
#include "test_support.h"

#include <QtTest>

class DeviceModelTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void accessRulesRefuseWithTheAddressInDecimal() {
        RecordingBus bus;
        IvrDevice dev(&bus, 0x11, 3);
        QCOMPARE(thrown([&] { dev.read_register(0x0F, true, true); }),
                 QString("Attempt to read to unreadable address: 0d15"));
        QCOMPARE(thrown([&] { dev.read_field(RegisterField(0x14, 0xFF)); }),
                 QString("Attempt to read to unreadable address: 0d20"));
        QCOMPARE(thrown([&] { dev.write_field(RegisterField(0x00, 0x01), 1); }),
                 QString("Attempt to write to unwriteable address: 0d0"));
        QCOMPARE(thrown([&] { dev.force(0x40, 1); }),
                 QString("Attempt to force to non-writeonly address: 0d64"));
        QCOMPARE(thrown([&] { dev.set_enable(4, 1); }), QString("Invalid regulator page: 4"));
        QVERIFY(bus.log.isEmpty());

        dev.force(0x0F, 0x01);
        QCOMPARE(bus.log, QStringList{"W 11: 0f 01"});
    }

    void commitSendsRunsOfDirtyRegistersThenTheTrigger() {
        RecordingBus bus;
        IvrDevice dev(&bus, 0x11, 3);

        dev.set_dac_code(1, 0x64);
        dev.set_ss_code(1, 3);
        dev.set_dvs_code(1, 15);
        dev.commit();
        QCOMPARE(bus.log, (QStringList{"W 11: 41 64 03 0f", "W 11: 0f 01"}));

        bus.log.clear();
        dev.set_dvs_code(1, 2);
        dev.set_enable(2, 1);
        dev.commit();
        QCOMPARE(bus.log, (QStringList{"W 11: 43 02", "W 11: 80 08", "W 11: 0f 01"}));

        bus.log.clear();
        dev.set_dac_code(1, 0x70);
        dev.set_dvs_code(1, 3);
        dev.commit();
        QCOMPARE(bus.log, (QStringList{"W 11: 41 70", "W 11: 43 03", "W 11: 0f 01"}));

        bus.log.clear();
        dev.set_enable(1, 1);
        dev.set_dac_code(1, 0x71);
        dev.set_clim_code(1, 2);
        dev.set_dvs_code(1, 4);
        dev.commit();
        QCOMPARE(bus.log, (QStringList{"W 11: 40 08 71 23 04", "W 11: 0f 01"}));

        // Writing the cached value marks nothing; commit then sends nothing at all.
        bus.log.clear();
        dev.set_dac_code(1, 0x71);
        dev.set_enable(1, 7);
        QVERIFY(!dev.has_pending_changes());
        dev.commit();
        QVERIFY(bus.log.isEmpty());
    }

    void pageControlCacheKeepsOnlyTheEnableBit() {
        RecordingBus bus;
        IvrDevice dev(&bus, 0x11, 3);
        bus.registers[{0x11, 0x40}] = 0x0F;
        QCOMPARE(dev.read_register(0x40, true, true), uint8_t(0x0F));
        QCOMPARE(dev.register_cache[0x40], uint8_t(0x08));

        // Enabling writes 0x08 whatever status the chip reported.
        bus.registers[{0x11, 0x80}] = 0x07;
        dev.read_register(0x80, true, true);
        dev.set_enable(2, 1);
        bus.log.clear();
        dev.commit();
        QCOMPARE(bus.log, (QStringList{"W 11: 80 08", "W 11: 0f 01"}));

        // A live read with cache update clears the dirty flag; without, it does not.
        dev.set_dac_code(1, 9);
        dev.read_register(0x41, true, false);
        QCOMPARE(dev.dirty_flags[0x41], uint8_t(1));
        dev.read_register(0x41, true, true);
        QCOMPARE(dev.dirty_flags[0x41], uint8_t(0));
    }

    void refreshReadsThePopulatedPagesInOrder() {
        const QStringList identity = {"R 11: 10", "R 11: 11", "R 11: 12", "R 11: 13"};
        const QStringList page1 = {"R 11: 40", "R 11: 41", "R 11: 42", "R 11: 43"};
        const QStringList page3 = {"R 11: c0", "R 11: c1", "R 11: c2", "R 11: c3"};
        const QStringList page2 = {"R 11: 80", "R 11: 81", "R 11: 82", "R 11: 83"};
        for (int count : {0, 1, 2, 3}) {
            RecordingBus bus;
            IvrDevice dev(&bus, 0x11, count);
            dev.set_dac_code(3, 0x50);
            bus.registers[{0x11, 0x41}] = 0x77;
            dev.refresh();
            QStringList expected = identity + page1;
            if (count > 1)
                expected += page3;
            if (count > 2)
                expected += page2;
            QCOMPARE(bus.log, expected);
            QCOMPARE(dev.get_dac_code(1), uint8_t(0x77));
            QCOMPARE(dev.get_dac_code(3), uint8_t(0));
            QVERIFY(!dev.has_pending_changes());
        }
    }

    void fieldSettersKeepTheirNeighbours() {
        RecordingBus bus;
        IvrDevice dev(&bus, 0x11, 3);
        dev.set_clim_code(2, 10);
        dev.set_ss_code(2, 20); // cut to the field's width: 4
        QCOMPARE(dev.register_cache[0x82], uint8_t(0xA4));
        QCOMPARE(dev.get_ss_code(2), uint8_t(4));
        dev.set_clim_code(2, 1);
        QCOMPARE(dev.get_ss_code(2), uint8_t(4));
        QCOMPARE(dev.register_cache[0x82], uint8_t(0x14));

        dev.set_enable(3, 5);
        QVERIFY(dev.get_enable(3));
        dev.set_enable(3, -1);
        QVERIFY(!dev.get_enable(3));
        dev.set_dvs_code(2, 15);
        QCOMPARE(dev.register_cache[0x83], uint8_t(0x0F));
        dev.set_dac_code(1, 300); // low 8 bits
        QCOMPARE(dev.get_dac_code(1), uint8_t(44));
        QVERIFY(bus.log.isEmpty());
    }

    void telemetryConversions() {
        RecordingBus bus;
        IvrDevice dev(&bus, 0x11, 3);
        auto reading = [&](uint8_t reg, uint8_t code, const std::function<double()> &read) {
            bus.registers[{0x11, reg}] = code;
            return read();
        };
        auto vin = [&] { return dev.read_vin(); };
        auto temp = [&] { return dev.read_temperature(); };
        QCOMPARE(reading(0x01, 0, vin), 0.48);
        QCOMPARE(reading(0x01, 255, vin), 2.3619);
        QCOMPARE(reading(0x02, 81, temp), -40.0);
        QCOMPARE(reading(0x02, 255, temp), 231.44);
        QCOMPARE(reading(0x03, 57, [&] { return dev.read_vout(1); }), 0.5004);
        QCOMPARE(reading(0x05, 228, [&] { return dev.read_vout(2); }), 1.2015);
        QCOMPARE(reading(0x07, 255, [&] { return dev.read_vout(3); }), 1.3122);
    }

    void statusDecoding() {
        RecordingBus bus;
        IvrDevice dev(&bus, 0x11, 1);
        bus.registers[{0x11, 0x00}] = 0xFF;
        bus.registers[{0x11, 0x40}] = 0x00;
        bus.registers[{0x11, 0x80}] = 0x0C;
        bus.registers[{0x11, 0xC0}] = 0x09;
        QCOMPARE(dev.read_core_status(), uint8_t(0xBF));
        QCOMPARE(bus.log, (QStringList{"R 11: 00", "R 11: 40", "R 11: 80", "R 11: c0"}));
        bus.registers[{0x11, 0x40}] = 0x0A;
        QCOMPARE(dev.read_core_status(), uint8_t(0x7F));
        bus.registers[{0x11, 0x40}] = 0x07; // off: flags do not count
        bus.registers[{0x11, 0x80}] = 0x08;
        QCOMPARE(dev.read_core_status(), uint8_t(0xFF));

        bus.registers[{0x11, 0x40}] = 0x05;
        QCOMPARE(dev.read_page_status(1), uint8_t(0));
        bus.registers[{0x11, 0x40}] = 0x0D;
        QCOMPARE(dev.read_page_status(1), uint8_t(0x0D));
        QVERIFY(dev.register_cache.count(0x40) == 0 || dev.register_cache[0x40] == 0);
    }

    void identificationProbesTheTableInOrder() {
        RecordingBus bus;
        IvrDevice dev(&bus, 0x11, 3);
        bus.registers[{0x0D, 0x13}] = 0x33;
        bus.registers[{0x19, 0x13}] = 0x99; // another ID at an earlier row's address
        const ChipDescriptor chip = dev.identify_chip();
        QCOMPARE(bus.log, (QStringList{"R 19: 13", "R 25: 13", "R 2d: 13", "R 0d: 13"}));
        QCOMPARE(QString::fromStdString(chip.chip_name), QString("QM4433"));
        QCOMPARE(dev.i2c_address, uint16_t(0x0D));
        QCOMPARE(dev.regulator_count, 3);

        // Nothing answers: the fallback row, address 0x00 and no regulators.
        RecordingBus silent;
        for (const ChipDescriptor &row : chip_table)
            silent.registers[{row.i2c_address, 0x13}] = 0xFF;
        IvrDevice lone(&silent, 0x11, 3);
        QCOMPARE(QString::fromStdString(lone.identify_chip().chip_name), QString("ERROR"));
        QCOMPARE(lone.i2c_address, uint16_t(0));
        QCOMPARE(lone.regulator_count, 0);
        silent.log.clear();
        lone.refresh();
        QCOMPARE(silent.log.size(), 8);
        QCOMPARE(silent.log.first(), QString("R 00: 10"));

        // Not even the fallback matches: still a chip without regulators.
        RecordingBus zero;
        IvrDevice none(&zero, 0x11, 3);
        QCOMPARE(none.identify_chip().regulator_count, uint8_t(0));

        // A failing probe leaves the identity as it was.
        RecordingBus failing;
        failing.readsBeforeFailure = 2;
        IvrDevice kept(&failing, 0x11, 3);
        QCOMPARE(thrown([&] { kept.identify_chip(); }), QString("bus read failed"));
        QCOMPARE(kept.i2c_address, uint16_t(0x11));
        QCOMPARE(kept.regulator_count, 3);
        QVERIFY(kept.chip_name.empty());
    }

    // Targets in range and clamped; every code's voltage, as a file holds it,
    // gives that code back.
    void targetBoundsAndTheFilesVolts() {
        QVERIFY(!regulator::targetInRange(0.4999) && !regulator::targetInRange(1.2021));
        QVERIFY(regulator::targetInRange(0.5) && regulator::targetInRange(1.202));
        QCOMPARE(regulator::clampTarget(0.1), 0.5);
        QCOMPARE(regulator::clampTarget(2.0), 1.202);
        // Four decimals; the window's truncation takes the step below instead.
        for (int code = regulator::DAC_CODE_MIN; code <= regulator::DAC_CODE_MAX; ++code) {
            double volts = 0;
            QVERIFY(text::parseDecimal(text::fixed(regulator::voltsFromDacCode(code), 4), volts));
            QCOMPARE(regulator::dacCodeFromVolts(volts), code);
        }
        QCOMPARE(regulator::shownVout(0.2999), 0.0);
        QCOMPARE(regulator::shownVout(0.3), 0.3);
    }
};

QTEST_GUILESS_MAIN(DeviceModelTest)
#include "test_device_model.moc"
