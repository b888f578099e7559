// The USB HID transport to the bridge board: each I2C transfer becomes one
// 65-byte output report, plus one 65-byte input report when something is read.
// It also sends the EN-pin and PVIN-switch reports.
#pragma once

#include "device/i2c.h"
#include "link/hid_discovery.h"

#include <QObject>
#include <memory>
#include <vector>

class BoardLock;

// Every bridge connected (vendor 0x04D8, product 0xF02A), in the order the
// transport looks for one, with its path and USB strings; empty when none is.
std::vector<hid::DeviceInfo> listBridges();

class PIC : public QObject, public I2C {
    Q_OBJECT
public:
    // Finds and opens the bridge (twice: write-only and read-only): the first one
    // listed, or the one at devicePath (a hidraw node such as /dev/hidraw3, or a
    // simulated board's path). A hidraw node is locked against other programs
    // until the transport is destroyed. Throws "Motherboard not found",
    // "Motherboard not found: PATH", "Not a motherboard: PATH (...)", "board PATH is
    // in use by ..." or "Error opening motherboard USB connection: <errno>".
    explicit PIC(QObject *parent, bool trace, const std::string &devicePath = std::string());
    ~PIC() override;

    void write(uint16_t address, std::string data) override;
    std::string read(uint16_t address, int32_t count) override;
    std::string writeRead(uint16_t address, std::string data, int32_t count) override;

    void writeEN(uint8_t value);
    void writePVIN(uint8_t value);

    // Reports the bridge has taken whole since the transport was opened.
    long reportsSent() const { return sentReports; }

    // How long a write-read waits for the bridge's answer.
    static constexpr int READ_TIMEOUT_MS = 1000;

    // How many waiting input reports a write-read discards at most before it
    // sends its question (a bound, so that a flooding device cannot hold it).
    static constexpr int MAX_STALE_ANSWERS = 64;

private:
    void sendReport(const unsigned char *report);
    void discardStaleAnswers();

    std::unique_ptr<BoardLock> lock; // taken before the handles are opened
    HidInterfaceRecord writeHandleRecord;
    HidInterfaceRecord readHandleRecord;
    bool trace;
    long sentReports = 0;
};
