// SCPI program messages as data: a byte stream cut into messages (newline
// terminated, definite-length blocks passing newlines through), a message cut
// into commands (headers with numeric suffixes, queries, parameters), and the
// standard error codes with their texts. Plain C++17, no Qt, so that the
// parser is a libFuzzer target.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace scpi {

// The standard error codes this server reports (SCPI-99, chapter 21).
enum ErrorCode {
    NO_ERROR = 0,
    COMMAND_ERROR = -100,
    INVALID_CHARACTER = -101,
    SYNTAX_ERROR = -102,
    INVALID_SEPARATOR = -103,
    DATA_TYPE_ERROR = -104,
    PARAMETER_NOT_ALLOWED = -108,
    MISSING_PARAMETER = -109,
    PROGRAM_MNEMONIC_TOO_LONG = -112,
    UNDEFINED_HEADER = -113,
    HEADER_SUFFIX_OUT_OF_RANGE = -114,
    NUMERIC_DATA_ERROR = -120,
    SUFFIX_NOT_ALLOWED = -138,
    INVALID_STRING_DATA = -151,
    INVALID_BLOCK_DATA = -161,
    EXECUTION_ERROR = -200,
    COMMAND_PROTECTED = -203,
    SETTINGS_CONFLICT = -221,
    DATA_OUT_OF_RANGE = -222,
    ILLEGAL_PARAMETER_VALUE = -224,
    HARDWARE_ERROR = -240,
    QUEUE_OVERFLOW = -350,
    INPUT_BUFFER_OVERRUN = -363,
};

// The standard text of a code ("Undefined header"); "" for one not listed.
const char *errorText(int code);
// An error queue entry: -113,"Undefined header" or, with a detail,
// -200,"Execution error;Error during USB write: 19". A double quote in the
// detail is doubled, as inside any SCPI string.
std::string errorEntry(int code, const std::string &detail = std::string());

// Limits of one message: its text outside blocks, and the data of its blocks
// together.
constexpr size_t MAX_MESSAGE_TEXT = 4096;
constexpr size_t MAX_BLOCK_DATA = 64 * 1024;

// One message as the framer hands it over: its bytes without the newline, or
// an overrun (too long; its bytes were dropped up to the next newline).
struct Message {
    std::string text;
    bool overrun = false;
};

// Cuts a byte stream into messages at newlines, except inside a quoted string
// (where a newline still ends the message: the string is then unterminated) and
// inside the data of a definite-length block (#<n><length><bytes>), which may
// hold any byte. Keeps at most the limits above, so that a client cannot make
// it hold more.
class Framer {
public:
    Framer(size_t maxText = MAX_MESSAGE_TEXT, size_t maxBlock = MAX_BLOCK_DATA);
    // Appends each message completed by these bytes to out.
    void feed(const char *data, size_t size, std::vector<Message> &out);
    // True while part of a message has arrived but not its end.
    bool midMessage() const;

private:
    enum class State { Text, Quoted, Hash, BlockLength, BlockData, Indefinite, Discarding };
    void append(char c);
    void overrun();

    size_t maxText;
    size_t maxBlock;
    State state = State::Text;
    std::string current;
    size_t textBytes = 0;
    char quote = 0;
    int lengthDigits = 0;
    size_t blockLength = 0;
    size_t blockRemaining = 0;
    size_t blockBytes = 0; // of the message so far
};

// One node of a header: its mnemonic as given (any case) and its numeric suffix
// ("SOUR2": "SOUR", 2), -1 when it has none.
struct HeaderNode {
    std::string mnemonic;
    long suffix = -1;
};

struct Parameter {
    enum class Kind {
        Decimal,    // 0.9, -1, 1.5E-3
        NonDecimal, // #H1F, #B101, #Q17, and 0x1f as the tool writes it
        Character,  // ON, OFF, MINimum
        String,     // "text" or 'text', quotes undone
        Block,      // #<n><length><bytes> or #0<bytes>
    };
    Kind kind = Kind::Character;
    std::string text;  // as given (Decimal, NonDecimal, Character) or the contents
    double number = 0; // Decimal and NonDecimal
};

struct Command {
    bool common = false;   // *IDN?: nodes holds one node, "IDN", without the star
    bool absolute = false; // began with ':'
    bool query = false;
    std::vector<HeaderNode> nodes;
    std::vector<Parameter> parameters;
};

struct ParseResult {
    std::vector<Command> commands;
    int error = NO_ERROR;
    std::string detail; // what was wrong, for the error queue
    bool ok() const { return error == NO_ERROR; }
};

// Parses one message (trailing CR and blanks ignored) into its commands,
// separated by ';'; empty commands are skipped. Stops at the first error,
// returning no commands then.
ParseResult parseMessage(const std::string &message);

// A definite-length block holding data: #<n><length><data>.
std::string definiteBlock(const std::string &data);

// Whether a mnemonic as given names a node of this long form ("VOLTage"):
// either its short form (the capitals, "VOLT") or the long form, in any case.
bool mnemonicMatches(const std::string &given, const std::string &longForm);

} // namespace scpi
