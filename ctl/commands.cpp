#include "ctl/commands.h"

#include "ctl/encoding.h"
#include "ctl/session.h"
#include "device/ivr_device.h"
#include "device/rate_labels.h"
#include "device/register_access.h"
#include "device/register_map.h"
#include "device/regulator.h"
#include "device/text.h"

namespace ctl {

namespace {

constexpr long MAX_INTERVAL_MS = 3600000; // one hour between samples
constexpr long MAX_AVERAGE = 1000;

std::string onOff(const std::vector<std::string> &args, Command &command) {
    if (args.size() != 1)
        return args.empty() ? "expects on or off" : "expects one argument";
    if (!text::parseOnOff(args[0], command.on))
        return "expects on or off, got " + text::quoted(args[0]);
    return std::string();
}

std::string noArguments(const std::vector<std::string> &args, Command &) {
    return args.empty() ? std::string() : "takes no arguments, got " + text::quoted(args[0]);
}

std::string statusOptions(const std::vector<std::string> &args, Command &command) {
    for (const std::string &arg : args) {
        if (arg == "--check")
            command.check = true;
        else if (arg.size() > 1 && arg[0] == '-')
            return "unknown option " + text::quoted(arg);
        else
            return "takes no arguments, got " + text::quoted(arg);
    }
    return std::string();
}

std::string telemetryOptions(const std::vector<std::string> &args, Command &command) {
    TelemetryOptions &options = command.telemetry;
    for (size_t i = 0; i < args.size(); ++i) {
        const text::OptionWord word = text::splitOption(args[i]);
        const std::string &option = word.name;
        std::string value = word.value;
        const bool hasValue = word.hasValue;
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
            return "unknown option " + text::quoted(args[i]);
        }
        if (!hasValue) {
            if (i + 1 == args.size())
                return option + " needs a value";
            value = args[++i];
        }
        long parsed = 0;
        if (!text::parseCount(value, parsed) || parsed < minimum || parsed > maximum)
            return option + ": " + what + ", got " + text::quoted(value);
        *target = parsed;
    }
    if (options.csv && command.json)
        return "--csv and --json exclude each other";
    return std::string();
}

// The regulator of a set command; its value is left in value.
std::string regulatorAndValue(const std::vector<std::string> &args, Command &command,
                              std::string &value) {
    if (args.size() != 2)
        return "expects a regulator and a value";
    if (!parseRegulator(args[0], command.regulator))
        return "VR must be 1, 2 or 3 (or VR1 to VR3), got " + text::quoted(args[0]);
    value = args[1];
    return std::string();
}

std::string voutSetting(const std::vector<std::string> &args, Command &command) {
    std::string value;
    std::string error = regulatorAndValue(args, command, value);
    if (!error.empty())
        return error;
    double volts = 0;
    if (!text::parseDecimal(value, volts))
        return "VOLTS must be a number, got " + text::quoted(value);
    if (!regulator::targetInRange(volts))
        return value + " V is outside the range " + text::fixed(regulator::TARGET_MIN_V, 1) +
               " to " + text::fixed(regulator::TARGET_MAX_V, 3) + " V";
    command.code = regulator::dacCodeFromVolts(volts);
    return std::string();
}

std::string enableSetting(const std::vector<std::string> &args, Command &command) {
    std::string value;
    std::string error = regulatorAndValue(args, command, value);
    if (error.empty() && !text::parseOnOff(value, command.on))
        error = "expects on or off, got " + text::quoted(value);
    return error;
}

std::string rateSetting(const RateLabels &labels, const std::vector<std::string> &args,
                        Command &command) {
    std::string value;
    std::string error = regulatorAndValue(args, command, value);
    if (!error.empty())
        return error;
    command.code = rateCodeFromText(labels, value);
    if (command.code < 0)
        return "RATE must be a rate in mV/us (" + joinedRateLabels(0, 15, ", ") +
               ") or a code from 0 to 15, got " + text::quoted(value);
    return std::string();
}

std::string dvsSetting(const std::vector<std::string> &args, Command &command) {
    return rateSetting(dvs_rate_labels, args, command);
}

std::string ssSetting(const std::vector<std::string> &args, Command &command) {
    return rateSetting(ss_rate_labels, args, command);
}

const char *const BYTE_RULE = "must be a byte, 0x00 to 0xff or 0 to 255, got ";

std::string registerRead(const std::vector<std::string> &args, Command &command) {
    if (args.size() != 1)
        return "expects an address";
    if (!parseByte(args[0], command.address))
        return std::string("ADDR ") + BYTE_RULE + text::quoted(args[0]);
    return accessRefusal(uint8_t(command.address), false);
}

std::string registerWrite(const std::vector<std::string> &args, Command &command) {
    if (args.size() != 2)
        return "expects an address and a value";
    if (!parseByte(args[0], command.address))
        return std::string("ADDR ") + BYTE_RULE + text::quoted(args[0]);
    if (!parseByte(args[1], command.code))
        return std::string("VALUE ") + BYTE_RULE + text::quoted(args[1]);
    const std::string refused = accessRefusal(uint8_t(command.address), true);
    if (!refused.empty())
        return refused;
    if (command.verify && !isReadable(uint8_t(command.address)))
        return "--verify cannot read back the write-only register " + text::hex2(command.address);
    return std::string();
}

std::string fileName(const std::vector<std::string> &args, Command &command) {
    for (const std::string &arg : args) {
        if (arg.size() > 1 && arg[0] == '-')
            return "unknown option " + text::quoted(arg);
    }
    if (args.size() != 1)
        return args.empty() ? "expects a file name" : "expects one file name";
    if (args[0].empty())
        return "the file name is empty";
    command.file = args[0];
    return std::string();
}

using V = VerifyOption;

} // namespace

