// qm44xx-ctl's tokenizer and command parser (ctl/command_parser.h) on arbitrary
// input. The first byte picks the source: even, the rest is one line of standard
// input (ctl::tokenizeLine); odd, the rest is an argument vector, split at NUL
// bytes (ctl::wordsFromArguments). The words then go through
// ctl::parseCommands.
//
// Checked: nothing is thrown; the tokenizer fails only on an unterminated quote,
// with its message; arguments become words as documented (one word each, unless
// the argument holds ';' or begins a command and holds a blank, when it is
// split like a line); parseCommands parses each command between separators in
// turn (empty ones skipped) and stops at the first in error; every parsed
// command's fields are within their ranges (VR 1..3, DAC codes 57..228 at the
// step at or below VOLTS, rate codes 0..15, register addresses the device
// model's access rules allow for the access, telemetry options in range, a
// non-empty file name); a failed command carries a printable message and the
// usage of its command (none for an unknown command); and the words written
// back as a line, quoted where needed, tokenize to the same words and parse to
// the same commands.
#include "ctl/command_parser.h"
#include "device/rate_labels.h"
#include "device/register_map.h"
#include "fuzz_input.h"

#include <algorithm>
#include <cstdlib>
#include <exception>
#include <set>

namespace {

using ctl::Command;
using ctl::CommandKind;
using ctl::ParseResult;
using ctl::Word;

constexpr double STEP = 0.0041;
constexpr double OFFSET = 0.2667;

std::string joined(const std::vector<std::string> &words) {
    std::string out;
    for (const std::string &w : words)
        out += (out.empty() ? "[" : " [") + escaped(w) + "]";
    return out;
}

bool sameWords(const std::vector<Word> &a, const std::vector<Word> &b) {
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (a[i].separator != b[i].separator || a[i].text != b[i].text)
            return false;
    }
    return true;
}

bool sameCommand(const Command &a, const Command &b) {
    return a.kind == b.kind && a.name == b.name && a.on == b.on && a.regulator == b.regulator &&
           a.code == b.code && a.address == b.address && a.verify == b.verify &&
           a.telemetry.intervalMs == b.telemetry.intervalMs &&
           a.telemetry.count == b.telemetry.count && a.telemetry.average == b.telemetry.average &&
           a.telemetry.csv == b.telemetry.csv && a.file == b.file;
}

bool sameResult(const ParseResult &a, const ParseResult &b) {
    if (a.error != b.error || a.usage != b.usage || a.commands.size() != b.commands.size())
        return false;
    for (size_t i = 0; i < a.commands.size(); ++i) {
        if (!sameCommand(a.commands[i], b.commands[i]))
            return false;
    }
    return true;
}

const char *nameOf(CommandKind kind) {
    switch (kind) {
    case CommandKind::Power:
        return "power";
    case CommandKind::Pvin:
        return "pvin";
    case CommandKind::Detect:
        return "detect";
    case CommandKind::Status:
        return "status";
    case CommandKind::Telemetry:
        return "telemetry";
    case CommandKind::SetVout:
        return "set vout";
    case CommandKind::SetEnable:
        return "set enable";
    case CommandKind::SetDvs:
        return "set dvs";
    case CommandKind::SetSs:
        return "set ss";
    case CommandKind::RegGet:
        return "reg get";
    case CommandKind::RegSet:
        return "reg set";
    case CommandKind::Dump:
        return "dump";
    case CommandKind::Save:
        return "save";
    case CommandKind::Load:
        return "load";
    }
    return "?";
}

bool knownVerb(const std::string &verb) {
    static const std::set<std::string> verbs = {"power",     "pvin", "detect", "status", "dump",
                                                "telemetry", "set",  "reg",    "save",   "load"};
    return verbs.count(verb) != 0;
}

bool onOffWord(const std::string &word, bool on) {
    return on ? (word == "on" || word == "1") : (word == "off" || word == "0");
}

// A rate given as its label or as its code in one or two decimal digits.
bool rateWord(const std::string &word, int code) {
    if (word == dvs_rate_labels[size_t(code)])
        return true;
    if (word.empty() || word.size() > 2)
        return false;
    int value = 0;
    for (char c : word) {
        if (c < '0' || c > '9')
            return false;
        value = value * 10 + (c - '0');
    }
    return value == code;
}

