// qm44xx-ctl's configuration file reader (parseConfig) on arbitrary bytes;
// the seed corpus holds valid files of each model for the fuzzer to mutate.
//
// Checked: nothing is thrown; a file is either accepted as a complete
// configuration for exactly the regulators of the model it names, every value
// in range, or refused with a printable message that names a line (within the
// file), a missing key or a missing section, or says the file is too large
// (only when it is). Every accepted configuration, written by formatConfig,
// is accepted again as the same configuration, and writing that gives the same
// text; the accepted file padded with a comment to exactly the largest size is
// still accepted, and one byte more is refused.
#include "device/chip_table.h"
#include "device/config_file.h"
#include "fuzz_input.h"

#include <algorithm>
#include <exception>

namespace {

const std::string TOO_LARGE =
    "larger than " + std::to_string(MAX_CONFIG_SIZE) + " bytes: not a configuration file";

// Line n (from 1) of the text, without its line end; "" past the end.
// Line n of a file, as the reader sees it (a leading byte-order mark is skipped).
std::string lineOf(const std::string &text, int n) {
    const std::string bom = "\xEF\xBB\xBF";
    size_t start = text.compare(0, bom.size(), bom) == 0 ? bom.size() : 0;
    for (int i = 1; i < n; ++i) {
        start = text.find('\n', start);
        if (start == std::string::npos)
            return std::string();
        ++start;
    }
    const size_t end = text.find('\n', start);
    return text.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

int lineCount(const std::string &text) {
    return int(std::count(text.begin(), text.end(), '\n')) + 1;
}

// "chip", blanks, "=": the line of the chip key.
bool chipKeyLine(const std::string &line) {
    const size_t first = line.find_first_not_of(" \t");
    if (first == std::string::npos || line.compare(first, 4, "chip") != 0)
        return false;
    const size_t equals = line.find_first_not_of(" \t", first + 4);
    return equals != std::string::npos && line[equals] == '=';
}

bool sameSettings(const ChipSettings &a, const ChipSettings &b) {
    if (a.chip != b.chip || a.regulators.size() != b.regulators.size())
        return false;
    for (size_t i = 0; i < a.regulators.size(); ++i) {
        const RegulatorSettings &x = a.regulators[i];
        const RegulatorSettings &y = b.regulators[i];
        if (x.enable != y.enable || x.dacCode != y.dacCode || x.dvsCode != y.dvsCode ||
            x.ssCode != y.ssCode)
            return false;
    }
    return true;
}

// The number at the start of text, or -1 when there is none.
long leadingNumber(const std::string &text, size_t &length) {
    length = 0;
    long value = 0;
    while (length < text.size() && length < 9 && text[length] >= '0' && text[length] <= '9')
        value = value * 10 + (text[length++] - '0');
    return length ? value : -1;
}

bool regulatorKey(const std::string &key) {
    return key == "enable" || key == "vout" || key == "dvs" || key == "ss";
}

// A refusal names a line of the file, a missing key or section, or the size.
void checkRefusal(const std::string &text, const std::string &error) {
    FUZZ_CHECK(!error.empty() && printable(error), "error [%s]", escaped(error).c_str());
    if (text.size() > MAX_CONFIG_SIZE) {
        FUZZ_CHECK(error == TOO_LARGE, "%zu bytes: error [%s]", text.size(), error.c_str());
        return;
    }
    size_t digits = 0;
    if (startsWith(error, "line ")) {
        const long line = leadingNumber(error.substr(5), digits);
        FUZZ_CHECK(line >= 1 && line <= lineCount(text) &&
                       error.compare(5 + digits, 2, ": ") == 0 && error.size() > 7 + digits,
                   "error [%s] for a file of %d lines", error.c_str(), lineCount(text));
        return;
    }
    if (error == "missing key 'chip'")
        return;
    const bool section = error.size() > 6 && startsWith(error, "[VR") && error[3] >= '1' &&
                         error[3] <= '3' && error.compare(4, 1, "]") == 0;
    if (section && error.compare(5, 15, ": missing key '") == 0 && error.back() == '\'') {
        const std::string key = error.substr(20, error.size() - 21);
        FUZZ_CHECK(regulatorKey(key), "error [%s]", error.c_str());
        return;
    }
    FUZZ_CHECK(startsWith(error, "missing section [VR") && error.size() > 21 && error[19] >= '1' &&
                   error[19] <= '3' && error.compare(20, 3, "] (") == 0,
               "error [%s] names no line, key or section", error.c_str());
}

// An accepted file: the named model's regulators, each value in range; the
// configuration survives being written and read back.
void checkAccepted(const std::string &text, const ChipSettings &config, int chipLine) {
    const ChipDescriptor *model = findChipModel(config.chip);
    FUZZ_CHECK(model && config.regulators.size() == model->regulator_count,
               "chip [%s] with %zu regulators", escaped(config.chip).c_str(),
               config.regulators.size());
    FUZZ_CHECK(chipLine >= 1 && chipKeyLine(lineOf(text, chipLine)), "chip key on line %d: [%s]",
               chipLine, escaped(lineOf(text, chipLine)).c_str());
    for (size_t i = 0; i < config.regulators.size(); ++i) {
        const RegulatorSettings &vr = config.regulators[i];
        FUZZ_CHECK(vr.dacCode >= 57 && vr.dacCode <= 228 && vr.dvsCode >= 0 && vr.dvsCode <= 15 &&
                       vr.ssCode >= 0 && vr.ssCode <= 15,
                   "VR%zu: DAC %d, dvs %d, ss %d", i + 1, vr.dacCode, vr.dvsCode, vr.ssCode);
    }

    const std::string written = formatConfig(config);
    const ConfigParseResult again = parseConfig(written);
    FUZZ_CHECK(again.ok(), "written file refused: %s\n%s", again.error.c_str(), written.c_str());
    FUZZ_CHECK(sameSettings(again.config, config), "written file reads differently:\n%s",
               written.c_str());
    FUZZ_CHECK(chipKeyLine(lineOf(written, again.chipLine)), "chip key on line %d of\n%s",
               again.chipLine, written.c_str());
    FUZZ_CHECK(formatConfig(again.config) == written, "writing again differs from\n%s",
               written.c_str());

    // Up to the largest size a file is read; past it, refused unread.
    std::string padded = text;
    if (!padded.empty() && padded.back() != '\n')
        padded += '\n';
    if (padded.size() < MAX_CONFIG_SIZE) {
        padded += '#';
        padded.resize(MAX_CONFIG_SIZE, 'x');
        const ConfigParseResult largest = parseConfig(padded);
        FUZZ_CHECK(largest.ok() && sameSettings(largest.config, config),
                   "padded to %zu bytes: [%s]", padded.size(), largest.error.c_str());
        padded += 'x';
        FUZZ_CHECK(parseConfig(padded).error == TOO_LARGE, "%zu bytes accepted", padded.size());
    }
}

void run(const uint8_t *data, size_t size) {
    const std::string text(reinterpret_cast<const char *>(data), size);
    const ConfigParseResult result = parseConfig(text);
    if (result.ok())
        checkAccepted(text, result.config, result.chipLine);
    else
        checkRefusal(text, result.error);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    return runChecked(run, data, size);
}
