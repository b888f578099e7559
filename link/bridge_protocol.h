// The bridge's HID report protocol: 65-byte output reports (report ID 0, command,
// count of following bytes, parameters, zero padding) and, after a write-read,
// one 65-byte input report whose byte 3 is the byte read from the chip.
#pragma once

#include <cstdint>

namespace bridge {
constexpr uint16_t VENDOR_ID = 0x04D8;  // BRIDGE_VID
constexpr uint16_t PRODUCT_ID = 0xF02A; // BRIDGE_PID

constexpr int REPORT_SIZE = 65;
constexpr uint8_t CMD_I2C_WRITE = 0xF1;
constexpr uint8_t CMD_I2C_WRITE_READ = 0xF3;
constexpr uint8_t CMD_SET_EN = 0x30;
constexpr uint8_t CMD_SET_PVIN = 0x20;

// Room for data after report ID, command, count and address byte(s).
constexpr int MAX_WRITE_PAYLOAD = REPORT_SIZE - 4;      // 61
constexpr int MAX_WRITE_READ_PAYLOAD = REPORT_SIZE - 6; // 59
// Byte of the answer (in the 65-byte layout) that holds the chip's byte.
constexpr int ANSWER_DATA_INDEX = 3;

constexpr uint8_t writeAddress(uint16_t address) {
    return uint8_t((address << 1) & 0xFE);
}
constexpr uint8_t readAddress(uint16_t address) {
    return uint8_t(writeAddress(address) | 0x01);
}
} // namespace bridge
