// The pure functions that turn text into the tool's commands (ctl/commands.h):
// a tokenizer for lines (standard input, or an argument holding ';') and a
// parser for the words of one or more commands. No board access, no I/O.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace ctl {

struct CommandEntry;

struct TelemetryOptions {
    long intervalMs = 250;
    long count = 1; // 0: until interrupted
    long average = 1;
    bool csv = false;
};

// One parsed command: its entry of the command table and its arguments.
struct Command {
    const CommandEntry *entry = nullptr;
    bool on = false; // power, pvin, set enable
    int regulator = 0;
    int code = 0; // DAC code, rate code or register value
    int address = 0;
    bool verify = false;
    bool json = false;  // one JSON object per line instead of text
    bool check = false; // status: a FAIL flag fails the command
    TelemetryOptions telemetry;
    std::string file; // "-" for standard input or output
};

// One word of a command line; a separator stands for ';' between commands.
struct Word {
    std::string text;
    bool separator = false;
};

// Splits a line into words: blanks separate, ';' ends a command, '#' at the
// start of a word begins a comment, and single or double quotes keep blanks,
// ';' and '#' inside a word. False with a message for an unterminated quote.
bool tokenizeLine(const std::string &line, std::vector<Word> &words, std::string &error);

// The words of command-line arguments: each argument is one word, except that
// an argument holding ';', or one that begins a command and holds a blank
// ("reg get 0x13"), is split like a line. So a file name with blanks stays one
// word: save "my settings.cfg".
bool wordsFromArguments(const std::vector<std::string> &arguments, std::vector<Word> &words,
                        std::string &error);

struct ParseResult {
    std::vector<Command> commands;
    std::string error; // empty when every command parsed
    std::string usage; // the usage line(s) of the command in error, if known
    bool ok() const { return error.empty(); }
};

// Parses every command in the words (empty commands between separators are
// skipped). Stops at the first command in error.
ParseResult parseCommands(const std::vector<Word> &words);
// Parses the words of a single command.
ParseResult parseCommand(const std::vector<std::string> &words);

// "usage: qm44xx-ctl set vout VR VOLTS [--verify]", one line per form: the
// command's, or every command's of a group ("set"); "" for no command.
std::string usageOf(const std::string &command);

} // namespace ctl