// The words of a command other than "--verify", which set, reg and load take
// anywhere among their arguments.
std::vector<std::string> withoutVerify(const std::vector<std::string> &words) {
    std::vector<std::string> out;
    for (const std::string &w : words) {
        if (w != "--verify")
            out.push_back(w);
    }
    return out;
}

bool inRange(long value, long low, long high) {
    return value >= low && value <= high;
}

// A command parsed from these words holds what they say, within its ranges.
void checkParsed(const std::vector<std::string> &words, const Command &c) {
    const std::string all = joined(words);
    FUZZ_CHECK(c.name == nameOf(c.kind), "%s: name \"%s\"", all.c_str(), c.name.c_str());
    FUZZ_CHECK(startsWith(c.name, words[0]), "%s parsed as \"%s\"", all.c_str(), c.name.c_str());
    const bool verifyGiven =
        std::find(words.begin(), words.end(), "--verify") != words.end() &&
        (words[0] == "set" || (words[0] == "reg" && c.kind == CommandKind::RegSet) ||
         words[0] == "load");
    FUZZ_CHECK(c.verify == verifyGiven, "%s: verify %d", all.c_str(), c.verify);
    const std::vector<std::string> args = withoutVerify(words);

    switch (c.kind) {
    case CommandKind::Power:
    case CommandKind::Pvin:
        FUZZ_CHECK(words.size() == 2 && onOffWord(words[1], c.on), "%s: on %d", all.c_str(), c.on);
        break;
    case CommandKind::Detect:
    case CommandKind::Status:
    case CommandKind::Dump:
        FUZZ_CHECK(words.size() == 1, "%s took arguments", all.c_str());
        break;
    case CommandKind::Telemetry: {
        const ctl::TelemetryOptions &t = c.telemetry;
        FUZZ_CHECK(inRange(t.intervalMs, 0, 3600000) && inRange(t.count, 0, 999999999) &&
                       inRange(t.average, 1, 1000),
                   "%s: interval %ld, count %ld, average %ld", all.c_str(), t.intervalMs, t.count,
                   t.average);
        break;
    }
    case CommandKind::SetVout:
    case CommandKind::SetEnable:
    case CommandKind::SetDvs:
    case CommandKind::SetSs: {
        FUZZ_CHECK(args.size() == 4 && args[1] == c.name.substr(4), "%s parsed as %s", all.c_str(),
                   c.name.c_str());
        FUZZ_CHECK(c.regulator >= 1 && c.regulator <= 3, "%s: VR %d", all.c_str(), c.regulator);
        const std::string &vr = args[2];
        FUZZ_CHECK(vr == std::to_string(c.regulator) || vr == "VR" + std::to_string(c.regulator) ||
                       vr == "vr" + std::to_string(c.regulator),
                   "%s: VR %d", all.c_str(), c.regulator);
        const std::string &value = args[3];
        if (c.kind == CommandKind::SetVout) {
            // Refused, not clamped, outside 0.5..1.202 V; between two steps the
            // step below (a step's own voltage, as saved, gives that step), except
            // that 0.5 V up to code 57's 0.5004 V is code 57, as on the slider.
            char *end = nullptr;
            const double volts = std::strtod(value.c_str(), &end);
            FUZZ_CHECK(!value.empty() && end == value.c_str() + value.size() && volts >= 0.5 &&
                           volts <= 1.202,
                       "%s: %s V accepted", all.c_str(), escaped(value).c_str());
            FUZZ_CHECK(c.code >= 57 && c.code <= 228, "%s: code %d", all.c_str(), c.code);
            const double below = c.code * STEP + OFFSET;
            const double above = (c.code + 1) * STEP + OFFSET;
            FUZZ_CHECK((c.code == 57 || below <= volts + 1e-8) && volts < above,
                       "%s: code %d (%.5f V) for %.9g V", all.c_str(), c.code, below, volts);
        } else if (c.kind == CommandKind::SetEnable) {
            FUZZ_CHECK(onOffWord(value, c.on), "%s: on %d", all.c_str(), c.on);
        } else {
            FUZZ_CHECK(c.code >= 0 && c.code <= 15 && rateWord(value, c.code), "%s: code %d",
                       all.c_str(), c.code);
        }
        break;
    }
    case CommandKind::RegGet:
    case CommandKind::RegSet: {
        const bool write = c.kind == CommandKind::RegSet;
        FUZZ_CHECK(args.size() == (write ? 4u : 3u), "%s parsed as %s", all.c_str(),
                   c.name.c_str());
        FUZZ_CHECK(c.address >= 0 && c.address <= 0xFF, "%s: address %d", all.c_str(), c.address);
        FUZZ_CHECK(write ? isWritable(uint16_t(c.address)) : isReadable(uint16_t(c.address)),
                   "%s: address 0x%02x is not %s", all.c_str(), c.address,
                   write ? "writable" : "readable");
        FUZZ_CHECK(!c.verify || isReadable(uint16_t(c.address)), "%s: verify of unreadable 0x%02x",
                   all.c_str(), c.address);
        if (write)
            FUZZ_CHECK(c.code >= 0 && c.code <= 0xFF, "%s: value %d", all.c_str(), c.code);
        break;
    }
    case CommandKind::Save:
    case CommandKind::Load: {
        const std::vector<std::string> &names = c.kind == CommandKind::Load ? args : words;
        FUZZ_CHECK(names.size() == 2 && names[1] == c.file && !c.file.empty() &&
                       (c.file == "-" || c.file[0] != '-'),
                   "%s: file [%s]", all.c_str(), escaped(c.file).c_str());
        break;
    }
    }
}

