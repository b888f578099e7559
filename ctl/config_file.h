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

#include <string>
#include <vector>

namespace ctl {

struct RegulatorSettings {
    bool enable = false;
    int dacCode = 0; // 57..228
    int dvsCode = 0; // 0..15
    int ssCode = 0;  // 0..15
};

struct ChipConfig {
    std::string chip;                          // one of the chip table's models
    int chipLine = 0;                          // line of the "chip" key in the text read
    std::vector<RegulatorSettings> regulators; // VR1, VR2, ... as many as the model has
};

struct ConfigParseResult {
    ChipConfig config;
    std::string error; // empty on success; names the line or the key otherwise
    bool ok() const { return error.empty(); }
};

// Files larger than this are refused unread.
constexpr size_t MAX_CONFIG_SIZE = 64 * 1024;

ConfigParseResult parseConfig(const std::string &text);
std::string formatConfig(const ChipConfig &config);

} // namespace ctl
