// The registers the model reads, described for a person: which ones a chip has,
// their names, and the fields of a value decoded with the chip's own scales and
// rate labels. Registers of the pages a chip does not populate are left out.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Every register the model may read on a chip with this many regulators, in
// address order: core status and telemetry, the identity, and the page registers
// and output telemetry of the populated pages only.
std::vector<uint8_t> describedRegisters(int regulatorCount);

// "Core status", "VIN", "VR2 DAC", ...: a page's registers are named after the
// regulator that the page holds on this chip.
std::string registerName(uint8_t address, int regulatorCount);

// The fields of a value as read from the chip ("enable on; status: none",
// "code 118: 0.7505 V", ...); "" for a register the model does not interpret.
std::string registerFields(uint8_t address, uint8_t value, int regulatorCount);

// "0101 0011": the value's bits, most significant first, in two nibbles.
std::string binaryText(uint8_t value);
