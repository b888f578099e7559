// The tool's own strict text-to-number conversions. The regulator's rules
// (pages, target encoding, current limit), decimals, on/off and the shared
// number formatting come from device/ (device/regulator.h, device/text.h).
#pragma once

#include <string>

namespace ctl {

// A byte, i2c-tools style: hexadecimal with 0x or 0X ("0x13") or decimal ("19").
bool parseByte(const std::string &text, int &value);
// A regulator: "1" to "3", "VR1" to "VR3" or "vr1" to "vr3".
bool parseRegulator(const std::string &text, int &regulator);

} // namespace ctl
