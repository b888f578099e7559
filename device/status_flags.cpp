#include "device/status_flags.h"

#include "device/ivr_device.h"
#include "device/regulator.h"

#include <algorithm>

namespace {
bool bit(uint8_t byte, int n) {
    return ((byte >> n) & 1) != 0;
}
} // namespace

StatusLevel statusLevel(bool fail, bool warn) {
    return fail ? StatusLevel::Fail : warn ? StatusLevel::Warn : StatusLevel::Ok;
}

const char *statusWord(StatusLevel level) {
    switch (level) {
    case StatusLevel::Fail:
        return "FAIL";
    case StatusLevel::Warn:
        return "WARN";
    default:
        return "OK";
    }
}

std::vector<StatusFlag> decodeStatus(uint8_t core, const std::vector<uint8_t> &regulatorStatus) {
    std::vector<StatusFlag> flags = {
        {"VIN undervoltage", statusLevel(bit(core, 0), bit(core, 1))},
        {"VIN overvoltage", statusLevel(bit(core, 2), bit(core, 3))},
        {"over-temperature", statusLevel(bit(core, 4), bit(core, 5))},
    };
    for (size_t i = 0; i < regulatorStatus.size(); ++i) {
        const uint8_t s = regulatorStatus[i];
        const std::string vr = "VR" + std::to_string(i + 1);
        flags.push_back({vr + " overvoltage", statusLevel(false, bit(s, 0))});
        flags.push_back({vr + " undervoltage", statusLevel(false, bit(s, 1))});
        flags.push_back({vr + " short circuit", statusLevel(bit(s, 2), false)});
    }
    return flags;
}

std::vector<std::string> statusFlagNames(int regulatorCount) {
    std::vector<std::string> names;
    for (const StatusFlag &flag :
         decodeStatus(0, std::vector<uint8_t>(size_t(std::max(regulatorCount, 0)))))
        names.push_back(flag.name);
    return names;
}

bool StatusRegisters::allOnes() const {
    bool all = (core & 0x3F) == 0x3F;
    for (uint8_t status : regulators)
        all = all && status == 0xFF;
    return all;
}

StatusRegisters readStatusRegisters(IvrDevice &device, int regulatorCount) {
    StatusRegisters read;
    read.core = device.read_core_status();
    for (int page : regulator::populatedPages(regulatorCount))
        read.regulators.push_back(device.read_page_status(page));
    return read;
}
