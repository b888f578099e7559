#include "ctl/ctl.h"

#include "ctl/command_parser.h"
#include "ctl/commands.h"
#include "device/chip_table.h"
#include "device/text.h"
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

// Done when the output reached its reader, a failure with a message otherwise.
int printed(std::ostream &out, std::ostream &err) {
    if (out.flush())
        return EXIT_DONE;
    err << PROGRAM << "cannot write the output\n";
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

// Each command's synopsis and help lines from the command table; help starts in
// column 23, beside a short synopsis or under a long one.
std::string commandsHelp() {
    constexpr size_t COLUMN = 22;
    std::string text;
    for (const CommandEntry &entry : commandTable()) {
        std::string line = "  " + entry.synopsis();
        for (const std::string &help : entry.help) {
            if (line.size() + 2 > COLUMN) {
                text += line + "\n";
                line.clear();
            }
            line.resize(COLUMN, ' ');
            line += help;
        }
        text += line + "\n";
    }
    return text;
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
           "Commands:\n" +
           commandsHelp() +
           "set, reg set and load accept --verify. VR is 1 to 3 (or VR1 to VR3).\n"
           "\n"
           "The chip answers only while EN is high: on a fresh board start with 'power on'.\n"
           "Commands that need the chip identify it by themselves when EN is already high.\n"
           "\n"
           "Exit status: 0 done, 1 usage or file error, 2 board or link error.\n";
}

int run(const std::vector<std::string> &arguments, std::istream &in, std::ostream &out,
        std::ostream &err, const Clock &clock) {
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
            return printed(out << helpText(), err);
        } else if (argument == "--version" || argument == "-V") {
            return printed(out << versionText(), err);
        } else {
            return optionError(err, "unknown option " + text::quoted(argument));
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
    Session session(out, err, clock, trace, verify, fromArguments ? &in : nullptr);
    if (fromArguments)
        return runCommands(session, parsed.commands, err, "");
    return runStandardInput(session, in, err);
}

} // namespace ctl
