// What the tool prints, as pure functions of the values read from the chip.
#pragma once

#include "device/chip_table.h"

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace ctl {

// "chip: QM4434\naddress: 0x11\nid: 0x34\nregulators: 3\n"
std::string formatDetect(const ChipDescriptor &chip);

// "OK", "WARN" or "FAIL": a failure outranks a warning.
const char *statusWord(bool fail, bool warn);
// One line per indicator: the chip's VIN under- and overvoltage and
// over-temperature (core status bits 0..5, fail/warn pairs), then for each
// regulator VR1.. (its page's status byte) overvoltage and undervoltage (WARN)
// and short circuit (FAIL).
std::string formatStatus(uint8_t coreStatus, const std::vector<uint8_t> &regulatorStatus);

// One sample of telemetry: VIN in volts, die temperature in degrees Celsius and
// the output voltage of VR1.. in volts.
struct TelemetrySample {
    std::string time; // ISO 8601
    double vin = 0;
    double temperature = 0;
    std::vector<double> vout;
};
// Output voltages below this are shown as 0, as on the window's displays.
constexpr double VOUT_SHOWN_AS_ZERO = 0.3;
std::string telemetryCsvHeader(int regulators);
std::string telemetryCsvRow(const TelemetrySample &sample);
std::string telemetryLine(const TelemetrySample &sample);

// An i2cdump-like table: a header of column digits, then one row per block of
// 16 addresses that holds a value; "--" where the map has none.
std::string formatDump(const std::map<int, uint8_t> &values);

} // namespace ctl
