// The known regulator models, probed in row order to identify the chip.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

struct ChipDescriptor {
    std::string chip_name;
    uint8_t i2c_address = 0;
    uint8_t chip_id = 0;
    uint8_t regulator_count = 0;
    // Upper DC-load bound of VR1, VR2, VR3 (by regulator, not by page).
    std::array<double, 3> dcload_max = {0.0, 0.0, 0.0};
};

// Rows in probe order. The last row ("ERROR", address 0x00, ID 0xFF, no
// regulators) is the fallback that matches a bus where nothing answers.
extern const std::vector<ChipDescriptor> chip_table;

// The row of a named model (one of the five real ones), or nullptr.
const ChipDescriptor *findChipModel(const std::string &name);
// "QM4411, QM4422, ..." for messages.
std::string chipModelNames();

// The identified chip read idRead from its ID register: a bus where nothing
// answers any more ("the chip stopped answering: QM4434 at 0x11 reads 0xff
// (is EN high and PVIN on?)").
std::string chipStoppedAnswering(const ChipDescriptor &chip, uint8_t idRead);
// "QM4422 has no VR3 (it has 2 regulators)".
std::string noSuchRegulator(const ChipDescriptor &chip, int regulator);
