// The entry point of qm44xx-ctl as a function: arguments (without the program
// name), an input stream for commands or "load -", output and error streams;
// returns the exit code (0 done, 1 usage or file error, 2 board or link error).
#pragma once

#include "ctl/session.h"

#include <iosfwd>
#include <string>
#include <vector>

namespace ctl {

int run(const std::vector<std::string> &arguments, std::istream &in, std::ostream &out,
        std::ostream &err, const Clock &clock = systemClock());

std::string helpText();
std::string versionText();

// Lines of standard input longer than this are refused.
constexpr size_t MAX_LINE_LENGTH = 4096;

} // namespace ctl
