#include "server/server.h"

#include "device/chip_table.h"
#include "device/text.h"
#include "sim/simulation.h"

#include <algorithm>

namespace server {

namespace {
bool parseNumber(const std::string &text, long low, long high, long &value) {
    long n = 0;
    if (!text::parseCount(text, n) || n < low || n > high)
        return false;
    value = n;
    return true;
}
} // namespace

bool parseOptions(const std::vector<std::string> &arguments, Options &options, std::string &error) {
    for (size_t i = 0; i < arguments.size(); ++i) {
        std::string argument = arguments[i];
        std::string model;
        if (parseSimulateArgument(argument, model, error)) {
            if (!error.empty())
                return false;
            options.simulate.push_back(model);
            continue;
        }
        if (argument == "-h" || argument == "--help") {
            options.help = true;
            continue;
        }
        if (argument == "-V" || argument == "--version") {
            options.version = true;
            continue;
        }
        if (argument == "--read-only") {
            options.readOnly = true;
            continue;
        }
        // --name VALUE or --name=VALUE
        const text::OptionWord word = text::splitOption(argument);
        const std::string &name = word.name;
        std::string value = word.value;
        const bool hasValue = word.hasValue;
        static const std::vector<std::string> valued = {
            "--device",   "--listen",      "--port",        "--metrics",
            "--interval", "--max-clients", "--idle-timeout"};
        if (std::find(valued.begin(), valued.end(), name) == valued.end()) {
            error = argument.rfind("-", 0) == 0 ? "unknown option '" + argument + "'"
                                                : "unexpected argument '" + argument + "'";
            return false;
        }
        if (!hasValue) {
            if (i + 1 >= arguments.size()) {
                error = "option '" + name + "' needs a value";
                return false;
            }
            value = arguments[++i];
        }
        long number = 0;
        if (name == "--device") {
            if (value.empty()) {
                error = "--device needs a path";
                return false;
            }
            options.devices.push_back(value);
        } else if (name == "--listen") {
            if (value.empty()) {
                error = "--listen needs an address";
                return false;
            }
            options.listen = value;
        } else if (name == "--metrics") {
            options.metrics = value == "off" ? std::string() : value;
            const size_t colon = value.rfind(':');
            if (value != "off" && (colon == std::string::npos || colon == 0 ||
                                   !parseNumber(value.substr(colon + 1), 0, 65535, number))) {
                error = "--metrics takes ADDR:PORT or off, not '" + value + "'";
                return false;
            }
        } else if (name == "--port") {
            if (!parseNumber(value, 0, 65535, number)) {
                error = "--port takes a port number 0 to 65535, not '" + value + "'";
                return false;
            }
            options.port = int(number);
        } else if (name == "--interval") {
            if (!parseNumber(value, 10, 3600000, number)) {
                error = "--interval takes milliseconds, 10 to 3600000, not '" + value + "'";
                return false;
            }
            options.intervalMs = int(number);
        } else if (name == "--max-clients") {
            if (!parseNumber(value, 1, 1000, number)) {
                error = "--max-clients takes a number 1 to 1000, not '" + value + "'";
                return false;
            }
            options.maxClients = int(number);
        } else if (name == "--idle-timeout") {
            if (!parseNumber(value, 0, 864000, number)) {
                error = "--idle-timeout takes seconds, 0 (never) to 864000, not '" + value + "'";
                return false;
            }
            options.idleTimeoutS = int(number);
        }
    }
    return true;
}

std::string versionText() {
    return std::string("qm44xx-server ") + QM_VERSION + "\n";
}

std::string helpText() {
    return "Usage: qm44xx-server [OPTION]...\n"
           "Serves every QM44xxC evaluation board of this host as a networked instrument:\n"
           "SCPI over TCP (one port per board, newline-terminated, as a VISA\n"
           "TCPIP0::HOST::PORT::SOCKET resource) and Prometheus metrics over HTTP.\n"
           "Without --device or --simulate it serves every bridge found, now and later.\n"
           "SCPI has no authentication: keep --listen on loopback and reach it through\n"
           "an SSH tunnel (ssh -L 5025:127.0.0.1:5025 HOST).\n"
           "\n"
           "Options:\n"
           "  --device PATH         serve the bridge at PATH (repeatable)\n"
           "  --simulate[=MODEL]    serve a simulated board with a chip of this model\n"
           "                        (" +
           chipModelNames() + "; default " + DEFAULT_SIMULATED_MODEL +
           "; repeatable)\n"
           "  --listen ADDR         address of the SCPI ports (default 127.0.0.1)\n"
           "  --port N              the first board's SCPI port, the next boards' the ports\n"
           "                        after it (default 5025); 0: ports the system picks\n"
           "  --metrics ADDR:PORT   where /metrics is served (default 127.0.0.1:9825;\n"
           "                        port 0: one the system picks; off: not served)\n"
           "  --interval MS         the poll behind the metrics (default 1000)\n"
           "  --max-clients N       SCPI clients per board at once (default 8)\n"
           "  --idle-timeout S      close a client silent this long (default 3600; 0: never)\n"
           "  --read-only           serve queries and metrics only; settings are refused\n"
           "  -h, --help            show this help and exit\n"
           "  -V, --version         show the version and exit\n"
           "\n"
           "One line per board served goes to standard output, e.g.\n"
           "  board sim:QM4434 serial SIM0001: SCPI on 127.0.0.1:5025\n"
           "  metrics on http://127.0.0.1:9825/metrics\n"
           "The command set is in server/README.md.\n";
}

} // namespace server
