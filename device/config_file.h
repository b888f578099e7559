// The configuration file: the settings of each regulator of one chip model, in a
// small INI-like text that people can read and edit. Reader and writer are pure
// functions over strings.
//
//   chip = QM4434
//
//   [VR1]
//   enable = on
//   vout = 0.7505
//   dvs = 3.9
//   ss = 3.9
//
// Blank lines and lines starting with '#' or ';' are ignored. Every section
// [VR1] .. [VRn] of the chip's regulators must be there, each with the four keys
// exactly once.
#pragma once

#include "device/settings.h"

#include <string>

struct ConfigParseResult {
    ChipSettings config;
    int chipLine = 0;  // line of the "chip" key in the text read
    std::string error; // empty on success; names the line or the key otherwise
    bool ok() const { return error.empty(); }
};

// Files larger than this are refused unread.
constexpr size_t MAX_CONFIG_SIZE = 64 * 1024;

ConfigParseResult parseConfig(const std::string &text);
// writer: the program named in the file's first comment line.
std::string formatConfig(const ChipSettings &config, const std::string &writer = "qm44xx-ctl save");
