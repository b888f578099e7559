// Strict text-to-number conversions and locale-independent formatting, shared
// by every front end's parsers and by the configuration file. Plain C++17.
#pragma once

#include <string>
#include <vector>

namespace text {

// A finite decimal number ("0.9", "1", ".75", "1e-1"), the whole text and
// nothing else; no sign prefix "+".
bool parseDecimal(const std::string &text, double &value);
// "on" or "1" is true, "off" or "0" is false.
bool parseOnOff(const std::string &text, bool &on);
// A non-negative decimal integer of at most 9 digits.
bool parseCount(const std::string &text, long &value);

// A command-line word: "--name=value" gives the name and the value; any other
// word ("--name", "-v", "value") is a name alone.
struct OptionWord {
    std::string name;
    std::string value;
    bool hasValue = false;
};
OptionWord splitOption(const std::string &word);

// A double in fixed notation with this many decimals, independent of the
// locale; never "-0.000".
std::string fixed(double value, int decimals);
// "0x" and two lowercase hexadecimal digits.
std::string hex2(int byte);
// Text from a user or a file, in single quotes, safe to print: bytes outside
// printable ASCII become \xNN, and a long text is cut after 40 characters.
std::string quoted(const std::string &text);
// "a, b or c": the items with a comma between them, and lastWord ("or",
// "and") before the last one.
std::string joinedList(const std::vector<std::string> &items, const std::string &lastWord);

} // namespace text
