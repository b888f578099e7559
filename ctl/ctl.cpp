#include "ctl/ctl.h"

#include "ctl/command_parser.h"
#include "ctl/commands.h"
#include "device/chip_table.h"
#include "device/text.h"
#include "sim/simulation.h"

#include <istream>
#include <ostream>

namespace ctl {

namespace {

const char *const PROGRAM = "qm44xx-ctl: ";

const char *const TRY_HELP = "Try 'qm44xx-ctl --help' for more information.\n";
const char *const PROMPT = "qm44xx-ctl> ";
const char *const TERMINAL_HINT =
    "Type commands, one or more per line (such as: power on; detect; status),\n"
    "and Ctrl-D to end; 'qm44xx-ctl --help' lists them.\n";

int report(std::ostream &err, const std::string &where, const CommandError &error) {
    err << PROGRAM << where << error.message << '\n';
    if (!error.hint.empty())
        err << PROGRAM << error.hint << '\n';
    err << error.usage;
    err.flush();
    return error.exitCode;
}

int optionError(std::ostream &err, const std::string &message) {
    err << PROGRAM << message << '\n' << TRY_HELP;
    err.flush();
    return EXIT_USAGE;
}

// A command the parser refused: the usage of the command, or for a word that is
// no command, the pointer to --help that an unknown option gets.
CommandError parseError(const ParseResult &parsed) {
    return {EXIT_USAGE, parsed.error, parsed.usage.empty() ? TRY_HELP : parsed.usage};
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

// One line of standard input; its commands run once the whole line parsed.
int runLine(Session &session, const std::string &line, bool tooLong, const std::string &where,
            std::ostream &err) {
    if (tooLong)
        return report(
            err, where,
            {EXIT_USAGE, "longer than " + std::to_string(MAX_LINE_LENGTH) + " characters"});
    std::vector<Word> words;
    std::string error;
    if (!tokenizeLine(line, words, error))
        return report(err, where, {EXIT_USAGE, error});
    const ParseResult parsed = parseCommands(words);
    if (!parsed.ok())
        return report(err, where, parseError(parsed));
    return runCommands(session, parsed.commands, err, where);
}

// Lines of commands until the end of input. A script stops at its first
// error; at a terminal each line gets a prompt, an error is reported and the
// next line read, and the exit code is the last line's.
int runStandardInput(Session &session, std::istream &in, std::ostream &err, bool terminal) {
    if (terminal)
        err << TERMINAL_HINT;
    std::string line;
    bool tooLong = false;
    int code = EXIT_DONE;
    for (long number = 1;; ++number) {
        if (terminal)
            err << PROMPT << std::flush;
        if (!readLine(in, line, tooLong))
            break;
        if (tooLong && terminal) {
            // The rest of the line is not read as the next one.
            char c = 0;
            while (in.get(c) && c != '\n') {
            }
        }
        code = runLine(session, line, tooLong, "line " + std::to_string(number) + ": ", err);
        if (code != EXIT_DONE && !terminal)
            return code;
    }
    if (terminal)
        err << std::endl; // the shell's prompt on a line of its own after Ctrl-D
    return code;
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

// "list, detect, status, telemetry and dump": the commands that take --json.
std::string jsonCommands() {
    std::vector<std::string> names;
    for (const CommandEntry &entry : commandTable()) {
        if (entry.json)
            names.push_back(entry.name());
    }
    return text::joinedList(names, "and");
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
           "more per line (at a terminal, after the prompt qm44xx-ctl>).\n"
           "\n"
           "Options (before the first command):\n"
           "  --simulate[=MODEL]  use a simulated board with a chip of this model\n"
           "                      (" +
           chipModelNames() + "; default " + DEFAULT_SIMULATED_MODEL +
           ");\n"
           "                      --simulate MODEL as well; given again, one more board\n"
           "                      (the second one's path is sim:MODEL-2, and so on)\n"
           "  --device PATH       use the bridge at PATH (a node such as /dev/hidraw3, or\n"
           "                      sim:MODEL); without it the first one that list shows\n"
           "  --json              as --json on every command that takes it\n"
           "  --trace             log every board transaction to standard error, time-stamped\n"
           "  --verify            read back every register that set, reg set and load write\n"
           "  -h, --help          show this help and exit\n"
           "  -V, --version       show the version and exit\n"
           "\n"
           "Commands:\n" +
           commandsHelp() +
           "set, reg set and load accept --verify. VR is 1 to 3 (or VR1 to VR3).\n" +
           jsonCommands() +
           " accept --json:\n"
           "one JSON object per line instead of text.\n"
           "\n"
           "The chip answers only while EN is high: on a fresh board start with 'power on'.\n"
           "Commands that need the chip identify it by themselves when EN is already high.\n"
           "\n"
           "Exit status: 0 done, 1 usage or file error, 2 board or link error, 3 a FAIL\n"
           "flag found by status --check.\n";
}

int run(const std::vector<std::string> &arguments, std::istream &in, std::ostream &out,
        std::ostream &err, const Clock &clock, bool inputIsTerminal) {
    SessionOptions options;
    std::vector<std::string> models; // one simulated board each
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
        std::string model;
        if (parseSimulateArgument(argument, model, error)) {
            if (!error.empty())
                return optionError(err, error);
            // --simulate MODEL: only a model's name is taken, so that
            // "--simulate power on" keeps meaning the default model.
            if (argument == "--simulate" && next + 1 < arguments.size() &&
                findChipModel(arguments[next + 1]))
                model = arguments[++next];
            models.push_back(model);
        } else if (const text::OptionWord word = text::splitOption(argument);
                   word.name == "--device") {
            std::string path = word.value;
            if (!word.hasValue && next + 1 < arguments.size())
                path = arguments[++next];
            if (path.empty())
                return optionError(err, "--device needs a path");
            if (!options.devicePath.empty())
                return optionError(err, "--device given twice (one board per run)");
            options.devicePath = path;
        } else if (argument == "--json") {
            options.jsonAll = true;
        } else if (argument == "--trace") {
            options.trace = true;
        } else if (argument == "--verify") {
            options.verifyAll = true;
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
            return report(err, "", {EXIT_USAGE, error});
        parsed = parseCommands(words);
        if (!parsed.ok())
            return report(err, "", parseError(parsed));
    }

    for (size_t i = 0; i < models.size(); ++i) {
        if (i == 0)
            startSimulation(models[i]);
        else
            addSimulation(models[i]);
    }
    Session session(out, err, clock, options, fromArguments ? &in : nullptr);
    if (fromArguments)
        return runCommands(session, parsed.commands, err, "");
    return runStandardInput(session, in, err, inputIsTerminal);
}

} // namespace ctl
