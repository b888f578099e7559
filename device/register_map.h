// The chip's register map as this program knows it: addresses and the three
// access lists (the read-write list's order is also the order in which refresh
// and commit walk those registers).
#pragma once

#include <array>
#include <cstdint>

namespace reg {
constexpr uint8_t CORE_STATUS = 0x00;
constexpr uint8_t VIN = 0x01;
constexpr uint8_t TEMPERATURE = 0x02;
constexpr uint8_t UPDATE_TRIGGER = 0x0F;
constexpr uint8_t IDENTITY_FIRST = 0x10; // 0x10 to CHIP_ID identify the chip
constexpr uint8_t CHIP_ID = 0x13;
constexpr uint8_t UPDATE_VALUE = 0x01;

// Page p (1 to 3) occupies p*0x40 to p*0x40+3.
constexpr uint8_t pageBase(int page) {
    return static_cast<uint8_t>(page * 0x40);
}
constexpr uint8_t PAGE_CONTROL = 0; // offsets within a page
constexpr uint8_t PAGE_DAC = 1;
constexpr uint8_t PAGE_SS_CLIM = 2;
constexpr uint8_t PAGE_DVS = 3;
constexpr uint8_t PAGE_SIZE = 4;
// Output-voltage telemetry of page p.
constexpr uint8_t voutRegister(int page) {
    return static_cast<uint8_t>(2 * page + 1);
}
// The cache keeps only the enable bit of the page control registers.
constexpr uint8_t PAGE_CONTROL_CACHED_BITS = 0x08;
constexpr bool isPageControl(uint8_t address) {
    return address == 0x40 || address == 0x80 || address == 0xC0;
}
} // namespace reg

// A count followed by up to 50 addresses, searched linearly.
struct RegisterList {
    int count;
    std::array<uint16_t, 50> addresses;

    bool contains(uint16_t address) const {
        for (int i = 0; i < count; ++i) {
            if (addresses[i] == address)
                return true;
        }
        return false;
    }
};

extern const RegisterList read_only_registers;
extern const RegisterList read_write_registers;
extern const RegisterList write_only_registers;

inline bool isReadable(uint16_t a) {
    return read_only_registers.contains(a) || read_write_registers.contains(a);
}
inline bool isWritable(uint16_t a) {
    return read_write_registers.contains(a) || write_only_registers.contains(a);
}
inline bool isForceable(uint16_t a) {
    return write_only_registers.contains(a);
}
