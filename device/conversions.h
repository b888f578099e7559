// Scale factors between register codes and physical values.
#pragma once

#include <cstdint>

namespace conv {
// Output target (DAC) and output telemetry share one scale.
constexpr double VOUT_STEP = 0.0041;
constexpr double VOUT_OFFSET = 0.2667;
constexpr double VIN_STEP = 0.00738;
constexpr double VIN_OFFSET = 0.48;
constexpr int TEMP_CODE_OFFSET = 81;
constexpr double TEMP_STEP = 1.56;
constexpr double TEMP_OFFSET = -40.0;

constexpr double voutFromCode(uint8_t code) {
    return code * VOUT_STEP + VOUT_OFFSET;
}
constexpr double vinFromCode(uint8_t code) {
    return code * VIN_STEP + VIN_OFFSET;
}
// The offset is taken off the integer first, so codes below 81 read below -40 C.
constexpr double temperatureFromCode(uint8_t code) {
    return (static_cast<int>(code) - TEMP_CODE_OFFSET) * TEMP_STEP + TEMP_OFFSET;
}
} // namespace conv
