// qm44xx-ctl's tokenizer and command parser (ctl/command_parser.h) on arbitrary
// input. The first byte picks the source: even, the rest is one line of standard
// input (ctl::tokenizeLine); odd, the rest is an argument vector, split at NUL
// bytes (ctl::wordsFromArguments). The words then go through ctl::parseCommands.
//
// Checked, without restating the grammar: nothing is thrown (a hang is caught by
// libFuzzer's time-out); a failure has a printable message; the commands of a
// script are those its parts between ';' parse to, up to the first refused one;
// a refused command carries the usage of the command its message names (a known
// command always has one, an unknown one none); an accepted command is one of
// the tool's commands; and the words written back as a line, quoted, tokenize to
// the same words and parse to the same commands.
#include "ctl/command_parser.h"
#include "ctl/commands.h"
#include "fuzz_input.h"

#include <exception>

namespace {

using ctl::Command;
using ctl::ParseResult;
using ctl::Word;

bool sameWords(const std::vector<Word> &a, const std::vector<Word> &b) {
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (a[i].separator != b[i].separator || a[i].text != b[i].text)
            return false;
    }
    return true;
}

bool sameCommand(const Command &a, const Command &b) {
    return a.entry == b.entry && a.on == b.on && a.regulator == b.regulator && a.code == b.code &&
           a.address == b.address && a.verify == b.verify && a.json == b.json &&
           a.check == b.check && a.telemetry.intervalMs == b.telemetry.intervalMs &&
           a.telemetry.count == b.telemetry.count && a.telemetry.average == b.telemetry.average &&
           a.telemetry.csv == b.telemetry.csv && a.file == b.file;
}

bool sameResult(const ParseResult &a, const ParseResult &b) {
    if (a.error != b.error || a.usage != b.usage || a.commands.size() != b.commands.size())
        return false;
    for (size_t i = 0; i < a.commands.size(); ++i) {
        if (!sameCommand(a.commands[i], b.commands[i]))
            return false;
    }
    return true;
}

void checkRefused(const std::string &verb, const ParseResult &r) {
    FUZZ_CHECK(!r.error.empty() && printable(r.error) && r.commands.empty(), "%s: error [%s]",
               escaped(verb).c_str(), escaped(r.error).c_str());
    const std::string named = r.error.substr(0, r.error.find(':'));
    FUZZ_CHECK(r.usage == ctl::usageOf(named), "[%s]: usage [%s]", escaped(r.error).c_str(),
               escaped(r.usage).c_str());
    // A command's words are single words: "set vout" as one is no command.
    const bool known = verb.find(' ') == std::string::npos && !ctl::usageOf(verb).empty();
    FUZZ_CHECK(known == !r.usage.empty() &&
                   (!known || startsWith(r.error, verb + ":") || startsWith(r.error, verb + " ")),
               "%s: error [%s], usage [%s]", escaped(verb).c_str(), escaped(r.error).c_str(),
               escaped(r.usage).c_str());
}

// The parts between separators, each parsed alone, make up the script's result.
void checkCommands(const std::vector<Word> &words, const ParseResult &result) {
    ParseResult expected;
    std::vector<std::string> current;
    for (size_t i = 0; i <= words.size(); ++i) {
        if (i < words.size() && !words[i].separator) {
            current.push_back(words[i].text);
            continue;
        }
        if (current.empty())
            continue;
        const ParseResult one = ctl::parseCommand(current);
        if (!one.ok()) {
            checkRefused(current[0], one);
            expected = one;
            break;
        }
        FUZZ_CHECK(one.commands.size() == 1, "%zu commands", one.commands.size());
        const Command &c = one.commands[0];
        const std::string name = c.entry->name();
        FUZZ_CHECK(startsWith(name, current[0]) && !ctl::usageOf(name).empty(),
                   "[%s] parsed as [%s]", escaped(current[0]).c_str(), escaped(name).c_str());
        expected.commands.push_back(c);
        current.clear();
    }
    FUZZ_CHECK(sameResult(result, expected), "parseCommands: error [%s], %zu commands",
               escaped(result.error).c_str(), result.commands.size());
}

// Every word quoted, a single quote itself inside double ones.
std::string quotedWord(const std::string &text) {
    std::string out = "'";
    for (char c : text)
        out += c == '\'' ? std::string("'\"'\"'") : std::string(1, c);
    return out + "'";
}

void checkRequoted(const std::vector<Word> &words, const ParseResult &result) {
    std::string line;
    for (const Word &w : words)
        line += (line.empty() ? "" : " ") + (w.separator ? std::string(";") : quotedWord(w.text));
    std::vector<Word> again;
    std::string error;
    FUZZ_CHECK(ctl::tokenizeLine(line, again, error) && sameWords(words, again),
               "[%s] tokenizes to %zu words, not %zu", escaped(line).c_str(), again.size(),
               words.size());
    FUZZ_CHECK(sameResult(ctl::parseCommands(again), result), "[%s] parses differently",
               escaped(line).c_str());
}

void run(const uint8_t *data, size_t size) {
    FuzzInput in(data, size);
    const bool arguments = in.flag();
    const std::vector<uint8_t> rest = in.bytes(size);
    const std::string text(rest.begin(), rest.end());

    std::vector<Word> words;
    std::string error;
    bool ok = false;
    if (arguments) {
        // Each argument ends at a NUL; the last one may end with the input.
        std::vector<std::string> list;
        size_t start = 0;
        for (size_t nul = text.find('\0'); nul != std::string::npos; nul = text.find('\0', start)) {
            list.push_back(text.substr(start, nul - start));
            start = nul + 1;
        }
        if (start < text.size())
            list.push_back(text.substr(start));
        ok = ctl::wordsFromArguments(list, words, error);
    } else {
        ok = ctl::tokenizeLine(text, words, error);
    }
    if (!ok) {
        FUZZ_CHECK(!error.empty() && printable(error), "tokenizer error [%s]",
                   escaped(error).c_str());
        return;
    }
    const ParseResult result = ctl::parseCommands(words);
    checkCommands(words, result);
    checkRequoted(words, result);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    return runChecked(run, data, size);
}
