// What the tool prints with --json: one JSON object per line (the lines below
// come without their line end), written by QJsonDocument. Numbers are JSON
// numbers, rounded as the text output rounds them; keys are listed in
// ctl/README.md.
#pragma once

#include "device/chip_table.h"
#include "device/telemetry_format.h"
#include "link/hid_backend.h"

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace ctl {

// {"address":17,"chip":"QM4434","id":52,"regulators":3}
std::string detectJson(const ChipDescriptor &chip);

// Each indicator of formatStatus under its name in lower case with '_' for
// blanks and dashes ("vin_undervoltage", "vr1_short_circuit"), "OK", "WARN" or
// "FAIL", and "overall": the worst of them.
std::string statusJson(uint8_t coreStatus, const std::vector<uint8_t> &regulatorStatus);

// The CSV's columns as keys: {"temperature_c":28.64,"time":"...","vin_v":1.801,
// "vr1_v":0.8981,...}.
std::string telemetryJson(const TelemetrySample &sample);

// {"registers":{"0x00":0,"0x01":179,...}}: every register read, by address.
std::string dumpJson(const std::map<int, uint8_t> &values);

// {"manufacturer":"...","path":"/dev/hidraw3","product":"...","serial":"..."}
std::string bridgeJson(const hid::DeviceInfo &bridge);

// "vin_undervoltage" for "VIN undervoltage", "over_temperature" for
// "over-temperature".
std::string jsonKey(const std::string &label);

} // namespace ctl
