// The regulator chip's model: a register cache with dirty flags, access rules,
// per-page field encodings, telemetry and status decoding, and identification.
// Only this class forms I2C transfers addressed to the chip. Failures are thrown
// as std::string messages; transfers run synchronously on the caller's thread.
#pragma once

#include "device/chip_table.h"
#include "device/i2c.h"
#include "device/register_field.h"

#include <cstdint>
#include <map>
#include <string>

class IvrDevice {
public:
    IvrDevice(I2C *bus, uint8_t i2c_address, int regulator_count);

    // Generic register access.
    uint8_t read_register(uint8_t address, bool from_device, bool update_cache);
    uint8_t read_field(RegisterField field);
    void write_field(RegisterField field, uint8_t value);
    void force(uint8_t address, uint8_t value);
    // Sends every dirty register (runs of consecutive addresses as block writes),
    // then the update trigger; dirty flags clear only when all of it went out.
    void commit();
    // Re-reads the identity and the populated pages into the cache, dropping
    // pending changes; a refresh that fails part-way changes nothing.
    void refresh();

    // Field setters: change the cache only, reach the chip at the next commit.
    void set_enable(int page, int value);
    void set_dac_code(int page, int code);
    void set_ss_code(int page, int code);
    void set_clim_code(int page, int code);
    void set_dvs_code(int page, int code);

    // Cached getters: no bus traffic.
    bool get_enable(int page);
    uint8_t get_dac_code(int page);
    uint8_t get_ss_code(int page);
    uint8_t get_dvs_code(int page);

    // Telemetry: one register read each, with cache update.
    double read_vin();
    double read_temperature();
    double read_vout(int page);

    // Status: live reads without cache update.
    uint8_t read_core_status();
    uint8_t read_page_status(int page);

    // Probes every row of the chip table in order, the fallback row too.
    ChipDescriptor identify_chip();
    // Probes the known models only, never the fallback row's address 0x00 (the
    // I2C general call, which reaches every device on the bus); a descriptor
    // with no regulators when none answers.
    ChipDescriptor identify_known_chip();

    // True while some register holds a change not yet committed.
    bool has_pending_changes() const;

    std::map<uint8_t, uint8_t> register_cache;
    std::map<uint8_t, uint8_t> dirty_flags;
    I2C *bus;
    uint16_t i2c_address;
    int regulator_count;
    std::string chip_name;

private:
    ChipDescriptor identify(bool probeFallback);
    uint8_t readFromChip(uint8_t address);
    void storeInCache(uint8_t address, uint8_t value);
};

// Fields of one regulator page (1 to 3).
namespace field {
RegisterField enable(int page);
RegisterField dacCode(int page);
RegisterField ssCode(int page);
RegisterField climCode(int page);
RegisterField dvsCode(int page);
} // namespace field
