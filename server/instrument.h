// The SCPI command set of one board: runs a client's program messages against
// the board's link and answers them. One Instrument per board, on its thread;
// each client keeps its own error queue.
#pragma once

#include "server/board_link.h"
#include "server/scpi_parser.h"

#include <deque>
#include <functional>
#include <string>

namespace server {

// What the server keeps of one client between its messages.
struct ClientState {
    std::deque<std::string> errors; // entries as SYSTem:ERRor? answers them
    int eventStatus = 0;            // *ESR? bits
};

class Instrument {
public:
    static constexpr size_t ERROR_QUEUE_SIZE = 16;

    Instrument(BoardLink &link, bool readOnly, const std::string &version);

    // Runs one program message. Returns the answer line (the answers to its
    // queries joined by ';', newline-terminated), or "" when it has none. The
    // whole message is parsed and checked before any of it runs; a command
    // that fails ends the message, and its error goes to the client's queue.
    std::string execute(ClientState &client, const std::string &message);
    // A message that overran the input limits.
    void overrun(ClientState &client);

    // Adds an error to a client's queue (full: the last entry becomes -350).
    static void pushError(ClientState &client, int code, const std::string &detail);

private:
    using Action = std::function<std::string()>;
    Action prepare(const scpi::Command &command, int id, long suffix, ClientState &client);

    BoardLink &link;
    bool readOnly;
    std::string version;
};

} // namespace server
