// The evaluation board as a whole: owns the USB transport and the regulator's
// device model, logs every transfer as one readable line, and drives the EN and
// PVIN board lines.
#pragma once

#include "device/chip_table.h"
#include "device/i2c.h"
#include "link/clock.h"

#include <QByteArray>
#include <QObject>
#include <QString>

class IvrDevice;
class PIC;

// A byte as exactly two lowercase hexadecimal digits.
QString hexByte(uint8_t value);

class MotherBoard : public QObject, public I2C {
    Q_OBJECT
public:
    // Opens the bridge (the first one, or the one at devicePath, as PIC does);
    // throws the transport's text when it cannot.
    explicit MotherBoard(QObject *parent = nullptr, const std::string &devicePath = std::string());
    ~MotherBoard() override;

    void write(uint16_t address, std::string data) override;
    std::string read(uint16_t address, int32_t count) override;
    std::string writeRead(uint16_t address, std::string data, int32_t count) override;

    // High: sends EN, waits for the regulator to power up, identifies the chip and
    // refreshes the register cache; returns the chip's descriptor. Low: sends EN
    // and returns a descriptor with an empty name.
    ChipDescriptor setEN(bool high);
    // As setEN(true), but probes the known models only: nothing is sent to the
    // I2C general call address 0x00 (the chip table's fallback row).
    ChipDescriptor powerOnKnownChip();
    void setPVIN(bool on);
    bool getEN() const;

    // The clock whose sleep makes the power-up wait (the system's by default).
    void setClock(const Clock &clock);

    // The wait after raising EN before the chip is addressed.
    static constexpr int POWER_UP_DELAY_MS = 250;

    IvrDevice *device;
    PIC *pic;

Q_SIGNALS:
    void logMessage(QString msg);
    // A write the bridge has taken (a commit ends with its update trigger).
    void written(quint16 address, const QByteArray &data);

private:
    void logBytes(const char *head, uint16_t address, const std::string &bytes);

    bool enLevel = false;
    Clock clock = systemClock();
};
