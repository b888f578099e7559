#include "ctl/command_parser.h"

#include "ctl/commands.h"
#include "device/text.h"

namespace ctl {

namespace {

ParseResult failure(const std::string &command, const std::string &message) {
    ParseResult result;
    result.error = command.empty() ? message : command + ": " + message;
    result.usage = usageOf(command);
    return result;
}

// Takes every "--verify" (or "--json") out of the words; true when it was there.
bool takeOption(std::vector<std::string> &words, const std::string &option) {
    bool found = false;
    for (auto it = words.begin(); it != words.end();) {
        if (*it == option) {
            found = true;
            it = words.erase(it);
        } else {
            ++it;
        }
    }
    return found;
}

// "vout, enable, dvs or ss": the second words of a group's commands.
std::string alternatives(const std::vector<const CommandEntry *> &group) {
    std::vector<std::string> words;
    for (const CommandEntry *entry : group)
        words.push_back(entry->words[1]);
    return text::joinedList(words, "or");
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
    std::vector<const CommandEntry *> family;
    for (const CommandEntry &entry : commandTable()) {
        if (entry.words[0] == verb)
            family.push_back(&entry);
    }
    if (family.empty()) {
        std::string message = "unknown command " + text::quoted(verb);
        if (verb.find_first_of(" \t") != std::string::npos)
            message += " (give each word as its own argument, or separate commands with ';')";
        return failure("", message);
    }
    std::vector<std::string> args(words.begin() + 1, words.end());
    const CommandEntry *entry = family.front();
    bool verify = false;
    if (entry->words.size() == 1) {
        if (entry->verify != VerifyOption::None)
            verify = takeOption(args, "--verify");
    } else {
        verify = takeOption(args, "--verify");
        if (args.empty())
            return failure(verb, "expects " + alternatives(family));
        entry = nullptr;
        for (const CommandEntry *member : family) {
            if (member->words[1] == args[0])
                entry = member;
        }
        if (!entry)
            return failure(verb, "unknown " + groupNoun(verb) + " " + text::quoted(args[0]) + " (" +
                                     alternatives(family) + ")");
        args.erase(args.begin());
    }
    Command command;
    command.entry = entry;
    command.verify = verify;
    command.json = entry->json && takeOption(args, "--json");
    if (verify && entry->verify == VerifyOption::Refused)
        return failure(entry->name(), "--verify applies to writes only");
    const std::string error = entry->parse(args, command);
    if (!error.empty())
        return failure(entry->name(), error);
    ParseResult result;
    result.commands.push_back(command);
    return result;
}

std::string usageOf(const std::string &command) {
    std::string text;
    for (const CommandEntry &entry : commandTable()) {
        if (entry.name() == command || entry.words[0] == command)
            text +=
                (text.empty() ? "usage: qm44xx-ctl " : "       qm44xx-ctl ") + entry.usage() + "\n";
    }
    return text;
}

} // namespace ctl
