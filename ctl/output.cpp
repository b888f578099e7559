#include "ctl/output.h"

#include "ctl/encoding.h"

#include <algorithm>

namespace ctl {

namespace {
std::string voutText(double volts) {
    return fixed(volts < VOUT_SHOWN_AS_ZERO ? 0.0 : volts, 4);
}

std::string padded(const std::string &label) {
    constexpr size_t WIDTH = 19; // "VR1 short circuit: " and one blank
    return label + std::string(WIDTH - std::min(WIDTH - 1, label.size()), ' ');
}
} // namespace

std::string formatDetect(const ChipDescriptor &chip) {
    return "chip: " + chip.chip_name + "\naddress: " + hex2(chip.i2c_address) +
           "\nid: " + hex2(chip.chip_id) +
           "\nregulators: " + std::to_string(int(chip.regulator_count)) + "\n";
}

const char *statusWord(bool fail, bool warn) {
    return fail ? "FAIL" : warn ? "WARN" : "OK";
}

std::string formatStatus(uint8_t core, const std::vector<uint8_t> &regulatorStatus) {
    auto bit = [](uint8_t byte, int n) { return ((byte >> n) & 1) != 0; };
    std::string text;
    text += padded("VIN undervoltage:") + statusWord(bit(core, 0), bit(core, 1)) + "\n";
    text += padded("VIN overvoltage:") + statusWord(bit(core, 2), bit(core, 3)) + "\n";
    text += padded("over-temperature:") + statusWord(bit(core, 4), bit(core, 5)) + "\n";
    for (size_t i = 0; i < regulatorStatus.size(); ++i) {
        const uint8_t s = regulatorStatus[i];
        const std::string vr = "VR" + std::to_string(i + 1);
        text += padded(vr + " overvoltage:") + statusWord(false, bit(s, 0)) + "\n";
        text += padded(vr + " undervoltage:") + statusWord(false, bit(s, 1)) + "\n";
        text += padded(vr + " short circuit:") + statusWord(bit(s, 2), false) + "\n";
    }
    return text;
}

std::string telemetryCsvHeader(int regulators) {
    std::string text = "time,vin_v,temperature_c";
    for (int vr = 1; vr <= regulators; ++vr)
        text += ",vr" + std::to_string(vr) + "_v";
    return text;
}

std::string telemetryCsvRow(const TelemetrySample &sample) {
    std::string text =
        sample.time + "," + fixed(sample.vin, 3) + "," + fixed(sample.temperature, 2);
    for (double volts : sample.vout)
        text += "," + voutText(volts);
    return text;
}

std::string telemetryLine(const TelemetrySample &sample) {
    std::string text =
        "VIN " + fixed(sample.vin, 3) + " V  temperature " + fixed(sample.temperature, 2) + " C";
    for (size_t i = 0; i < sample.vout.size(); ++i)
        text += "  VR" + std::to_string(i + 1) + " " + voutText(sample.vout[i]) + " V";
    return text;
}

std::string formatDump(const std::map<int, uint8_t> &values) {
    static const char digits[] = "0123456789abcdef";
    std::string text = "   "; // the digits stand over the second digit of each byte, as in i2cdump
    for (int column = 0; column < 16; ++column) {
        text += "  ";
        text += digits[column];
    }
    text += "\n";
    for (int row = 0; row < 256; row += 16) {
        const auto first = values.lower_bound(row);
        if (first == values.end() || first->first >= row + 16)
            continue;
        text += hex2(row).substr(2) + ":";
        for (int address = row; address < row + 16; ++address) {
            const auto it = values.find(address);
            text += " " + (it == values.end() ? std::string("--") : hex2(it->second).substr(2));
        }
        text += "\n";
    }
    return text;
}

} // namespace ctl
