#include "sim/sim_chip.h"

#include "device/conversions.h"
#include "device/register_map.h"
#include "device/regulator.h"

#include <algorithm>
#include <cmath>

namespace {
constexpr uint8_t ENABLE_BIT = 0x08;
constexpr uint8_t FLAG_OV = 0x01, FLAG_UV = 0x02, FLAG_SC = 0x04;
// Identity bytes at 0x10 to 0x12: vendor "QM" and silicon revision 1.
constexpr uint8_t IDENTITY[3] = {0x51, 0x4D, 0x01};

// Thresholds behind the status bits.
constexpr double VIN_UV_FAIL = 1.60, VIN_UV_WARN = 1.65;
constexpr double VIN_OV_WARN = 1.95, VIN_OV_FAIL = 2.00;
constexpr double TEMP_WARN = 105.0, TEMP_FAIL = 125.0;
constexpr double VOUT_WINDOW = 0.10;     // +-10 % of the target
constexpr double FAULT_DEVIATION = 0.15; // how far an injected fault moves the output

uint8_t clampCode(double code) {
    return static_cast<uint8_t>(std::lround(std::clamp(code, 0.0, 255.0)));
}

int pageOf(uint8_t address) {
    return address >> 6;
}
} // namespace

SimulatedChip::SimulatedChip(const ChipDescriptor &model) : descriptor(model) {
    reset();
}

bool SimulatedChip::pagePopulated(int page) const {
    return regulator::pagePopulated(page, descriptor.regulator_count);
}

void SimulatedChip::reset() {
    written.fill(0);
    for (int page = 1; page <= 3; ++page) {
        if (!pagePopulated(page))
            continue;
        const uint8_t base = reg::pageBase(page);
        written[base + reg::PAGE_DAC] = DEFAULT_DAC_CODE;
        written[base + reg::PAGE_SS_CLIM] = DEFAULT_SS_CLIM;
        written[base + reg::PAGE_DVS] = DEFAULT_DVS;
    }
    active = written;
    pointer = 0;
}

void SimulatedChip::i2cWrite(const uint8_t *data, size_t length) {
    if (length == 0)
        return;
    pointer = data[0];
    for (size_t i = 1; i < length; ++i, ++pointer) {
        const uint8_t value = data[i];
        if (pointer == reg::UPDATE_TRIGGER) {
            if (value == reg::UPDATE_VALUE)
                applyPageWrites();
        } else if (pageOf(pointer) >= 1 && pagePopulated(pageOf(pointer))) {
            // Status flags of the page control byte are the chip's own.
            written[pointer] = (pointer & 0x3F) == 0 ? (value & ENABLE_BIT) : value;
        }
        // Read-only and unknown registers ignore writes.
    }
}

uint8_t SimulatedChip::i2cRead() {
    return peek(pointer++);
}

void SimulatedChip::applyPageWrites() {
    for (int page = 1; page <= 3; ++page) {
        const uint8_t base = reg::pageBase(page);
        std::copy_n(written.begin() + base, 4, active.begin() + base);
    }
}

uint8_t SimulatedChip::activePageRegister(int page, int offset) const {
    return active[reg::pageBase(page) + offset];
}

uint8_t SimulatedChip::peek(uint8_t address) const {
    switch (address) {
    case reg::CORE_STATUS:
        return coreStatus();
    case reg::VIN:
        return withNoise(clampCode((vin - conv::VIN_OFFSET) / conv::VIN_STEP));
    case reg::TEMPERATURE:
        return withNoise(clampCode((dieTemperature() - conv::TEMP_OFFSET) / conv::TEMP_STEP +
                                   conv::TEMP_CODE_OFFSET));
    case 0x03:
    case 0x05:
    case 0x07:
        return voutCode((address - 1) / 2);
    case 0x10:
    case 0x11:
    case 0x12:
        return IDENTITY[address - 0x10];
    case reg::CHIP_ID:
        return descriptor.chip_id;
    default:
        break;
    }
    const int page = pageOf(address);
    if (page == 0 || !pagePopulated(page) || (address & 0x3F) > 3)
        return 0x00;
    if ((address & 0x3F) == 0)
        return uint8_t(active[address] | pageStatus(page));
    // What is in effect: a write the trigger has not applied yet is not read back.
    return active[address];
}

double SimulatedChip::dieTemperature() const {
    int enabled = 0;
    for (int page = 1; page <= 3; ++page)
        enabled += pagePopulated(page) && (active[reg::pageBase(page)] & ENABLE_BIT);
    return ambient + RISE_PER_OUTPUT * enabled;
}

void SimulatedChip::setPageFault(int page, bool overvoltage, bool undervoltage, bool shortCircuit) {
    if (page >= 1 && page <= 3)
        faults[page] = {overvoltage, undervoltage, shortCircuit};
}

void SimulatedChip::setNoise(bool on, uint32_t seed) {
    noise = on;
    noiseState = seed ? seed : 1;
}

uint8_t SimulatedChip::withNoise(uint8_t code) const {
    if (!noise)
        return code;
    noiseState = noiseState * 1664525u + 1013904223u;
    const int step = int(noiseState >> 30) % 3 - 1; // -1, 0 or +1
    return uint8_t(std::clamp(int(code) + step, 0, 255));
}

double SimulatedChip::measuredVout(int page) const {
    const uint8_t base = reg::pageBase(page);
    if (!pagePopulated(page) || !(active[base] & ENABLE_BIT) || faults[page].shortCircuit)
        return 0.0;
    double volts = conv::voutFromCode(active[base + reg::PAGE_DAC]);
    if (faults[page].overvoltage)
        volts *= 1.0 + FAULT_DEVIATION;
    if (faults[page].undervoltage)
        volts *= 1.0 - FAULT_DEVIATION;
    return volts;
}

uint8_t SimulatedChip::voutCode(int page) const {
    const double volts = measuredVout(page);
    if (volts <= 0.0)
        return 0;
    return withNoise(clampCode((volts - conv::VOUT_OFFSET) / conv::VOUT_STEP));
}

uint8_t SimulatedChip::pageStatus(int page) const {
    const uint8_t base = reg::pageBase(page);
    if (!(active[base] & ENABLE_BIT))
        return 0;
    const double target = conv::voutFromCode(active[base + reg::PAGE_DAC]);
    const double measured = measuredVout(page);
    uint8_t flags = 0;
    if (measured > target * (1.0 + VOUT_WINDOW))
        flags |= FLAG_OV;
    if (measured < target * (1.0 - VOUT_WINDOW))
        flags |= FLAG_UV;
    if (faults[page].shortCircuit)
        flags |= FLAG_SC;
    return flags;
}

uint8_t SimulatedChip::coreStatus() const {
    const double t = dieTemperature();
    uint8_t bits = 0;
    bits |= (vin < VIN_UV_FAIL) << 0;
    bits |= (vin < VIN_UV_WARN) << 1;
    bits |= (vin > VIN_OV_FAIL) << 2;
    bits |= (vin > VIN_OV_WARN) << 3;
    bits |= (t > TEMP_FAIL) << 4;
    bits |= (t > TEMP_WARN) << 5;
    return bits;
}
