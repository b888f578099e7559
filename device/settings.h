// A chip's settings as a value: per regulator its enable bit, DAC code, DVS and
// soft-start codes. Read from an IvrDevice's cache and applied to it, so the
// tool, the panel and the server save and restore the same things the same way.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

class IvrDevice;

struct RegulatorSettings {
    bool enable = false;
    int dacCode = 0; // 57..228
    int dvsCode = 0; // 0..15
    int ssCode = 0;  // 0..15

    bool operator==(const RegulatorSettings &other) const {
        return enable == other.enable && dacCode == other.dacCode && dvsCode == other.dvsCode &&
               ssCode == other.ssCode;
    }
    bool operator!=(const RegulatorSettings &other) const { return !(*this == other); }
};

struct ChipSettings {
    std::string chip;                          // one of the chip table's models
    std::vector<RegulatorSettings> regulators; // VR1, VR2, ... as many as the model has
};

// The identified chip's settings as its register cache holds them (no bus
// traffic; refresh first for the chip's own values).
ChipSettings settingsFromCache(IvrDevice &device);

// Why these settings cannot be written to a file ("" when they can): a target
// outside 0.5 V .. 1.202 V, e.g. a chip fresh from reset.
std::string unsavableReason(const ChipSettings &settings);

// Why these settings do not fit the identified chip ("" when they do): another
// model or another number of regulators.
std::string mismatchReason(const ChipSettings &settings, const IvrDevice &device);

// Puts a soft-start code into the cache with the current limit that goes with
// it; both reach the chip at the next commit.
void setSoftStart(IvrDevice &device, int page, int ssCode);

// Puts the settings into the cache (enable, DAC, DVS and soft-start codes, and
// the current limit that goes with the soft-start rate); they reach the chip
// together at the next commit. Returns the registers of the regulators' pages.
// The caller checks mismatchReason() first.
std::vector<uint8_t> applySettings(IvrDevice &device, const ChipSettings &settings);
