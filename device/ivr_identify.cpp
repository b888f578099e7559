// Chip identification: probe the chip table row by row at each row's address.
#include "device/ivr_device.h"
#include "device/register_map.h"

ChipDescriptor IvrDevice::identify(bool probeFallback) {
    // Nothing matching, not even the fallback row (address 0x00 answering other
    // than 0xFF), is treated like the fallback: a chip that is not powered.
    const ChipDescriptor *selected = &chip_table.back();
    for (const ChipDescriptor &row : chip_table) {
        if (row.regulator_count == 0 && !probeFallback)
            continue;
        // The probes bypass the access rules and the cache on purpose.
        const std::string reply =
            bus->writeRead(row.i2c_address, std::string(1, char(reg::CHIP_ID)), 1);
        const uint8_t id = reply.empty() ? 0 : static_cast<uint8_t>(reply[0]);
        if (id == row.chip_id) {
            selected = &row;
            break;
        }
    }
    regulator_count = selected->regulator_count;
    chip_name = selected->chip_name;
    i2c_address = selected->i2c_address;
    return *selected;
}

ChipDescriptor IvrDevice::identify_chip() {
    return identify(true);
}

ChipDescriptor IvrDevice::identify_known_chip() {
    return identify(false);
}
