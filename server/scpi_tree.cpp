#include "server/scpi_tree.h"

#include "device/text.h"

namespace scpi {

namespace {

std::vector<PatternNode> nodesOf(const std::string &pattern) {
    std::vector<PatternNode> nodes;
    size_t pos = 0;
    while (pos < pattern.size()) {
        PatternNode node;
        if (pattern[pos] == '[') {
            node.optional = true;
            ++pos;
        }
        if (pos < pattern.size() && pattern[pos] == ':')
            ++pos;
        const size_t start = pos;
        while (pos < pattern.size() && pattern[pos] != ':' && pattern[pos] != '[' &&
               pattern[pos] != ']' && pattern[pos] != '#')
            ++pos;
        node.longForm = pattern.substr(start, pos - start);
        if (pos < pattern.size() && pattern[pos] == '#') {
            node.suffix = true;
            ++pos;
        }
        if (pos < pattern.size() && pattern[pos] == ']')
            ++pos;
        nodes.push_back(node);
    }
    return nodes;
}

// Whether the given nodes from index n on match the pattern nodes from p on;
// suffix receives the suffix given on a '#' node.
bool matchFrom(const std::vector<PatternNode> &pattern, size_t p,
               const std::vector<HeaderNode> &given, size_t n, long &suffix) {
    if (n == given.size()) {
        for (size_t i = p; i < pattern.size(); ++i) {
            if (!pattern[i].optional)
                return false;
        }
        return true;
    }
    if (p == pattern.size())
        return false;
    const PatternNode &node = pattern[p];
    if (mnemonicMatches(given[n].mnemonic, node.longForm) && (given[n].suffix < 0 || node.suffix)) {
        long inner = suffix;
        if (node.suffix && given[n].suffix >= 0)
            inner = given[n].suffix;
        if (matchFrom(pattern, p + 1, given, n + 1, inner)) {
            suffix = inner;
            return true;
        }
    }
    return node.optional && matchFrom(pattern, p + 1, given, n, suffix);
}

bool matches(const TreeCommand &entry, const Command &command, const std::vector<HeaderNode> &nodes,
             long &suffix) {
    const bool common = entry.pattern[0] == '*';
    if (common != command.common)
        return false;
    if (common)
        return nodes.size() == 1 && mnemonicMatches(nodes[0].mnemonic, entry.pattern + 1);
    suffix = -1;
    return matchFrom(entry.nodes, 0, nodes, 0, suffix);
}

Resolution lookUp(const std::vector<TreeCommand> &tree, const Command &command,
                  const std::vector<HeaderNode> &nodes) {
    Resolution result;
    bool formMissing = false;
    for (const TreeCommand &entry : tree) {
        long suffix = -1;
        if (!matches(entry, command, nodes, suffix))
            continue;
        if (command.query ? !entry.query : !entry.set) {
            formMissing = true;
            continue;
        }
        result.id = entry.id;
        result.suffix = suffix;
        result.path = nodes;
        return result;
    }
    result.error = UNDEFINED_HEADER;
    result.detail = text::quoted(headerText(command));
    if (formMissing)
        result.detail += command.query ? " has no query form" : " is a query only";
    return result;
}

} // namespace

TreeCommand::TreeCommand(const char *pattern, int id, bool query, bool set)
    : pattern(pattern), id(id), query(query), set(set),
      nodes(pattern[0] == '*' ? std::vector<PatternNode>() : nodesOf(pattern)) {}

std::string headerText(const Command &command) {
    std::string header = command.common ? "*" : (command.absolute ? ":" : "");
    for (size_t i = 0; i < command.nodes.size(); ++i) {
        if (i > 0)
            header += ':';
        header += command.nodes[i].mnemonic;
        if (command.nodes[i].suffix >= 0)
            header += std::to_string(command.nodes[i].suffix);
    }
    return header + (command.query ? "?" : "");
}

Resolution resolve(const std::vector<TreeCommand> &tree, const Command &command,
                   const std::vector<HeaderNode> &previous) {
    Resolution result = lookUp(tree, command, command.nodes);
    if (result.id >= 0 || command.absolute || command.common || previous.size() < 2)
        return result;
    std::vector<HeaderNode> nodes(previous.begin(), previous.end() - 1);
    nodes.insert(nodes.end(), command.nodes.begin(), command.nodes.end());
    const Resolution relative = lookUp(tree, command, nodes);
    return relative.id >= 0 ? relative : result;
}

} // namespace scpi
