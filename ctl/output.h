// What the tool prints, as pure functions of the values read from the chip.
#pragma once

#include "device/chip_table.h"
#include "device/telemetry_format.h"
#include "link/hid_backend.h"

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

// One bridge of "list": "PATH<tab>SERIAL<tab>MANUFACTURER<tab>PRODUCT\n". A
// control character inside a string (a tab, a line end) shows as '?', so that
// the line keeps its four fields.
std::string formatBridge(const hid::DeviceInfo &bridge);

// The worst of the status flags, for status --check: "" when none is FAIL,
// else the failed indicators' names: "VIN undervoltage, VR1 short circuit".
std::string failedFlags(uint8_t coreStatus, const std::vector<uint8_t> &regulatorStatus);

} // namespace ctl
