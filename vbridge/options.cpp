#include "vbridge/options.h"

#include "device/chip_table.h"
#include "device/text.h"

#include <algorithm>

std::string virtualBridgeVersion() {
    return std::string("qm44xx-virtual-bridge ") + QM_VERSION + "\n";
}

std::string virtualBridgeUsage() {
    return "Usage: qm44xx-virtual-bridge [options]\n"
           "Plugs a simulated QM44xxC evaluation board into this Linux machine as a real\n"
           "HID device (through /dev/uhid): vendor 0x04D8, product 0xF02A, found by any\n"
           "program like a connected board. Runs until unplugged or stopped.\n"
           "\n"
           "  --model MODEL              chip behind the bridge: " +
           chipModelNames() +
           "\n"
           "                             (default QM4434)\n"
           "  --unplug-after-reports N   unplug after answering N output reports\n"
           "  --unplug-after-ms MS       unplug MS milliseconds after plugging in\n"
           "  --stall-after-reports N    stop answering after N output reports\n"
           "  --stall-after-ms MS        stop answering MS milliseconds after plugging in\n"
           "  --answer-delay-ms MS       answer each report MS milliseconds late (a slow\n"
           "                             board)\n"
           "  --name TEXT                device name (default \"QM44xxC evaluation board "
           "(virtual)\")\n"
           "  --uhid PATH                uhid node (default /dev/uhid)\n"
           "  -v, --verbose              log every report\n"
           "  -h, --help                 this text\n"
           "  -V, --version              the version\n"
           "\n"
           "Signals: SIGUSR1 unplugs now, SIGUSR2 stalls now, SIGINT and SIGTERM unplug\n"
           "and stop. Exit status: 0 after an unplug or a stop, 1 for a bad command line,\n"
           "when the device cannot be created or when uhid fails.\n";
}

OptionsResult parseVirtualBridgeOptions(const std::vector<std::string> &arguments,
                                        VirtualBridgeOptions &options, std::string &error) {
    for (size_t i = 0; i < arguments.size(); ++i) {
        const text::OptionWord word = text::splitOption(arguments[i]);
        const std::string &option = word.name;
        std::string value = word.value;
        const bool hasValue = word.hasValue;
        if (option == "-h" || option == "--help")
            return OptionsResult::Help;
        if (option == "-V" || option == "--version")
            return OptionsResult::Version;
        if (option == "-v" || option == "--verbose") {
            options.verbose = true;
            continue;
        }
        static const char *const withValue[] = {"--model",
                                                "--uhid",
                                                "--name",
                                                "--unplug-after-reports",
                                                "--unplug-after-ms",
                                                "--stall-after-reports",
                                                "--stall-after-ms",
                                                "--answer-delay-ms"};
        if (std::find(std::begin(withValue), std::end(withValue), option) == std::end(withValue)) {
            error = "unknown option " + arguments[i];
            return OptionsResult::Error;
        }
        if (!hasValue) {
            if (i + 1 >= arguments.size()) {
                error = option + " needs a value";
                return OptionsResult::Error;
            }
            value = arguments[++i];
        }
        if (option == "--model") {
            if (!findChipModel(value)) {
                error = "unknown chip model \"" + value + "\" (known: " + chipModelNames() + ")";
                return OptionsResult::Error;
            }
            options.model = value;
        } else if (option == "--uhid") {
            options.uhidPath = value;
        } else if (option == "--name") {
            options.name = value;
        } else {
            long count = 0;
            if (!text::parseCount(value, count)) {
                error = option + " needs a whole number, not \"" + value + "\"";
                return OptionsResult::Error;
            }
            if (option == "--unplug-after-reports")
                options.unplugAfterReports = count;
            else if (option == "--unplug-after-ms")
                options.unplugAfterMs = count;
            else if (option == "--stall-after-reports")
                options.stallAfterReports = count;
            else if (option == "--stall-after-ms")
                options.stallAfterMs = count;
            else
                options.answerDelayMs = count;
        }
    }
    return OptionsResult::Run;
}
