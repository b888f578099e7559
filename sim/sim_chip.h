// A simulated QM44xxC regulator: its register file, page writes that take
// effect (and read back) at the update trigger, and telemetry and status
// derived from its state.
// Deterministic unless noise is asked for.
#pragma once

#include "device/chip_table.h"

#include <array>
#include <cstddef>
#include <cstdint>

class SimulatedChip {
public:
    explicit SimulatedChip(const ChipDescriptor &model);

    const ChipDescriptor &model() const { return descriptor; }
    uint8_t address() const { return descriptor.i2c_address; }

    // The I2C side: a write sets the register pointer from its first byte and
    // stores the rest at consecutive addresses; a read returns the register at
    // the pointer and advances it.
    void i2cWrite(const uint8_t *data, size_t length);
    uint8_t i2cRead();

    // Power-on reset: every register back to its default.
    void reset();

    // What a register reads right now (no pointer change). Page registers read
    // back what is in effect, not a write still waiting for the trigger.
    uint8_t peek(uint8_t address) const;
    // The page register in effect since the last update trigger (offset 0 to 3).
    uint8_t activePageRegister(int page, int offset) const;
    bool pagePopulated(int page) const;

    // Operating conditions and faults.
    void setInputVoltage(double volts) { vin = volts; }
    double inputVoltage() const { return vin; }
    void setAmbient(double celsius) { ambient = celsius; }
    double dieTemperature() const;
    void setPageFault(int page, bool overvoltage, bool undervoltage, bool shortCircuit);
    // +-1 code of noise on every telemetry reading, from a seeded generator.
    void setNoise(bool on, uint32_t seed = 1);

    static constexpr uint8_t DEFAULT_DAC_CODE = 118; // 0.7505 V
    static constexpr uint8_t DEFAULT_SS_CLIM = 0x13; // clim 1, soft-start 3.9 mV/us
    static constexpr uint8_t DEFAULT_DVS = 0x03;     // 3.9 mV/us
    static constexpr double NOMINAL_VIN = 1.8;
    static constexpr double NOMINAL_AMBIENT = 25.0;
    static constexpr double RISE_PER_OUTPUT = 3.0; // C per enabled output

private:
    struct PageFault {
        bool overvoltage = false;
        bool undervoltage = false;
        bool shortCircuit = false;
    };

    double measuredVout(int page) const;
    uint8_t voutCode(int page) const;
    uint8_t pageStatus(int page) const;
    uint8_t coreStatus() const;
    uint8_t withNoise(uint8_t code) const;
    void applyPageWrites();

    ChipDescriptor descriptor;
    std::array<uint8_t, 256> written{}; // what the host wrote
    std::array<uint8_t, 256> active{};  // page registers in effect
    std::array<PageFault, 4> faults{};
    uint8_t pointer = 0;
    double vin = NOMINAL_VIN;
    double ambient = NOMINAL_AMBIENT;
    bool noise = false;
    mutable uint32_t noiseState = 1;
};
