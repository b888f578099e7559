#include "device/register_access.h"

#include "device/ivr_device.h"
#include "device/register_map.h"

std::string accessRefusal(uint8_t address, bool write) {
    // A model without a bus serves: cached reads and field writes never reach it.
    IvrDevice rules(nullptr, 0, 0);
    try {
        if (write)
            rules.write_field(RegisterField(address, 0xFF), 0);
        else
            rules.read_register(address, false, false);
    } catch (const std::string &text) {
        return text;
    }
    return std::string();
}

void writeRegister(IvrDevice &device, uint8_t address, uint8_t value) {
    if (isForceable(address)) {
        device.force(address, value);
        return;
    }
    device.write_field(RegisterField(address, 0xFF), value);
    // Sent even when the cache already holds the value: a raw write is a write.
    device.dirty_flags[address] = 1;
    device.commit();
}
