// Value encodings and strict text-to-number conversions of the command-line tool.
// Plain C++17, no Qt: shared by the command parser and the configuration file.
#pragma once

#include <cstdint>
#include <string>

namespace ctl {

// True for a target the window's slider can reach: 0.5 V to 1.202 V inclusive.
bool voutInRange(double volts);
// The DAC code of an output target, as the window's typed voltage becomes a
// slider position: position = (volts - 0.2667) / 0.0041 - 57 truncated toward
// zero, code = position + 57. A target between two steps goes to the step below;
// a value that is a step's own voltage (as saved) gives that step. The caller
// checks the range first.
int dacCodeFromVolts(double volts);
// The voltage of a DAC code (code x 0.0041 + 0.2667).
double voltsFromDacCode(int code);
// The clim code that goes with a soft-start code: code - 2, bounded to 0..10.
int climCodeForSoftStart(int ssCode);
// The register page of regulator VR1..VR3 on a chip with this many regulators
// (1: page 1; 2: pages 1, 3; 3: pages 1, 2, 3), or 0 when the chip has no such
// regulator.
int pageOfRegulator(int regulator, int regulatorCount);

// Strict conversions: the whole text must be the number, nothing else.
// A finite decimal number ("0.9", "1", ".75", "1e-1"); no sign prefix "+".
bool parseDecimal(const std::string &text, double &value);
// A non-negative decimal integer of at most 9 digits.
bool parseCount(const std::string &text, long &value);
// A byte, i2c-tools style: hexadecimal with 0x or 0X ("0x13") or decimal ("19").
bool parseByte(const std::string &text, int &value);
// A regulator: "1" to "3", "VR1" to "VR3" or "vr1" to "vr3".
bool parseRegulator(const std::string &text, int &regulator);
// "on" or "1" is true, "off" or "0" is false.
bool parseOnOff(const std::string &text, bool &on);

// A double in fixed notation with this many decimals, independent of the locale.
std::string fixed(double value, int decimals);
// "0x" and two lowercase hexadecimal digits.
std::string hex2(int byte);
// Text from a user or a file, in single quotes, safe to print: bytes outside
// printable ASCII become \xNN, and a long text is cut after 40 characters.
std::string quoted(const std::string &text);

} // namespace ctl
