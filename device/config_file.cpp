#include "device/config_file.h"

#include "device/chip_table.h"
#include "device/rate_labels.h"
#include "device/regulator.h"
#include "device/text.h"

#include <array>

using text::fixed;
using text::quoted;

namespace {

const std::array<const char *, 4> REGULATOR_KEYS = {"enable", "vout", "dvs", "ss"};

std::string trim(const std::string &text) {
    const char *blanks = " \t";
    const size_t first = text.find_first_not_of(blanks);
    if (first == std::string::npos)
        return std::string();
    const size_t last = text.find_last_not_of(blanks);
    return text.substr(first, last - first + 1);
}

std::string at(int line) {
    return "line " + std::to_string(line) + ": ";
}

std::string sectionName(int regulator) {
    return "[VR" + std::to_string(regulator) + "]";
}

int regulatorKeyIndex(const std::string &key) {
    for (size_t i = 0; i < REGULATOR_KEYS.size(); ++i) {
        if (key == REGULATOR_KEYS[i])
            return int(i);
    }
    return -1;
}

struct Section {
    int line = 0; // 0: not in the file
    std::array<int, 4> keyLines{};
    RegulatorSettings settings;
};

// Parses one value of a regulator section into the settings; "" or a message.
std::string parseRegulatorValue(int keyIndex, const std::string &value,
                                RegulatorSettings &settings) {
    const std::string key = REGULATOR_KEYS[size_t(keyIndex)];
    switch (keyIndex) {
    case 0:
        if (!text::parseOnOff(value, settings.enable))
            return key + ": expected on or off, got " + quoted(value);
        return std::string();
    case 1: {
        double volts = 0;
        if (!text::parseDecimal(value, volts))
            return key + ": expected a voltage, got " + quoted(value);
        if (!regulator::targetInRange(volts))
            return key + ": " + value + " V is outside the range " +
                   fixed(regulator::TARGET_MIN_V, 1) + " to " + fixed(regulator::TARGET_MAX_V, 3) +
                   " V";
        settings.dacCode = regulator::dacCodeFromVolts(volts);
        return std::string();
    }
    default: {
        const bool dvs = keyIndex == 2;
        const int code = rateCodeFromText(dvs ? dvs_rate_labels : ss_rate_labels, value);
        if (code < 0)
            return key + ": expected a rate in mV/us or a code from 0 to 15, got " + quoted(value);
        (dvs ? settings.dvsCode : settings.ssCode) = code;
        return std::string();
    }
    }
}

ConfigParseResult failed(const std::string &message) {
    ConfigParseResult result;
    result.error = message;
    return result;
}

} // namespace

