#include "ctl/output.h"

#include "device/status_flags.h"
#include "device/text.h"

#include <algorithm>

namespace ctl {

namespace {
std::string padded(const std::string &label) {
    constexpr size_t WIDTH = 19; // "VR1 short circuit: " and one blank
    return label + std::string(WIDTH - std::min(WIDTH - 1, label.size()), ' ');
}
} // namespace

std::string formatDetect(const ChipDescriptor &chip) {
    return "chip: " + chip.chip_name + "\naddress: " + text::hex2(chip.i2c_address) +
           "\nid: " + text::hex2(chip.chip_id) +
           "\nregulators: " + std::to_string(int(chip.regulator_count)) + "\n";
}

std::string formatStatus(uint8_t core, const std::vector<uint8_t> &regulatorStatus) {
    std::string shown;
    for (const StatusFlag &flag : decodeStatus(core, regulatorStatus))
        shown += padded(flag.name + ":") + statusWord(flag.level) + "\n";
    return shown;
}

std::string formatDump(const std::map<int, uint8_t> &values) {
    static const char digits[] = "0123456789abcdef";
    std::string shown = "   "; // the digits stand over the second digit of each byte, as in i2cdump
    for (int column = 0; column < 16; ++column) {
        shown += "  ";
        shown += digits[column];
    }
    shown += "\n";
    for (int row = 0; row < 256; row += 16) {
        const auto first = values.lower_bound(row);
        if (first == values.end() || first->first >= row + 16)
            continue;
        shown += text::hex2(row).substr(2) + ":";
        for (int address = row; address < row + 16; ++address) {
            const auto it = values.find(address);
            shown +=
                " " + (it == values.end() ? std::string("--") : text::hex2(it->second).substr(2));
        }
        shown += "\n";
    }
    return shown;
}

} // namespace ctl
