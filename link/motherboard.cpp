#include "link/motherboard.h"

#include "device/ivr_device.h"
#include "link/pic.h"

QString hexByte(uint8_t value) {
    QString text;
    text.setNum(value, 16);
    while (text.size() < 2)
        text.prepend(QLatin1Char('0'));
    return text;
}

MotherBoard::MotherBoard(QObject *parent, const std::string &devicePath)
    : QObject(parent), device(nullptr), pic(nullptr) {
    pic = new PIC(this, false, devicePath);
    device = new IvrDevice(this, 0x11, 3);
}

MotherBoard::~MotherBoard() {
    delete device;
}

void MotherBoard::logBytes(const char *head, uint16_t address, const std::string &bytes) {
    QString line = QString::fromLatin1(head).arg(hexByte(uint8_t(address)), 0, QLatin1Char(' '));
    for (unsigned char byte : bytes)
        line += QStringLiteral("0x%1 ").arg(hexByte(byte));
    line += QLatin1Char(']');
    Q_EMIT logMessage(line);
}

void MotherBoard::write(uint16_t address, std::string data) {
    logBytes("I2C Write, Addr 0x%1 => [ ", address, data);
    pic->write(address, data);
    Q_EMIT written(address, QByteArray(data.data(), int(data.size())));
}

std::string MotherBoard::read(uint16_t address, int32_t count) {
    const std::string bytes = pic->read(address, count);
    logBytes("I2C Read, Addr 0x%1 => [ ", address, bytes);
    return bytes;
}

std::string MotherBoard::writeRead(uint16_t address, std::string data, int32_t count) {
    logBytes("I2C Write, Addr 0x%1 => [ ", address, data);
    const std::string bytes = pic->writeRead(address, data, count);
    logBytes("I2C Read,  Addr 0x%1 <= [ ", address, bytes);
    return bytes;
}

ChipDescriptor MotherBoard::setEN(bool high) {
    ChipDescriptor result;
    pic->writeEN(high ? 1 : 0);
    enLevel = high;
    if (!high) {
        Q_EMIT logMessage(QStringLiteral("Setting EN low"));
        return result;
    }
    Q_EMIT logMessage(QStringLiteral("Setting EN high"));
    clock.sleep(POWER_UP_DELAY_MS);
    result = device->identify_chip();
    // No chip answered: its settings would be read from the fallback row's
    // address 0x00, the general call, which reaches every device on the bus.
    if (result.regulator_count > 0)
        device->refresh();
    return result;
}

ChipDescriptor MotherBoard::powerOnKnownChip() {
    pic->writeEN(1);
    enLevel = true;
    Q_EMIT logMessage(QStringLiteral("Setting EN high"));
    clock.sleep(POWER_UP_DELAY_MS);
    const ChipDescriptor result = device->identify_known_chip();
    if (result.regulator_count > 0)
        device->refresh();
    return result;
}

void MotherBoard::setPVIN(bool on) {
    pic->writePVIN(on ? 1 : 0);
    Q_EMIT logMessage(on ? QStringLiteral("PVIN ON") : QStringLiteral("PVIN OFF"));
}

bool MotherBoard::getEN() const {
    return enLevel;
}

void MotherBoard::setClock(const Clock &newClock) {
    clock = newClock;
}
