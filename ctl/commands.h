// The tool's commands, each once: its words, how it takes "--verify", its
// synopsis and help, the parser of its arguments and the Session member that
// runs it. The usage lines, --help, the parser and the dispatch all read this
// table, so a command is added or changed here alone.
#pragma once

#include "ctl/command_parser.h"

#include <string>
#include <vector>

namespace ctl {

class Session;

enum class VerifyOption {
    None,    // "--verify" is an ordinary argument (and refused as such)
    Taken,   // "--verify" anywhere among the arguments sets Command::verify
    Refused, // "--verify" is an error: the command writes nothing
};

struct CommandEntry {
    // {"power"}, or {"set", "vout"}: commands that share a first word form a
    // group, whose second word picks the command. The commands of a group all
    // take or refuse "--verify", which may then stand anywhere after the first.
    std::vector<std::string> words;
    std::string arguments; // "VR VOLTS", as in the synopsis
    VerifyOption verify;
    std::vector<std::string> help; // lines of --help beside the synopsis
    // Fills command from the arguments (the words after the command's own,
    // without "--verify" where it is taken); returns "" or what is wrong.
    std::string (*parse)(const std::vector<std::string> &arguments, Command &command);
    void (Session::*run)(const Command &command);

    std::string name() const;     // "set vout"
    std::string synopsis() const; // "set vout VR VOLTS"
    std::string usage() const;    // "set vout VR VOLTS [--verify]"
};

// In the order of --help.
const std::vector<CommandEntry> &commandTable();

// What the second word of a group names, for messages: "setting" for set.
std::string groupNoun(const std::string &verb);

} // namespace ctl
