#include "ctl/encoding.h"

#include "device/conversions.h"

#include <algorithm>
#include <charconv>
#include <cmath>

namespace ctl {

namespace {
// How far below a step a computed position may fall and still count as that
// step: covers the rounding of values like 0.7505 (exactly code 118), which
// divide to 117.99999999999997.
constexpr double STEP_TOLERANCE = 1e-6;

bool allDigits(const std::string &text, int base) {
    if (text.empty())
        return false;
    for (char c : text) {
        const bool digit = c >= '0' && c <= '9';
        const bool hexLetter = (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
        if (!digit && !(base == 16 && hexLetter))
            return false;
    }
    return true;
}
} // namespace

bool voutInRange(double volts) {
    return volts >= conv::VOUT_TARGET_MIN && volts <= conv::VOUT_TARGET_MAX;
}

int dacCodeFromVolts(double volts) {
    const double position =
        (volts - conv::VOUT_OFFSET) / conv::VOUT_STEP - conv::DAC_CODE_MIN + STEP_TOLERANCE;
    const int code = static_cast<int>(std::trunc(position)) + conv::DAC_CODE_MIN;
    return std::clamp(code, conv::DAC_CODE_MIN, conv::DAC_CODE_MAX);
}

double voltsFromDacCode(int code) {
    return conv::voutFromCode(static_cast<uint8_t>(code));
}

int climCodeForSoftStart(int ssCode) {
    return std::clamp(ssCode - 2, 0, 10);
}

int pageOfRegulator(int regulator, int regulatorCount) {
    if (regulator < 1 || regulator > regulatorCount || regulatorCount > 3)
        return 0;
    if (regulatorCount == 2 && regulator == 2)
        return 3;
    return regulator;
}

bool parseDecimal(const std::string &text, double &value) {
    if (text.empty())
        return false;
    const char *first = text.data();
    const char *last = first + text.size();
    double parsed = 0;
    const auto result = std::from_chars(first, last, parsed, std::chars_format::general);
    if (result.ec != std::errc() || result.ptr != last || !std::isfinite(parsed))
        return false;
    value = parsed;
    return true;
}

bool parseCount(const std::string &text, long &value) {
    if (!allDigits(text, 10) || text.size() > 9)
        return false;
    value = std::stol(text);
    return true;
}

bool parseByte(const std::string &text, int &value) {
    int base = 10;
    std::string digits = text;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        digits = text.substr(2);
    }
    // Leading zeros are allowed ("0x013", "007"); the value must fit a byte.
    const size_t nonZero = digits.find_first_not_of('0');
    if (!allDigits(digits, base) || (nonZero != std::string::npos && digits.size() - nonZero > 3))
        return false;
    const long parsed = std::stol(digits, nullptr, base);
    if (parsed > 0xFF)
        return false;
    value = int(parsed);
    return true;
}

bool parseRegulator(const std::string &text, int &regulator) {
    std::string digits = text;
    if (text.size() == 3 && (text.compare(0, 2, "VR") == 0 || text.compare(0, 2, "vr") == 0))
        digits = text.substr(2);
    if (digits.size() != 1 || digits[0] < '1' || digits[0] > '3')
        return false;
    regulator = digits[0] - '0';
    return true;
}

bool parseOnOff(const std::string &text, bool &on) {
    if (text == "on" || text == "1") {
        on = true;
        return true;
    }
    if (text == "off" || text == "0") {
        on = false;
        return true;
    }
    return false;
}

std::string fixed(double value, int decimals) {
    char buffer[64];
    const auto result =
        std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, decimals);
    if (result.ec != std::errc())
        return std::to_string(value); // beyond the chip's scales; never a buffer overrun
    std::string text(buffer, result.ptr);
    // No "-0.000": a value that rounds to zero is shown as zero.
    if (text[0] == '-' && text.find_first_not_of("-0.") == std::string::npos)
        text.erase(0, 1);
    return text;
}

std::string hex2(int byte) {
    static const char digits[] = "0123456789abcdef";
    std::string text = "0x";
    text += digits[(byte >> 4) & 0xF];
    text += digits[byte & 0xF];
    return text;
}

std::string quoted(const std::string &text) {
    constexpr size_t MAX_SHOWN = 40;
    std::string shown = "'";
    for (size_t i = 0; i < text.size() && i < MAX_SHOWN; ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c >= 0x20 && c < 0x7F && c != '\\')
            shown += char(c);
        else
            shown += "\\x" + hex2(c).substr(2);
    }
    shown += text.size() > MAX_SHOWN ? "'..." : "'";
    return shown;
}

} // namespace ctl
