#include "device/text.h"

#include <charconv>
#include <cmath>

namespace text {

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

bool parseCount(const std::string &text, long &value) {
    if (text.empty() || text.size() > 9)
        return false;
    long parsed = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return false;
        parsed = parsed * 10 + (c - '0');
    }
    value = parsed;
    return true;
}

OptionWord splitOption(const std::string &word) {
    OptionWord split;
    split.name = word;
    const size_t equals = word.find('=');
    if (word.compare(0, 2, "--") == 0 && equals != std::string::npos) {
        split.name = word.substr(0, equals);
        split.value = word.substr(equals + 1);
        split.hasValue = true;
    }
    return split;
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

std::string joinedList(const std::vector<std::string> &items, const std::string &lastWord) {
    std::string text;
    for (size_t i = 0; i < items.size(); ++i)
        text += (i == 0 ? "" : i + 1 == items.size() ? " " + lastWord + " " : ", ") + items[i];
    return text;
}

} // namespace text
