#include "ctl/encoding.h"

namespace ctl {

namespace {
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

} // namespace ctl
