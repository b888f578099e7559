// The bus seen by the regulator's device model: a dependency-free interface so
// that the model can run over the USB bridge, the logging board object or a test
// double alike.
#pragma once

#include <cstdint>
#include <string>

// Payloads in both directions are byte strings: std::string used as a plain
// container of raw 8-bit bytes (any value, including 0). Device addresses hold a
// 7-bit I2C address. Failures are thrown as std::string messages.
class I2C {
public:
    virtual ~I2C() = default;

    virtual void write(uint16_t address, std::string data) = 0;
    virtual std::string read(uint16_t address, int32_t count) = 0;
    virtual std::string writeRead(uint16_t address, std::string data, int32_t count) = 0;
};
