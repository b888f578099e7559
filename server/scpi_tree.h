// The command tree: header patterns in the SCPI manuals' notation, and the
// matching of a parsed header against them (short or long forms, optional
// nodes, numeric suffixes, the query form). Plain C++17.
#pragma once

#include "server/scpi_parser.h"

#include <string>
#include <vector>

namespace scpi {

// One node of a command's pattern.
struct PatternNode {
    std::string longForm;
    bool optional = false;
    bool suffix = false;
};

// One command of the tree. pattern: nodes separated by ':', optional ones in
// brackets, '#' after a node that takes a numeric suffix, as in
// "SOURce#:VOLTage[:LEVel][:IMMediate][:AMPLitude]" or "*IDN". Its nodes are
// taken apart once, when the tree is made, not for every command looked up.
struct TreeCommand {
    TreeCommand(const char *pattern, int id, bool query, bool set);
    const char *pattern;
    int id;
    bool query; // has a query form
    bool set;   // has a command form
    std::vector<PatternNode> nodes;
};

struct Resolution {
    int id = -1;      // the matched command's id; -1 when none matched (see error)
    long suffix = -1; // the suffix given on the '#' node, -1 when none was
    int error = NO_ERROR;
    std::string detail;
    // The header's full path as resolved (with the previous command's path in
    // front when the compound rule applied): the next command's previous.
    std::vector<HeaderNode> path;
};

// Finds the command a header names. A header that does not begin with ':' (or
// '*') is looked up from the root first and then, as SCPI's compound rule has
// it, below the path of the previous command of the message (previous: its
// nodes as given; empty for the first).
Resolution resolve(const std::vector<TreeCommand> &tree, const Command &command,
                   const std::vector<HeaderNode> &previous);

// The header as text, for messages ("SOUR2:VOLT?").
std::string headerText(const Command &command);

} // namespace scpi
