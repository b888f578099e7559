// Register cache, access rules and the generic transfers of the device model.
#include "device/ivr_device.h"

#include "device/register_map.h"
#include "device/regulator.h"

#include <vector>

namespace {
[[noreturn]] void refuse(const char *message, uint8_t address) {
    throw std::string(message) + std::to_string(address);
}
} // namespace

IvrDevice::IvrDevice(I2C *bus, uint8_t i2c_address, int regulator_count)
    : bus(bus), i2c_address(i2c_address), regulator_count(regulator_count) {}

uint8_t IvrDevice::readFromChip(uint8_t address) {
    const std::string reply = bus->writeRead(i2c_address, std::string(1, char(address)), 1);
    return reply.empty() ? 0 : static_cast<uint8_t>(reply[0]);
}

void IvrDevice::storeInCache(uint8_t address, uint8_t value) {
    register_cache[address] =
        reg::isPageControl(address) ? (value & reg::PAGE_CONTROL_CACHED_BITS) : value;
}

uint8_t IvrDevice::read_register(uint8_t address, bool from_device, bool update_cache) {
    if (!isReadable(address))
        refuse("Attempt to read to unreadable address: 0d", address);
    if (!from_device)
        return register_cache[address];
    const uint8_t value = readFromChip(address);
    if (update_cache) {
        storeInCache(address, value);
        dirty_flags[address] = 0;
    }
    return value;
}

uint8_t IvrDevice::read_field(RegisterField field) {
    if (!isReadable(field.address()))
        refuse("Attempt to read to unreadable address: 0d", field.address());
    return static_cast<uint8_t>((register_cache[field.address()] & field.mask()) >> field.shift());
}

void IvrDevice::write_field(RegisterField field, uint8_t value) {
    const uint8_t address = field.address();
    const uint8_t old = register_cache[address];
    const uint8_t shifted = static_cast<uint8_t>(value << field.shift());
    const uint8_t updated = static_cast<uint8_t>((field.mask() & shifted) | (~field.mask() & old));
    if (!isWritable(address))
        refuse("Attempt to write to unwriteable address: 0d", address);
    if (updated == old)
        return;
    storeInCache(address, updated);
    // Only read-write registers are ever committed; a write-only one (the update
    // trigger) is reached through force() and must not stay pending forever.
    if (read_write_registers.contains(address))
        dirty_flags[address] = 1;
}

void IvrDevice::force(uint8_t address, uint8_t value) {
    if (!isForceable(address))
        refuse("Attempt to force to non-writeonly address: 0d", address);
    bus->write(i2c_address, std::string{char(address), char(value)});
}

void IvrDevice::commit() {
    std::map<uint8_t, uint8_t> pending;
    for (int i = 0; i < read_write_registers.count; ++i) {
        const uint8_t address = static_cast<uint8_t>(read_write_registers.addresses[i]);
        if (dirty_flags[address])
            pending[address] = register_cache[address];
    }
    if (pending.empty())
        return;

    // Runs of consecutive addresses, each sent as one block write.
    std::vector<std::string> runs;
    int previous = -2;
    for (const auto &[address, value] : pending) {
        if (address != previous + 1)
            runs.emplace_back(1, char(address));
        runs.back().push_back(char(value));
        previous = address;
    }
    for (const std::string &run : runs)
        bus->write(i2c_address, run);
    force(reg::UPDATE_TRIGGER, reg::UPDATE_VALUE);

    // Cleared only once every run and the trigger went out: a failed transfer
    // leaves the whole change pending, and the next commit sends it again.
    for (const auto &entry : pending)
        dirty_flags[entry.first] = 0;
}

void IvrDevice::refresh() {
    // The identity registers, then page 1 always, page 3 and page 2 as populated.
    std::vector<uint8_t> order;
    for (uint8_t address = reg::IDENTITY_FIRST; address <= reg::CHIP_ID; ++address)
        order.push_back(address);
    for (int page : {1, 3, 2}) {
        if (page != 1 && !regulator::pagePopulated(page, regulator_count))
            continue;
        for (uint8_t offset = 0; offset < reg::PAGE_SIZE; ++offset)
            order.push_back(uint8_t(reg::pageBase(page) + offset));
    }
    // Everything is read before anything is replaced: a refresh cut short by a
    // link failure leaves the cache and the pending changes as they were.
    std::vector<uint8_t> values;
    values.reserve(order.size());
    for (uint8_t address : order)
        values.push_back(read_register(address, true, false));

    for (int i = 0; i < read_write_registers.count; ++i) {
        const uint8_t address = static_cast<uint8_t>(read_write_registers.addresses[i]);
        register_cache[address] = 0;
        dirty_flags[address] = 0;
    }
    for (size_t i = 0; i < order.size(); ++i) {
        storeInCache(order[i], values[i]);
        dirty_flags[order[i]] = 0;
    }
}

bool IvrDevice::has_pending_changes() const {
    for (const auto &entry : dirty_flags) {
        if (entry.second)
            return true;
    }
    return false;
}
