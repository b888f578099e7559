// What the tool prints, as pure functions of the values read from the chip.
#pragma once

#include "device/chip_table.h"
#include "device/telemetry_format.h"

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace ctl {

// "chip: QM4434\naddress: 0x11\nid: 0x34\nregulators: 3\n"
std::string formatDetect(const ChipDescriptor &chip);

// One line per indicator: the chip's VIN under- and overvoltage and
// over-temperature (core status bits 0..5, fail/warn pairs), then for each
// regulator VR1.. (its page's status byte) overvoltage and undervoltage (WARN)
// and short circuit (FAIL).
std::string formatStatus(uint8_t coreStatus, const std::vector<uint8_t> &regulatorStatus);

// An i2cdump-like table: a header of column digits, then one row per block of
// 16 addresses that holds a value; "--" where the map has none.
std::string formatDump(const std::map<int, uint8_t> &values);

} // namespace ctl
