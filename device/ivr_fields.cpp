// Named per-page fields, telemetry conversions and status decoding.
#include "device/conversions.h"
#include "device/ivr_device.h"
#include "device/register_map.h"

namespace {
uint8_t checkedBase(int page) {
    if (page < 1 || page > 3)
        throw std::string("Invalid regulator page: ") + std::to_string(page);
    return reg::pageBase(page);
}
} // namespace

namespace field {
RegisterField enable(int page) {
    return {uint8_t(checkedBase(page) + reg::PAGE_CONTROL), 0x08};
}
RegisterField dacCode(int page) {
    return {uint8_t(checkedBase(page) + reg::PAGE_DAC), 0xFF};
}
RegisterField ssCode(int page) {
    return {uint8_t(checkedBase(page) + reg::PAGE_SS_CLIM), 0x0F};
}
RegisterField climCode(int page) {
    return {uint8_t(checkedBase(page) + reg::PAGE_SS_CLIM), 0xF0};
}
RegisterField dvsCode(int page) {
    return {uint8_t(checkedBase(page) + reg::PAGE_DVS), 0x0F};
}
} // namespace field

void IvrDevice::set_enable(int page, int value) {
    write_field(field::enable(page), value > 0);
}
void IvrDevice::set_dac_code(int page, int code) {
    write_field(field::dacCode(page), uint8_t(code));
}
void IvrDevice::set_ss_code(int page, int code) {
    write_field(field::ssCode(page), uint8_t(code));
}
void IvrDevice::set_clim_code(int page, int code) {
    write_field(field::climCode(page), uint8_t(code));
}
void IvrDevice::set_dvs_code(int page, int code) {
    write_field(field::dvsCode(page), uint8_t(code));
}

bool IvrDevice::get_enable(int page) {
    return read_field(field::enable(page)) != 0;
}
uint8_t IvrDevice::get_dac_code(int page) {
    return read_field(field::dacCode(page));
}
uint8_t IvrDevice::get_ss_code(int page) {
    return read_field(field::ssCode(page));
}
uint8_t IvrDevice::get_dvs_code(int page) {
    return read_field(field::dvsCode(page));
}

double IvrDevice::read_vin() {
    return conv::vinFromCode(read_register(reg::VIN, true, true));
}

double IvrDevice::read_temperature() {
    return conv::temperatureFromCode(read_register(reg::TEMPERATURE, true, true));
}

double IvrDevice::read_vout(int page) {
    checkedBase(page);
    return conv::voutFromCode(read_register(reg::voutRegister(page), true, true));
}

uint8_t IvrDevice::read_core_status() {
    const uint8_t core = read_register(reg::CORE_STATUS, true, false);
    const uint8_t q1 = read_register(reg::pageBase(1), true, false);
    const uint8_t q2 = read_register(reg::pageBase(2), true, false);
    const uint8_t q3 = read_register(reg::pageBase(3), true, false);
    // An enabled page (byte 8 or more) with any flag set; the lowest page wins.
    auto flagged = [](uint8_t q) { return q > 7 && (q & 7) != 0; };
    int page = 0;
    if (flagged(q3))
        page = 3;
    if (flagged(q2))
        page = 2;
    if (flagged(q1))
        page = 1;
    return static_cast<uint8_t>((core & 0x3F) + (page << 6));
}

uint8_t IvrDevice::read_page_status(int page) {
    const uint8_t status = read_register(checkedBase(page), true, false);
    return status >= 8 ? status : 0;
}
