// A bit field inside one 8-bit register: low byte the register address, high
// byte the mask.
#pragma once

#include <cstdint>

struct RegisterField {
    uint16_t value = 0;

    constexpr RegisterField() = default;
    constexpr RegisterField(uint8_t address, uint8_t mask)
        : value(static_cast<uint16_t>(address | (mask << 8))) {}

    constexpr uint8_t address() const { return static_cast<uint8_t>(value & 0xFF); }
    constexpr uint8_t mask() const { return static_cast<uint8_t>(value >> 8); }
    // Index of the lowest set bit of the mask (bits 0 to 7 tested in turn); 0
    // for an empty mask.
    constexpr int shift() const {
        for (int bit = 0; bit < 8; ++bit) {
            if (mask() & (1u << bit))
                return bit;
        }
        return 0;
    }
};