ConfigParseResult parseConfig(const std::string &text) {
    if (text.size() > MAX_CONFIG_SIZE)
        return failed("larger than " + std::to_string(MAX_CONFIG_SIZE) +
                      " bytes: not a configuration file");
    const ChipDescriptor *model = nullptr;
    ChipSettings config;
    int chipLine = 0;
    std::array<Section, 4> sections; // index 1..3
    int current = 0;                 // 0: before the first section

    // Editors on Windows like to lead a UTF-8 file with a byte-order mark.
    const std::string bom = "\xEF\xBB\xBF";
    size_t start = text.compare(0, bom.size(), bom) == 0 ? bom.size() : 0;
    for (int lineNumber = 1; start <= text.size(); ++lineNumber) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        std::string line = text.substr(start, end - start);
        start = end + 1;
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        line = trim(line);
        if (line.empty() || line[0] == '#' || line[0] == ';')
            continue;

        if (line[0] == '[') {
            const std::string name =
                line.back() == ']' ? trim(line.substr(1, line.size() - 2)) : std::string();
            const bool vr = name.size() == 3 && (name[0] == 'V' || name[0] == 'v') &&
                            (name[1] == 'R' || name[1] == 'r') && name[2] >= '1' && name[2] <= '3';
            if (!vr)
                return failed(at(lineNumber) + "unknown section " + quoted(line) +
                              " (expected [VR1], [VR2] or [VR3])");
            const int regulator = name[2] - '0';
            if (!model)
                return failed(at(lineNumber) + sectionName(regulator) +
                              " comes before the key 'chip' (the file starts with chip = MODEL)");
            if (regulator > model->regulator_count)
                return failed(at(lineNumber) + "section " + sectionName(regulator) + " but " +
                              model->chip_name + " has " + std::to_string(model->regulator_count) +
                              " regulator" + (model->regulator_count == 1 ? "" : "s"));
            if (sections[size_t(regulator)].line)
                return failed(at(lineNumber) + "section " + sectionName(regulator) +
                              " appears twice");
            sections[size_t(regulator)].line = lineNumber;
            current = regulator;
            continue;
        }

        const size_t equals = line.find('=');
        const std::string key = equals == std::string::npos ? "" : trim(line.substr(0, equals));
        if (key.empty())
            return failed(at(lineNumber) +
                          "expected 'key = value', a [VRn] section or a "
                          "comment, got " +
                          quoted(line));
        const std::string value = trim(line.substr(equals + 1));

        if (key == "chip") {
            if (current)
                return failed(at(lineNumber) + "the key 'chip' belongs before the first section");
            if (model)
                return failed(at(lineNumber) + "the key 'chip' appears twice");
            model = findChipModel(value);
            if (!model)
                return failed(at(lineNumber) + "chip: unknown model " + quoted(value) +
                              " (known: " + chipModelNames() + ")");
            config.chip = model->chip_name;
            chipLine = lineNumber;
            continue;
        }
        const int keyIndex = regulatorKeyIndex(key);
        if (keyIndex < 0)
            return failed(at(lineNumber) + "unknown key " + quoted(key));
        if (!current)
            return failed(at(lineNumber) + "the key '" + key + "' belongs in a [VRn] section");
        Section &section = sections[size_t(current)];
        if (section.keyLines[size_t(keyIndex)])
            return failed(at(lineNumber) + "the key '" + key + "' appears twice in " +
                          sectionName(current));
        const std::string problem = parseRegulatorValue(keyIndex, value, section.settings);
        if (!problem.empty())
            return failed(at(lineNumber) + problem);
        section.keyLines[size_t(keyIndex)] = lineNumber;
    }

    if (!model)
        return failed("missing key 'chip'");
    for (int regulator = 1; regulator <= model->regulator_count; ++regulator) {
        const Section &section = sections[size_t(regulator)];
        if (!section.line)
            return failed("missing section " + sectionName(regulator) + " (" + model->chip_name +
                          " has " + std::to_string(model->regulator_count) + " regulators)");
        for (size_t k = 0; k < REGULATOR_KEYS.size(); ++k) {
            if (!section.keyLines[k])
                return failed(sectionName(regulator) + ": missing key '" + REGULATOR_KEYS[k] + "'");
        }
        config.regulators.push_back(section.settings);
    }
    ConfigParseResult result;
    result.config = config;
    result.chipLine = chipLine;
    return result;
}

std::string formatConfig(const ChipSettings &config, const std::string &writer) {
    std::string text = "# QM44xxC regulator settings, written by " + writer +
                       "\n"
                       "# enable: on or off; vout: output target in volts, 0.5 to 1.202\n"
                       "# dvs, ss: rate in mV/us (" +
                       joinedRateLabels(0, 9, " ") + "\n#          " +
                       joinedRateLabels(10, 15, " ") + ") or its code 0 to 15\n";
    text += "chip = " + config.chip + "\n";
    for (size_t i = 0; i < config.regulators.size(); ++i) {
        const RegulatorSettings &vr = config.regulators[i];
        text += "\n" + sectionName(int(i) + 1) + "\n";
        text += std::string("enable = ") + (vr.enable ? "on" : "off") + "\n";
        text += "vout = " + fixed(regulator::voltsFromDacCode(vr.dacCode), 4) + "\n";
        text += "dvs = " + dvs_rate_labels[size_t(vr.dvsCode & 0x0F)] + "\n";
        text += "ss = " + ss_rate_labels[size_t(vr.ssCode & 0x0F)] + "\n";
    }
    return text;
}