// A refused command says what is wrong, printably, and carries the usage of its
// command; an unknown command has no usage to show.
void checkRefused(const std::vector<std::string> &words, const ParseResult &r) {
    const std::string all = joined(words);
    FUZZ_CHECK(r.commands.empty(), "%s: %zu commands with an error", all.c_str(),
               r.commands.size());
    FUZZ_CHECK(!r.error.empty() && printable(r.error), "%s: error [%s]", all.c_str(),
               escaped(r.error).c_str());
    if (knownVerb(words[0])) {
        FUZZ_CHECK(startsWith(r.error, words[0]) &&
                       (r.error[words[0].size()] == ':' || r.error[words[0].size()] == ' '),
                   "%s: error [%s]", all.c_str(), escaped(r.error).c_str());
        std::string lines = r.usage;
        std::replace(lines.begin(), lines.end(), '\n', ' ');
        FUZZ_CHECK(startsWith(r.usage, "usage: qm44xx-ctl " + words[0]) && r.usage.back() == '\n' &&
                       printable(lines),
                   "%s: usage [%s]", all.c_str(), escaped(r.usage).c_str());
    } else {
        FUZZ_CHECK(startsWith(r.error, "unknown command '") && r.usage.empty(),
                   "%s: error [%s], usage [%s]", all.c_str(), escaped(r.error).c_str(),
                   escaped(r.usage).c_str());
    }
}

// parseCommands: the commands between separators parsed one by one, empty ones
// skipped, up to the first in error.
void checkCommands(const std::vector<Word> &words, const ParseResult &result) {
    ParseResult expected;
    std::vector<std::string> current;
    for (size_t i = 0; i <= words.size(); ++i) {
        if (i < words.size() && !words[i].separator) {
            current.push_back(words[i].text);
            continue;
        }
        if (current.empty())
            continue;
        const ParseResult one = ctl::parseCommand(current);
        if (one.ok()) {
            FUZZ_CHECK(one.commands.size() == 1, "%s: %zu commands", joined(current).c_str(),
                       one.commands.size());
            checkParsed(current, one.commands[0]);
            expected.commands.push_back(one.commands[0]);
        } else {
            checkRefused(current, one);
            expected = one;
            break;
        }
        current.clear();
    }
    FUZZ_CHECK(sameResult(result, expected), "parseCommands: error [%s], %zu commands",
               escaped(result.error).c_str(), result.commands.size());
}

// A word as a line must hold it: bare when that is safe, otherwise in quotes,
// a single quote itself inside double ones.
std::string quotedWord(const std::string &text, bool always) {
    const bool bare = !always && !text.empty() && text[0] != '#' &&
                      text.find_first_of(" \t\r\n\v\f;'\"") == std::string::npos;
    if (bare)
        return text;
    std::string out = "'";
    for (char c : text) {
        if (c == '\'')
            out += "'\"'\"'";
        else
            out += c;
    }
    return out + "'";
}

