// Shared helpers of the tests: a bus double that records transfers, and hex
// formatting of byte strings for readable comparisons.
#pragma once

#include "device/i2c.h"
#include "link/hid_backend.h"
#include "sim/simulation.h"

#include <QFile>
#include <QString>
#include <QStringList>
#include <functional>
#include <map>
#include <string>
#include <vector>

// "0f 01" for the bytes 0x0F, 0x01.
inline QString hex(const std::string &bytes) {
    QStringList parts;
    for (unsigned char b : bytes)
        parts << QString::asprintf("%02x", b);
    return parts.join(' ');
}
inline QString hex(const std::vector<uint8_t> &bytes) {
    return hex(std::string(bytes.begin(), bytes.end()));
}

inline std::string bytes(std::initializer_list<int> values) {
    std::string s;
    for (int v : values)
        s.push_back(char(v));
    return s;
}

// Records every transfer as "W addr: bytes" / "R addr: bytes"; a write-read is
// answered from per-address, per-register values (default 0), until a set
// number of reads has gone through.
class RecordingBus : public I2C {
public:
    void write(uint16_t address, std::string data) override {
        log.push_back(QString("W %1: %2").arg(address, 2, 16, QChar('0')).arg(hex(data)));
    }
    std::string read(uint16_t, int32_t) override { throw std::string("no plain reads"); }
    std::string writeRead(uint16_t address, std::string data, int32_t) override {
        log.push_back(QString("R %1: %2").arg(address, 2, 16, QChar('0')).arg(hex(data)));
        if (readsBeforeFailure == 0)
            throw std::string("bus read failed");
        if (readsBeforeFailure > 0)
            --readsBeforeFailure;
        const uint8_t reg = data.empty() ? 0 : uint8_t(data[0]);
        return std::string(1, char(registers[{address, reg}]));
    }

    QStringList log;
    std::map<std::pair<uint16_t, uint8_t>, uint8_t> registers;
    int readsBeforeFailure = -1; // -1: never fail
};

// The text a call throws, or "(nothing thrown)".
inline QString thrown(const std::function<void()> &f) {
    try {
        f();
    } catch (const std::string &text) {
        return QString::fromStdString(text);
    }
    return QStringLiteral("(nothing thrown)");
}

// Injects a named fault: "unplug", "stall", "short" (two-byte answers),
// "empty" (empty answers) or "silent" (the chip stops answering).
inline void injectFault(SimulatedBridge &bridge, const QString &fault) {
    if (fault == "unplug")
        bridge.unplug();
    else if (fault == "stall")
        bridge.stall(true);
    else if (fault == "short")
        bridge.setAnswerLength(2);
    else if (fault == "empty")
        bridge.setAnswerLength(0);
    else if (fault == "silent")
        bridge.setChipSilent(true);
    else
        qFatal("unknown fault %s", qPrintable(fault));
}

// "addr: bytes" for each I2C write the bridge received since the last clear.
inline QStringList busWrites(const SimulatedBridge &bridge) {
    QStringList out;
    for (const SimulatedBridge::BusWrite &w : bridge.writes())
        out << QString("%1: %2").arg(w.address, 2, 16, QChar('0')).arg(hex(w.bytes));
    return out;
}

// The twelve page registers (pages 1 to 3, offsets 0 to 3) in effect on the chip.
inline QByteArray pageRegisters(SimulatedBridge &bridge) {
    QByteArray bytes;
    for (int page = 1; page <= 3; ++page) {
        for (int offset = 0; offset < 4; ++offset)
            bytes += char(bridge.chip().activePageRegister(page, offset));
    }
    return bytes;
}

// A complete settings file for QM4434; the tests of refused files break one
// thing in it.
const QByteArray GOOD_FILE = "chip = QM4434\n"
                             "[VR1]\nenable = on\nvout = 0.9\ndvs = 3.9\nss = 3.9\n"
                             "[VR2]\nenable = off\nvout = 0.75\ndvs = 1.0\nss = 2\n"
                             "[VR3]\nenable = on\nvout = 1.2\ndvs = 15744\nss = 15\n";

inline QByteArray readFile(const QString &path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(unreadable)");
}

inline bool writeFile(const QString &path, const QByteArray &text) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(text) == text.size();
}

// Keeps the tests off any real board on the machine: only the simulated one is
// listed while a test runs.
inline void hermeticHidBus() {
    hid::removePlatformBackend();
}
