#include "ctl/command_parser.h"

#include "ctl/encoding.h"
#include "device/ivr_device.h"
#include "device/rate_labels.h"
#include "device/register_map.h"
#include "device/regulator.h"

#include <map>

namespace ctl {

namespace {

constexpr long MAX_INTERVAL_MS = 3600000; // one hour between samples
constexpr long MAX_AVERAGE = 1000;

const std::map<std::string, std::vector<std::string>> &usageTable() {
    static const std::map<std::string, std::vector<std::string>> table = {
        {"power", {"power on|off"}},
        {"pvin", {"pvin on|off"}},
        {"detect", {"detect"}},
        {"status", {"status"}},
        {"telemetry", {"telemetry [--interval MS] [--count N] [--average N] [--csv]"}},
        {"set vout", {"set vout VR VOLTS [--verify]"}},
        {"set enable", {"set enable VR on|off [--verify]"}},
        {"set dvs", {"set dvs VR RATE [--verify]"}},
        {"set ss", {"set ss VR RATE [--verify]"}},
        {"set",
         {"set vout VR VOLTS [--verify]", "set enable VR on|off [--verify]",
          "set dvs VR RATE [--verify]", "set ss VR RATE [--verify]"}},
        {"reg get", {"reg get ADDR"}},
        {"reg set", {"reg set ADDR VALUE [--verify]"}},
        {"reg", {"reg get ADDR", "reg set ADDR VALUE [--verify]"}},
        {"dump", {"dump"}},
        {"save", {"save FILE"}},
        {"load", {"load FILE [--verify]"}},
    };
    return table;
}

ParseResult failure(const std::string &command, const std::string &message) {
    ParseResult result;
    result.error = command.empty() ? message : command + ": " + message;
    result.usage = usageOf(command);
    return result;
}

ParseResult success(const Command &command) {
    ParseResult result;
    result.commands.push_back(command);
    return result;
}

// Takes "--verify" out of the words; true when it was there.
bool takeVerify(std::vector<std::string> &words) {
    bool found = false;
    for (auto it = words.begin(); it != words.end();) {
        if (*it == "--verify") {
            found = true;
            it = words.erase(it);
        } else {
            ++it;
        }
    }
    return found;
}

ParseResult parseOnOffCommand(const std::string &name, CommandKind kind,
                              const std::vector<std::string> &args) {
    if (args.size() != 1)
        return failure(name, args.empty() ? "expects on or off" : "expects one argument");
    Command command;
    command.kind = kind;
    command.name = name;
    if (!parseOnOff(args[0], command.on))
        return failure(name, "expects on or off, got " + quoted(args[0]));
    return success(command);
}

ParseResult parseNoArgument(const std::string &name, CommandKind kind,
                            const std::vector<std::string> &args) {
    if (!args.empty())
        return failure(name, "takes no arguments, got " + quoted(args[0]));
    Command command;
    command.kind = kind;
    command.name = name;
    return success(command);
}

ParseResult parseTelemetry(const std::vector<std::string> &args) {
    const std::string name = "telemetry";
    Command command;
    command.kind = CommandKind::Telemetry;
    command.name = name;
    TelemetryOptions &options = command.telemetry;
    for (size_t i = 0; i < args.size(); ++i) {
        std::string option = args[i];
        std::string value;
        bool hasValue = false;
        const size_t equals = option.find('=');
        if (option.compare(0, 2, "--") == 0 && equals != std::string::npos) {
            value = option.substr(equals + 1);
            option = option.substr(0, equals);
            hasValue = true;
        }
        if (option == "--csv" && !hasValue) {
            options.csv = true;
            continue;
        }
        long *target = nullptr;
        long minimum = 0, maximum = 0;
        std::string what;
        if (option == "--interval") {
            target = &options.intervalMs;
            maximum = MAX_INTERVAL_MS;
            what = "MS must be a whole number of milliseconds from 0 to " +
                   std::to_string(MAX_INTERVAL_MS);
        } else if (option == "--count") {
            target = &options.count;
            maximum = 999999999;
            what = "N must be a whole number (0: until interrupted)";
        } else if (option == "--average") {
            target = &options.average;
            minimum = 1;
            maximum = MAX_AVERAGE;
            what = "N must be a whole number from 1 to " + std::to_string(MAX_AVERAGE);
        } else {
            return failure(name, "unknown option " + quoted(args[i]));
        }
        if (!hasValue) {
            if (i + 1 == args.size())
                return failure(name, option + " needs a value");
            value = args[++i];
        }
        long parsed = 0;
        if (!parseCount(value, parsed) || parsed < minimum || parsed > maximum)
            return failure(name, option + ": " + what + ", got " + quoted(value));
        *target = parsed;
    }
    return success(command);
}

ParseResult parseSet(std::vector<std::string> args) {
    const bool verify = takeVerify(args);
    if (args.empty())
        return failure("set", "expects vout, enable, dvs or ss");
    const std::string field = args[0];
    const std::string name = "set " + field;
    Command command;
    command.name = name;
    command.verify = verify;
    if (field == "vout")
        command.kind = CommandKind::SetVout;
    else if (field == "enable")
        command.kind = CommandKind::SetEnable;
    else if (field == "dvs")
        command.kind = CommandKind::SetDvs;
    else if (field == "ss")
        command.kind = CommandKind::SetSs;
    else
        return failure("set", "unknown setting " + quoted(field) + " (vout, enable, dvs or ss)");
    if (args.size() != 3)
        return failure(name, "expects a regulator and a value");
    if (!parseRegulator(args[1], command.regulator))
        return failure(name, "VR must be 1, 2 or 3 (or VR1 to VR3), got " + quoted(args[1]));
    const std::string &value = args[2];
    switch (command.kind) {
    case CommandKind::SetVout: {
        double volts = 0;
        if (!parseDecimal(value, volts))
            return failure(name, "VOLTS must be a number, got " + quoted(value));
        if (!regulator::targetInRange(volts))
            return failure(name, value + " V is outside the range " +
                                     fixed(regulator::TARGET_MIN_V, 1) + " to " +
                                     fixed(regulator::TARGET_MAX_V, 3) + " V");
        command.code = regulator::dacCodeFromVolts(volts);
        break;
    }
    case CommandKind::SetEnable:
        if (!parseOnOff(value, command.on))
            return failure(name, "expects on or off, got " + quoted(value));
        break;
    default: {
        const RateLabels &labels =
            command.kind == CommandKind::SetDvs ? dvs_rate_labels : ss_rate_labels;
        command.code = rateCodeFromText(labels, value);
        if (command.code < 0)
            return failure(name, "RATE must be a rate in mV/us (0.5, 1.0, 2.0, 3.9, 7.8, 15.4, "
                                 "30.8, 61.5, 123, 246, 492, 984, 1968, 3936, 7872, 15744) or "
                                 "a code from 0 to 15, got " +
                                     quoted(value));
        break;
    }
    }
    return success(command);
}

// The device model's own text for an access its rules refuse, or "" when they
// allow it. A model without a bus serves: the rules are checked before any
// transfer, and cached reads and field writes never reach the bus.
std::string refusedAccess(bool write, int address) {
    IvrDevice rules(nullptr, 0, 0);
    try {
        if (write)
            rules.write_field(RegisterField(uint8_t(address), 0xFF), 0);
        else
            rules.read_register(uint8_t(address), false, false);
    } catch (const std::string &text) {
        return text;
    }
    return std::string();
}

ParseResult parseReg(std::vector<std::string> args) {
    const bool verify = takeVerify(args);
    if (args.empty())
        return failure("reg", "expects get or set");
    const std::string name = "reg " + args[0];
    Command command;
    command.name = name;
    command.verify = verify;
    size_t expected = 0;
    if (args[0] == "get") {
        command.kind = CommandKind::RegGet;
        expected = 2;
        if (verify)
            return failure(name, "--verify applies to writes only");
    } else if (args[0] == "set") {
        command.kind = CommandKind::RegSet;
        expected = 3;
    } else {
        return failure("reg", "unknown operation " + quoted(args[0]) + " (get or set)");
    }
    if (args.size() != expected)
        return failure(name,
                       expected == 2 ? "expects an address" : "expects an address and a value");
    if (!parseByte(args[1], command.address))
        return failure(name,
                       "ADDR must be a byte, 0x00 to 0xff or 0 to 255, got " + quoted(args[1]));
    if (command.kind == CommandKind::RegSet && !parseByte(args[2], command.code))
        return failure(name,
                       "VALUE must be a byte, 0x00 to 0xff or 0 to 255, got " + quoted(args[2]));
    const std::string refused = refusedAccess(command.kind == CommandKind::RegSet, command.address);
    if (!refused.empty())
        return failure(name, refused);
    if (verify && !isReadable(uint8_t(command.address)))
        return failure(name, "--verify cannot read back the write-only register " +
                                 hex2(command.address));
    return success(command);
}

ParseResult parseFileCommand(const std::string &name, CommandKind kind,
                             std::vector<std::string> args) {
    Command command;
    command.kind = kind;
    command.name = name;
    if (kind == CommandKind::Load)
        command.verify = takeVerify(args);
    for (const std::string &arg : args) {
        if (arg.size() > 1 && arg[0] == '-')
            return failure(name, "unknown option " + quoted(arg));
    }
    if (args.size() != 1)
        return failure(name, args.empty() ? "expects a file name" : "expects one file name");
    if (args[0].empty())
        return failure(name, "the file name is empty");
    command.file = args[0];
    return success(command);
}

} // namespace

bool tokenizeLine(const std::string &line, std::vector<Word> &words, std::string &error) {
    Word current;
    bool inWord = false;
    char quote = 0;
    auto finish = [&] {
        if (inWord)
            words.push_back(current);
        current = Word();
        inWord = false;
    };
    for (size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (quote) {
            if (c == quote)
                quote = 0;
            else
                current.text += c;
            continue;
        }
        if (c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f') {
            finish();
        } else if (c == ';') {
            finish();
            Word separator;
            separator.separator = true;
            words.push_back(separator);
        } else if (c == '#' && !inWord) {
            break;
        } else if (c == '"' || c == '\'') {
            quote = c;
            inWord = true;
        } else {
            current.text += c;
            inWord = true;
        }
    }
    if (quote) {
        error = std::string("unterminated ") + (quote == '"' ? "double" : "single") + " quote";
        return false;
    }
    finish();
    return true;
}

bool wordsFromArguments(const std::vector<std::string> &arguments, std::vector<Word> &words,
                        std::string &error) {
    bool commandStart = true;
    for (const std::string &argument : arguments) {
        const bool script = argument.find(';') != std::string::npos ||
                            (commandStart && argument.find_first_of(" \t") != std::string::npos);
        if (!script)
            words.push_back({argument, false});
        else if (!tokenizeLine(argument, words, error))
            return false;
        commandStart = !words.empty() && words.back().separator;
    }
    return true;
}

ParseResult parseCommands(const std::vector<Word> &words) {
    ParseResult all;
    std::vector<std::string> current;
    for (size_t i = 0; i <= words.size(); ++i) {
        if (i < words.size() && !words[i].separator) {
            current.push_back(words[i].text);
            continue;
        }
        if (current.empty())
            continue;
        ParseResult one = parseCommand(current);
        if (!one.ok())
            return one;
        all.commands.push_back(one.commands.front());
        current.clear();
    }
    return all;
}

ParseResult parseCommand(const std::vector<std::string> &words) {
    if (words.empty())
        return failure("", "no command");
    const std::string &verb = words[0];
    const std::vector<std::string> args(words.begin() + 1, words.end());
    if (verb == "power")
        return parseOnOffCommand(verb, CommandKind::Power, args);
    if (verb == "pvin")
        return parseOnOffCommand(verb, CommandKind::Pvin, args);
    if (verb == "detect")
        return parseNoArgument(verb, CommandKind::Detect, args);
    if (verb == "status")
        return parseNoArgument(verb, CommandKind::Status, args);
    if (verb == "dump")
        return parseNoArgument(verb, CommandKind::Dump, args);
    if (verb == "telemetry")
        return parseTelemetry(args);
    if (verb == "set")
        return parseSet(args);
    if (verb == "reg")
        return parseReg(args);
    if (verb == "save")
        return parseFileCommand(verb, CommandKind::Save, args);
    if (verb == "load")
        return parseFileCommand(verb, CommandKind::Load, args);
    std::string message = "unknown command " + quoted(verb);
    if (verb.find_first_of(" \t") != std::string::npos)
        message += " (give each word as its own argument, or separate commands with ';')";
    return failure("", message);
}

std::string usageOf(const std::string &command) {
    const auto it = usageTable().find(command);
    if (it == usageTable().end())
        return std::string();
    std::string text;
    for (const std::string &form : it->second)
        text += (text.empty() ? "usage: qm44xx-ctl " : "       qm44xx-ctl ") + form + "\n";
    return text;
}

} // namespace ctl