// The words written back as one line tokenize to the same words.
void checkRequoted(const std::vector<Word> &words, const ParseResult &result, bool always) {
    std::string line;
    for (const Word &w : words) {
        if (!line.empty())
            line += ' ';
        line += w.separator ? ";" : quotedWord(w.text, always);
    }
    std::vector<Word> again;
    std::string error;
    FUZZ_CHECK(ctl::tokenizeLine(line, again, error), "[%s]: %s", escaped(line).c_str(),
               error.c_str());
    FUZZ_CHECK(sameWords(words, again), "[%s] tokenizes to %zu words, not %zu",
               escaped(line).c_str(), again.size(), words.size());
    FUZZ_CHECK(sameResult(ctl::parseCommands(again), result), "[%s] parses differently",
               escaped(line).c_str());
}

// A quote left open is the one way a line fails.
void checkTokenizeFailure(const std::string &line, const std::string &error) {
    char open = 0;
    for (size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (open) {
            if (c == open)
                open = 0;
        } else if (c == '\'' || c == '"') {
            open = c;
        } else if (c == '#' &&
                   (i == 0 || std::string(" \t\r\n\v\f;").find(line[i - 1]) != std::string::npos)) {
            break; // a comment: quotes after it do not count
        }
    }
    const std::string expected = open == '"'    ? "unterminated double quote"
                                 : open == '\'' ? "unterminated single quote"
                                                : "";
    FUZZ_CHECK(!expected.empty() && error == expected, "[%s]: error [%s]", escaped(line).c_str(),
               error.c_str());
}

// Each argument is one word, unless it holds ';' or begins a command and holds a
// blank: then it is split like a line.
void checkArgumentWords(const std::vector<std::string> &arguments, const std::vector<Word> &words,
                        bool ok, const std::string &error) {
    std::vector<Word> expected;
    bool commandStart = true;
    for (const std::string &argument : arguments) {
        const bool split = argument.find(';') != std::string::npos ||
                           (commandStart && argument.find_first_of(" \t") != std::string::npos);
        if (split) {
            std::string lineError;
            if (!ctl::tokenizeLine(argument, expected, lineError)) {
                FUZZ_CHECK(!ok && error == lineError, "argument [%s]: error [%s]",
                           escaped(argument).c_str(), error.c_str());
                return;
            }
        } else {
            expected.push_back({argument, false});
        }
        commandStart = !expected.empty() && expected.back().separator;
    }
    FUZZ_CHECK(ok && sameWords(words, expected), "arguments %s: %zu words, expected %zu",
               joined(arguments).c_str(), words.size(), expected.size());
}

void run(const uint8_t *data, size_t size) {
    FuzzInput in(data, size);
    const bool arguments = in.flag();
    const std::vector<uint8_t> rest = in.bytes(size);
    const std::string text(rest.begin(), rest.end());

    std::vector<Word> words;
    std::string error;
    if (arguments) {
        // Each argument ends at a NUL; the last one may end with the input.
        std::vector<std::string> list;
        size_t start = 0;
        for (size_t nul = text.find('\0'); nul != std::string::npos; nul = text.find('\0', start)) {
            list.push_back(text.substr(start, nul - start));
            start = nul + 1;
        }
        if (start < text.size())
            list.push_back(text.substr(start));
        const bool ok = ctl::wordsFromArguments(list, words, error);
        checkArgumentWords(list, words, ok, error);
        if (!ok)
            return;
    } else if (!ctl::tokenizeLine(text, words, error)) {
        checkTokenizeFailure(text, error);
        return;
    }

    const ParseResult result = ctl::parseCommands(words);
    checkCommands(words, result);
    checkRequoted(words, result, false);
    checkRequoted(words, result, true);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    try {
        run(data, size);
    } catch (const std::exception &e) {
        FUZZ_CHECK(false, "thrown: %s", e.what());
    } catch (const std::string &text) {
        FUZZ_CHECK(false, "thrown: \"%s\"", escaped(text).c_str());
    } catch (...) {
        FUZZ_CHECK(false, "thrown: something");
    }
    return 0;
}
