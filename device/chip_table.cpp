#include "device/chip_table.h"

#include "device/text.h"

const std::vector<ChipDescriptor> chip_table = {
    {"QM4411", 0x19, 0x11, 1, {10.0, 0.0, 0.0}}, {"QM4422", 0x25, 0x22, 2, {8.0, 2.0, 0.0}},
    {"QM4423", 0x2D, 0x23, 2, {5.0, 5.0, 0.0}},  {"QM4433", 0x0D, 0x33, 3, {6.0, 2.0, 2.0}},
    {"QM4434", 0x11, 0x34, 3, {4.0, 2.0, 4.0}},  {"ERROR", 0x00, 0xFF, 0, {0.0, 0.0, 0.0}},
};

const ChipDescriptor *findChipModel(const std::string &name) {
    for (const ChipDescriptor &row : chip_table) {
        if (row.regulator_count > 0 && row.chip_name == name)
            return &row;
    }
    return nullptr;
}

std::string chipModelNames() {
    std::string names;
    for (const ChipDescriptor &row : chip_table) {
        if (row.regulator_count == 0)
            continue;
        if (!names.empty())
            names += ", ";
        names += row.chip_name;
    }
    return names;
}

std::string chipStoppedAnswering(const ChipDescriptor &chip, uint8_t idRead) {
    return "the chip stopped answering: " + chip.chip_name + " at " + text::hex2(chip.i2c_address) +
           " reads " + text::hex2(idRead) + " (is EN high and PVIN on?)";
}

std::string noSuchRegulator(const ChipDescriptor &chip, int regulator) {
    const int count = chip.regulator_count;
    return chip.chip_name + " has no VR" + std::to_string(regulator) + " (it has " +
           std::to_string(count) + " regulator" + (count == 1 ? ")" : "s)");
}
