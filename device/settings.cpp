#include "device/settings.h"

#include "device/ivr_device.h"
#include "device/register_map.h"
#include "device/regulator.h"
#include "device/text.h"

void setSoftStart(IvrDevice &device, int page, int ssCode) {
    device.set_ss_code(page, ssCode);
    device.set_clim_code(page, regulator::climCodeForSoftStart(ssCode));
}

ChipSettings settingsFromCache(IvrDevice &device) {
    ChipSettings settings;
    settings.chip = device.chip_name;
    for (int page : regulator::populatedPages(device.regulator_count)) {
        RegulatorSettings vr;
        vr.enable = device.get_enable(page);
        vr.dacCode = device.get_dac_code(page);
        vr.dvsCode = device.get_dvs_code(page);
        vr.ssCode = device.get_ss_code(page);
        settings.regulators.push_back(vr);
    }
    return settings;
}

std::string unsavableReason(const ChipSettings &settings) {
    for (size_t i = 0; i < settings.regulators.size(); ++i) {
        const int code = settings.regulators[i].dacCode;
        if (code < regulator::DAC_CODE_MIN || code > regulator::DAC_CODE_MAX)
            return "the target of VR" + std::to_string(i + 1) + " (DAC code " +
                   std::to_string(code) + ", " + text::fixed(regulator::voltsFromDacCode(code), 4) +
                   " V) is outside 0.5 to 1.202 V and cannot be saved";
    }
    return std::string();
}

std::string mismatchReason(const ChipSettings &settings, const IvrDevice &device) {
    if (settings.chip != device.chip_name)
        return "the file is for " + settings.chip + ", the chip is " + device.chip_name;
    if (int(settings.regulators.size()) != device.regulator_count)
        return "the settings hold " + std::to_string(settings.regulators.size()) + " regulators, " +
               device.chip_name + " has " + std::to_string(device.regulator_count);
    return std::string();
}

std::vector<uint8_t> applySettings(IvrDevice &device, const ChipSettings &settings) {
    std::vector<uint8_t> touched;
    for (size_t i = 0; i < settings.regulators.size(); ++i) {
        const RegulatorSettings &vr = settings.regulators[i];
        const int page = regulator::pageOf(int(i) + 1, device.regulator_count);
        if (page == 0)
            break;
        device.set_enable(page, vr.enable ? 1 : 0);
        device.set_dac_code(page, vr.dacCode);
        device.set_dvs_code(page, vr.dvsCode);
        setSoftStart(device, page, vr.ssCode);
        for (uint8_t offset = 0; offset < 4; ++offset)
            touched.push_back(uint8_t(reg::pageBase(page) + offset));
    }
    return touched;
}