const std::vector<CommandEntry> &commandTable() {
    static const std::vector<CommandEntry> table = {
        {{"list"},
         "",
         V::None,
         true,
         {"every bridge connected, one per line: path, serial number,",
          "manufacturer and product, tab-separated; opens none"},
         noArguments,
         &Session::list},
        {{"power"},
         "on|off",
         V::None,
         false,
         {"raise EN, then identify the chip and read its settings;", "or lower EN"},
         onOff,
         &Session::power},
        {{"pvin"},
         "on|off",
         V::None,
         false,
         {"switch the board's input supply"},
         onOff,
         &Session::pvin},
        {{"detect"},
         "",
         V::None,
         true,
         {"identify the chip without touching EN: model, I2C address,", "chip ID, regulator count"},
         noArguments,
         &Session::detect},
        {{"status"},
         "[--check]",
         V::None,
         true,
         {"fault flags of the chip and of each regulator:",
          "OK, WARN or FAIL; --check: exit 3 when one is FAIL"},
         statusOptions,
         &Session::status},
        {{"telemetry"},
         "[--interval MS] [--count N] [--average N] [--csv]",
         V::None,
         true,
         {"VIN, die temperature and each output voltage; N samples",
          "(default 1, 0 = until interrupted) MS apart (default 250),",
          "each the mean of --average readings; --csv: a header row,",
          "then one row per sample with an ISO 8601 time (UTC)"},
         telemetryOptions,
         &Session::telemetry},
        {{"set", "vout"},
         "VR VOLTS",
         V::Taken,
         false,
         {"output target, 0.5 to 1.202 V in steps of 4.1 mV (a value",
          "between steps takes the step below)"},
         voutSetting,
         &Session::setVout},
        {{"set", "enable"},
         "VR on|off",
         V::Taken,
         false,
         {"switch a regulator on or off"},
         enableSetting,
         &Session::setEnable},
        {{"set", "dvs"},
         "VR RATE",
         V::Taken,
         false,
         {"DVS rate: " + joinedRateLabels(0, 10, " "),
          joinedRateLabels(11, 15, " ") + " (mV/us), or its code 0 to 15"},
         dvsSetting,
         &Session::setDvs},
        {{"set", "ss"},
         "VR RATE",
         V::Taken,
         false,
         {"soft-start rate, as for dvs; also sets the current-limit",
          "code (rate code - 2, within 0 to 10)"},
         ssSetting,
         &Session::setSs},
        {{"reg", "get"},
         "ADDR",
         V::Refused,
         false,
         {"read one register (0x13 or 19)"},
         registerRead,
         &Session::regGet},
        {{"reg", "set"},
         "ADDR VALUE",
         V::Taken,
         false,
         {"write one register; a page register is followed by the", "update trigger"},
         registerWrite,
         &Session::regSet},
        {{"dump"},
         "",
         V::None,
         true,
         {"every readable register as a table"},
         noArguments,
         &Session::dump},
        {{"save"},
         "FILE",
         V::None,
         false,
         {"write the regulators' settings to FILE (- for standard", "output)"},
         fileName,
         &Session::save},
        {{"load"},
         "FILE",
         V::Taken,
         false,
         {"check FILE completely, then apply it (- for standard input)"},
         fileName,
         &Session::load},
    };
    return table;
}

std::string groupNoun(const std::string &verb) {
    return verb == "set" ? "setting" : "operation";
}

std::string CommandEntry::name() const {
    std::string text;
    for (const std::string &word : words)
        text += (text.empty() ? "" : " ") + word;
    return text;
}

std::string CommandEntry::synopsis() const {
    return arguments.empty() ? name() : name() + " " + arguments;
}

std::string CommandEntry::usage() const {
    return synopsis() + (json ? " [--json]" : "") +
           (verify == VerifyOption::Taken ? " [--verify]" : "");
}

} // namespace ctl
