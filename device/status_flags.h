// The chip's status bits as the indicators a user sees: VIN under- and
// overvoltage and over-temperature from the core status (bits 0/1, 2/3, 4/5:
// fail/warn), then per regulator overvoltage and undervoltage (warn, bits 0
// and 1 of its page status) and short circuit (fail, bit 2).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

class IvrDevice;

enum class StatusLevel { Ok = 0, Warn = 1, Fail = 2 };

struct StatusFlag {
    std::string name; // "VIN undervoltage", "VR2 short circuit", ...
    StatusLevel level = StatusLevel::Ok;
};

// A failure outranks a warning.
StatusLevel statusLevel(bool fail, bool warn);
// "OK", "WARN" or "FAIL".
const char *statusWord(StatusLevel level);
// regulatorStatus: the page status of VR1, VR2, ... (IvrDevice::read_page_status).
std::vector<StatusFlag> decodeStatus(uint8_t coreStatus,
                                     const std::vector<uint8_t> &regulatorStatus);

// The flags' names for a chip with this many regulators, in decodeStatus' order.
std::vector<std::string> statusFlagNames(int regulatorCount);

// The chip's status registers, read from the bus: the core status and the
// page status of each regulator it has.
struct StatusRegisters {
    uint8_t core = 0;
    std::vector<uint8_t> regulators; // VR1, VR2, ...
    // Every one read with all its bits set, as a chip that no longer answers
    // reads: worth checking whether it still does.
    bool allOnes() const;
};
StatusRegisters readStatusRegisters(IvrDevice &device, int regulatorCount);
