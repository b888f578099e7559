#include "ctl/ctl.h"

#include "ctl/command_parser.h"
#include "ctl/encoding.h"
#include "device/chip_table.h"
#include "sim/simulation.h"

#include <istream>
#include <ostream>

#ifndef QM_VERSION
#define QM_VERSION "0.0.0"
#endif

namespace ctl {

namespace {

const char *const PROGRAM = "qm44xx-ctl: ";

int report(std::ostream &err, const std::string &where, const CommandError &error) {
    err << PROGRAM << where << error.message << '\n' << error.usage;
    err.flush();
    return error.exitCode;
}

int optionError(std::ostream &err, const std::string &message) {
    err << PROGRAM << message << "\nTry 'qm44xx-ctl --help' for more information.\n";
    err.flush();
    return EXIT_USAGE;
}

// One line of at most MAX_LINE_LENGTH characters; false at the end of input.
bool readLine(std::istream &in, std::string &line, bool &tooLong) {
    line.clear();
    tooLong = false;
    bool any = false;
    char c = 0;
    while (in.get(c)) {
        any = true;
        if (c == '\n')
            return true;
        if (line.size() == MAX_LINE_LENGTH) {
            tooLong = true;
            return true;
        }
        line += c;
    }
    return any;
}

int runCommands(Session &session, const std::vector<Command> &commands, std::ostream &err,
                const std::string &where) {
    for (const Command &command : commands) {
        try {
            session.execute(command);
        } catch (const CommandError &error) {
            return report(err, where, error);
        }
    }
    return EXIT_DONE;
}

int runStandardInput(Session &session, std::istream &in, std::ostream &err) {
    std::string line;
    bool tooLong = false;
    for (long number = 1; readLine(in, line, tooLong); ++number) {
        const std::string where = "line " + std::to_string(number) + ": ";
        if (tooLong)
            return report(err, where,
                          {EXIT_USAGE,
                           "longer than " + std::to_string(MAX_LINE_LENGTH) + " characters",
                           std::string()});
        std::vector<Word> words;
        std::string error;
        if (!tokenizeLine(line, words, error))
            return report(err, where, {EXIT_USAGE, error, std::string()});
        const ParseResult parsed = parseCommands(words);
        if (!parsed.ok())
            return report(err, where, {EXIT_USAGE, parsed.error, parsed.usage});
        const int code = runCommands(session, parsed.commands, err, where);
        if (code != EXIT_DONE)
            return code;
    }
    return EXIT_DONE;
}

} // namespace

std::string versionText() {
    return std::string("qm44xx-ctl ") + QM_VERSION + "\n";
}

std::string helpText() {
    return "Usage: qm44xx-ctl [OPTION]... [COMMAND [ARG]... [; COMMAND [ARG]...]...]\n"
           "Drives the QM44xxC evaluation board from the command line or a script.\n"
           "Commands run in order in one process and stop at the first error; separate\n"
           "them with ';' (quoted from the shell), as in: qm44xx-ctl 'power on; status'.\n"
           "An argument that holds ';' or begins a command and holds a blank is split\n"
           "into words. With no command, commands are read from standard input, one or\n"
           "more per line.\n"
           "\n"
           "Options (before the first command):\n"
           "  --simulate[=MODEL]  use a simulated board with a chip of this model\n"
           "                      (" +
           chipModelNames() + "; default " + DEFAULT_SIMULATED_MODEL +
           ")\n"
           "  --trace             log every board transaction to standard error, time-stamped\n"
           "  --verify            read back every register that set, reg set and load write\n"
           "  -h, --help          show this help and exit\n"
           "  -V, --version       show the version and exit\n"
           "\n"
           "Commands:\n"
           "  power on|off        raise EN, then identify the chip and read its settings;\n"
           "                      or lower EN\n"
           "  pvin on|off         switch the board's input supply\n"
           "  detect              identify the chip without touching EN: model, I2C address,\n"
           "                      chip ID, regulator count\n"
           "  status              fault flags of the chip and of each regulator:\n"
           "                      OK, WARN or FAIL\n"
           "  telemetry [--interval MS] [--count N] [--average N] [--csv]\n"
           "                      VIN, die temperature and each output voltage; N samples\n"
           "                      (default 1, 0 = until interrupted) MS apart (default 250),\n"
           "                      each the mean of --average readings; --csv: a header row,\n"
           "                      then one row per sample with an ISO 8601 time (UTC)\n"
           "  set vout VR VOLTS   output target, 0.5 to 1.202 V in steps of 4.1 mV (a value\n"
           "                      between steps takes the step below)\n"
           "  set enable VR on|off\n"
           "  set dvs VR RATE     DVS rate: 0.5 1.0 2.0 3.9 7.8 15.4 30.8 61.5 123 246 492\n"
           "                      984 1968 3936 7872 15744 (mV/us), or its code 0 to 15\n"
           "  set ss VR RATE      soft-start rate, as for dvs; also sets the current-limit\n"
           "                      code (rate code - 2, within 0 to 10)\n"
           "  reg get ADDR        read one register (0x13 or 19)\n"
           "  reg set ADDR VALUE  write one register; a page register is followed by the\n"
           "                      update trigger\n"
           "  dump                every readable register as a table\n"
           "  save FILE           write the regulators' settings to FILE (- for standard\n"
           "                      output)\n"
           "  load FILE           check FILE completely, then apply it (- for standard input)\n"
           "set, reg set and load accept --verify. VR is 1 to 3 (or VR1 to VR3).\n"
           "\n"
           "The chip answers only while EN is high: on a fresh board start with 'power on'.\n"
           "Commands that need the chip identify it by themselves when EN is already high.\n"
           "\n"
           "Exit status: 0 done, 1 usage or file error, 2 board or link error.\n";
}

int run(const std::vector<std::string> &arguments, std::istream &in, std::ostream &out,
        std::ostream &err, const Environment &environment) {
    bool trace = false;
    bool verify = false;
    bool simulate = false;
    std::string model;
    size_t next = 0;
    for (; next < arguments.size(); ++next) {
        const std::string &argument = arguments[next];
        if (argument == "--") {
            ++next;
            break;
        }
        if (argument.size() < 2 || argument[0] != '-')
            break;
        std::string error;
        if (parseSimulateArgument(argument, model, error)) {
            if (!error.empty())
                return optionError(err, error);
            simulate = true;
        } else if (argument == "--trace") {
            trace = true;
        } else if (argument == "--verify") {
            verify = true;
        } else if (argument == "--help" || argument == "-h") {
            out << helpText() << std::flush;
            return EXIT_DONE;
        } else if (argument == "--version" || argument == "-V") {
            out << versionText() << std::flush;
            return EXIT_DONE;
        } else {
            return optionError(err, "unknown option " + quoted(argument));
        }
    }

    const bool fromArguments = next < arguments.size();
    ParseResult parsed;
    if (fromArguments) {
        // Every command is checked before the first one runs.
        std::vector<Word> words;
        std::string error;
        const std::vector<std::string> rest(arguments.begin() + long(next), arguments.end());
        if (!wordsFromArguments(rest, words, error))
            return report(err, "", {EXIT_USAGE, error, std::string()});
        parsed = parseCommands(words);
        if (!parsed.ok())
            return report(err, "", {EXIT_USAGE, parsed.error, parsed.usage});
    }

    if (simulate)
        startSimulation(model);
    Session session(out, err, environment, trace, verify, fromArguments ? &in : nullptr);
    if (fromArguments)
        return runCommands(session, parsed.commands, err, "");
    return runStandardInput(session, in, err);
}

} // namespace ctl
