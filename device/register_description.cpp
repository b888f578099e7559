#include "device/register_description.h"

#include "device/chip_table.h"
#include "device/conversions.h"
#include "device/rate_labels.h"
#include "device/register_map.h"
#include "device/regulator.h"
#include "device/status_flags.h"
#include "device/text.h"

namespace {

// The page (1 to 3) whose output telemetry or page registers hold this
// address, or 0.
int pageOfAddress(uint8_t address) {
    for (int page = 1; page <= 3; ++page) {
        if (address == reg::voutRegister(page) ||
            (address >= reg::pageBase(page) && address < reg::pageBase(page) + reg::PAGE_SIZE))
            return page;
    }
    return 0;
}

// The regulator (1 to 3) a page holds on this chip, or 0.
int regulatorOfPage(int page, int regulatorCount) {
    const std::vector<int> pages = regulator::populatedPages(regulatorCount);
    for (size_t i = 0; i < pages.size(); ++i) {
        if (pages[i] == page)
            return int(i) + 1;
    }
    return 0;
}

std::string rate(const RateLabels &labels, int code) {
    return labels[size_t(code & 0x0F)] + " mV/us (code " + std::to_string(code & 0x0F) + ")";
}

std::string pageStatus(uint8_t value) {
    std::string flags;
    const char *names[] = {"overvoltage", "undervoltage", "short circuit"};
    for (int bit = 0; bit < 3; ++bit) {
        if (value & (1 << bit))
            flags += std::string(flags.empty() ? "" : ", ") + names[bit];
    }
    return flags.empty() ? "none" : flags;
}

} // namespace

std::vector<uint8_t> describedRegisters(int regulatorCount) {
    std::vector<uint8_t> addresses;
    for (int address = 0; address < 256; ++address) {
        if (!isReadable(uint16_t(address)))
            continue;
        const int page = pageOfAddress(uint8_t(address));
        if (page == 0 || regulator::pagePopulated(page, regulatorCount))
            addresses.push_back(uint8_t(address));
    }
    return addresses;
}

std::string registerName(uint8_t address, int regulatorCount) {
    switch (address) {
    case reg::CORE_STATUS:
        return "Core status";
    case reg::VIN:
        return "VIN";
    case reg::TEMPERATURE:
        return "Die temperature";
    case reg::UPDATE_TRIGGER:
        return "Update trigger";
    case reg::CHIP_ID:
        return "Chip ID";
    default:
        break;
    }
    if (address >= reg::IDENTITY_FIRST && address < reg::CHIP_ID)
        return "Identity " + std::to_string(address - reg::IDENTITY_FIRST);
    const int page = pageOfAddress(address);
    const int vr = regulatorOfPage(page, regulatorCount);
    if (vr == 0)
        return "Not interpreted";
    const std::string name = "VR" + std::to_string(vr);
    if (address == reg::voutRegister(page))
        return name + " output";
    switch (address - reg::pageBase(page)) {
    case reg::PAGE_CONTROL:
        return name + " control";
    case reg::PAGE_DAC:
        return name + " DAC";
    case reg::PAGE_SS_CLIM:
        return name + " soft-start / current limit";
    default:
        return name + " DVS";
    }
}

std::string registerFields(uint8_t address, uint8_t value, int regulatorCount) {
    switch (address) {
    case reg::CORE_STATUS: {
        std::string fields;
        for (const StatusFlag &flag : decodeStatus(value, {}))
            fields += (fields.empty() ? "" : "; ") + flag.name + " " + statusWord(flag.level);
        return fields;
    }
    case reg::VIN:
        return text::fixed(conv::vinFromCode(value), 3) + " V";
    case reg::TEMPERATURE:
        return text::fixed(conv::temperatureFromCode(value), 2) + " \xC2\xB0"
                                                                  "C";
    case reg::CHIP_ID:
        for (const ChipDescriptor &row : chip_table) {
            if (row.regulator_count > 0 && row.chip_id == value)
                return row.chip_name;
        }
        return "unknown model";
    default:
        break;
    }
    const int page = pageOfAddress(address);
    if (regulatorOfPage(page, regulatorCount) == 0)
        return std::string();
    if (address == reg::voutRegister(page))
        return text::fixed(regulator::shownVout(conv::voutFromCode(value)), 4) + " V";
    switch (address - reg::pageBase(page)) {
    case reg::PAGE_CONTROL:
        return std::string("enable ") + ((value & reg::PAGE_CONTROL_CACHED_BITS) ? "on" : "off") +
               "; status: " + pageStatus(value);
    case reg::PAGE_DAC:
        return "code " + std::to_string(value) + ": " +
               text::fixed(regulator::voltsFromDacCode(value), 4) + " V";
    case reg::PAGE_SS_CLIM:
        return "soft-start " + rate(ss_rate_labels, value & 0x0F) + "; current limit code " +
               std::to_string(value >> 4);
    default:
        return "DVS " + rate(dvs_rate_labels, value & 0x0F);
    }
}

std::string binaryText(uint8_t value) {
    std::string bits;
    for (int bit = 7; bit >= 0; --bit) {
        bits += (value >> bit) & 1 ? '1' : '0';
        if (bit == 4)
            bits += ' ';
    }
    return bits;
}
