#include "server/scpi_parser.h"

#include "device/text.h"

#include <cctype>

namespace scpi {

namespace {
bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r';
}
bool isAlpha(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}
bool isDigit(char c) {
    return c >= '0' && c <= '9';
}
bool isPrintable(char c) {
    const unsigned char u = static_cast<unsigned char>(c);
    return u >= 0x20 && u < 0x7F;
}
char upper(char c) {
    return (c >= 'a' && c <= 'z') ? char(c - 'a' + 'A') : c;
}

// Longest program mnemonic SCPI allows.
constexpr size_t MAX_MNEMONIC = 12;
// Digits of a header suffix or a block length beyond which the value means
// nothing here.
constexpr size_t MAX_NUMBER_DIGITS = 9;
} // namespace

const char *errorText(int code) {
    switch (code) {
    case NO_ERROR:
        return "No error";
    case COMMAND_ERROR:
        return "Command error";
    case INVALID_CHARACTER:
        return "Invalid character";
    case SYNTAX_ERROR:
        return "Syntax error";
    case INVALID_SEPARATOR:
        return "Invalid separator";
    case DATA_TYPE_ERROR:
        return "Data type error";
    case PARAMETER_NOT_ALLOWED:
        return "Parameter not allowed";
    case MISSING_PARAMETER:
        return "Missing parameter";
    case PROGRAM_MNEMONIC_TOO_LONG:
        return "Program mnemonic too long";
    case UNDEFINED_HEADER:
        return "Undefined header";
    case HEADER_SUFFIX_OUT_OF_RANGE:
        return "Header suffix out of range";
    case NUMERIC_DATA_ERROR:
        return "Numeric data error";
    case SUFFIX_NOT_ALLOWED:
        return "Suffix not allowed";
    case INVALID_STRING_DATA:
        return "Invalid string data";
    case INVALID_BLOCK_DATA:
        return "Invalid block data";
    case EXECUTION_ERROR:
        return "Execution error";
    case COMMAND_PROTECTED:
        return "Command protected";
    case SETTINGS_CONFLICT:
        return "Settings conflict";
    case DATA_OUT_OF_RANGE:
        return "Data out of range";
    case ILLEGAL_PARAMETER_VALUE:
        return "Illegal parameter value";
    case HARDWARE_ERROR:
        return "Hardware error";
    case QUEUE_OVERFLOW:
        return "Queue overflow";
    case INPUT_BUFFER_OVERRUN:
        return "Input buffer overrun";
    }
    return "";
}

std::string errorEntry(int code, const std::string &detail) {
    std::string text = errorText(code);
    if (!detail.empty())
        text += ";" + detail;
    std::string entry = std::to_string(code) + ",\"";
    for (char c : text) {
        entry += c;
        if (c == '"')
            entry += '"';
    }
    return entry + "\"";
}

// --- Framer ----------------------------------------------------------------

Framer::Framer(size_t maxText, size_t maxBlock) : maxText(maxText), maxBlock(maxBlock) {}

bool Framer::midMessage() const {
    return state != State::Text || !current.empty();
}

void Framer::append(char c) {
    if (textBytes >= maxText)
        return overrun();
    current += c;
    ++textBytes;
}

void Framer::overrun() {
    current.clear();
    current.shrink_to_fit(); // a 64 KiB block's buffer is not kept for a client
    textBytes = 0;
    blockBytes = 0;
    state = State::Discarding;
}

void Framer::feed(const char *data, size_t size, std::vector<Message> &out) {
    auto finish = [&](bool overran) {
        out.push_back(Message{overran ? std::string() : current, overran});
        current.clear();
        textBytes = 0;
        blockBytes = 0;
        state = State::Text;
    };
    for (size_t i = 0; i < size; ++i) {
        const char c = data[i];
        switch (state) {
        case State::Hash:
            if (c >= '1' && c <= '9') {
                append(c);
                if (state == State::Hash) {
                    lengthDigits = c - '0';
                    blockLength = 0;
                    state = State::BlockLength;
                }
                continue;
            }
            if (c == '0') {
                append(c);
                if (state == State::Hash)
                    state = State::Indefinite;
                continue;
            }
            state = State::Text; // #H1F and the like; the parser judges the rest
            break;
        case State::BlockLength:
            if (isDigit(c)) {
                append(c);
                if (state != State::BlockLength)
                    continue;
                if (blockLength <= maxBlock)
                    blockLength = blockLength * 10 + size_t(c - '0');
                if (--lengthDigits > 0)
                    continue;
                if (blockLength > maxBlock - blockBytes) {
                    overrun();
                } else if (blockLength == 0) {
                    state = State::Text;
                } else {
                    blockBytes += blockLength;
                    blockRemaining = blockLength;
                    state = State::BlockData;
                }
                continue;
            }
            state = State::Text; // a short length; the parser reports the block
            break;
        case State::BlockData:
            current += c;
            if (--blockRemaining == 0)
                state = State::Text;
            continue;
        case State::Indefinite:
            if (c == '\n') {
                finish(false);
            } else if (++blockBytes > maxBlock) {
                overrun();
            } else {
                current += c;
            }
            continue;
        case State::Quoted:
            if (c == '\n') {
                finish(false); // an unterminated string, for the parser to refuse
                continue;
            }
            append(c);
            if (c == quote && state == State::Quoted)
                state = State::Text;
            continue;
        case State::Discarding:
            if (c == '\n')
                finish(true);
            continue;
        case State::Text:
            break;
        }
        // State::Text, or a byte handed back by the states above.
        if (c == '\n') {
            finish(false);
        } else if (c == '"' || c == '\'') {
            append(c);
            if (state == State::Text) {
                quote = c;
                state = State::Quoted;
            }
        } else if (c == '#') {
            append(c);
            if (state == State::Text)
                state = State::Hash;
        } else {
            append(c);
        }
    }
}

// --- Parser ----------------------------------------------------------------

namespace {

struct Failure {
    int code;
    std::string detail;
};

class Parser {
public:
    explicit Parser(const std::string &text) : text(text) {}

    ParseResult parse() {
        ParseResult result;
        try {
            while (true) {
                skipBlanks();
                if (atEnd())
                    break;
                if (peek() == ';') {
                    ++pos;
                    continue;
                }
                result.commands.push_back(command());
                skipBlanks();
                if (atEnd())
                    break;
                if (peek() != ';')
                    fail(INVALID_SEPARATOR,
                         "expected ';' or the end of the line at " + shownHere());
                ++pos;
            }
        } catch (const Failure &failure) {
            result.commands.clear();
            result.error = failure.code;
            result.detail = failure.detail;
        }
        return result;
    }

private:
    [[noreturn]] void fail(int code, const std::string &detail) { throw Failure{code, detail}; }

    bool atEnd() const { return pos >= text.size(); }
    char peek() const { return text[pos]; }
    void skipBlanks() {
        while (!atEnd() && isBlank(peek()))
            ++pos;
    }
    std::string shownHere() const { return text::quoted(text.substr(pos, 20)); }

    [[noreturn]] void unexpected(const char *where) {
        if (!isPrintable(peek()) && !isBlank(peek()))
            fail(INVALID_CHARACTER, std::string(where) + " " + shownHere());
        fail(SYNTAX_ERROR, std::string("unexpected ") + shownHere() + " " + where);
    }

    std::string mnemonic() {
        const size_t start = pos;
        while (!atEnd() && (isAlpha(peek()) || isDigit(peek()) || peek() == '_'))
            ++pos;
        std::string m = text.substr(start, pos - start);
        if (m.size() > MAX_MNEMONIC + MAX_NUMBER_DIGITS)
            fail(PROGRAM_MNEMONIC_TOO_LONG, text::quoted(m));
        return m;
    }

    HeaderNode node() {
        if (atEnd() || !isAlpha(peek()))
            unexpected(atEnd() ? "at the end of a header" : "in a header");
        HeaderNode n;
        const std::string m = mnemonic();
        size_t digits = m.size();
        while (digits > 0 && isDigit(m[digits - 1]))
            --digits;
        n.mnemonic = m.substr(0, digits);
        if (n.mnemonic.size() > MAX_MNEMONIC)
            fail(PROGRAM_MNEMONIC_TOO_LONG, text::quoted(n.mnemonic));
        if (digits < m.size()) {
            const std::string suffix = m.substr(digits);
            if (suffix.size() > MAX_NUMBER_DIGITS)
                fail(HEADER_SUFFIX_OUT_OF_RANGE, text::quoted(m));
            n.suffix = std::stol(suffix);
        }
        return n;
    }

    Command command() {
        Command c;
        if (peek() == '*') {
            ++pos;
            c.common = true;
            if (atEnd() || !isAlpha(peek()))
                unexpected(atEnd() ? "after '*'" : "after '*'");
            const size_t start = pos;
            while (!atEnd() && isAlpha(peek()))
                ++pos;
            c.nodes.push_back(HeaderNode{text.substr(start, pos - start), -1});
            if (c.nodes.back().mnemonic.size() > MAX_MNEMONIC)
                fail(PROGRAM_MNEMONIC_TOO_LONG, text::quoted(c.nodes.back().mnemonic));
        } else {
            if (peek() == ':') {
                c.absolute = true;
                ++pos;
            }
            c.nodes.push_back(node());
            while (!atEnd() && peek() == ':') {
                ++pos;
                c.nodes.push_back(node());
            }
        }
        if (!atEnd() && peek() == '?') {
            c.query = true;
            ++pos;
        }
        if (atEnd() || peek() == ';')
            return c;
        if (!isBlank(peek()))
            unexpected("after the header");
        skipBlanks();
        if (atEnd() || peek() == ';')
            return c;
        while (true) {
            c.parameters.push_back(parameter());
            skipBlanks();
            if (atEnd() || peek() == ';')
                return c;
            if (peek() != ',')
                fail(INVALID_SEPARATOR, "expected ',' between parameters at " + shownHere());
            ++pos;
            skipBlanks();
            if (atEnd() || peek() == ';' || peek() == ',')
                fail(SYNTAX_ERROR, "a parameter is missing after ','");
        }
    }

    Parameter quotedString() {
        const char quote = peek();
        ++pos;
        Parameter p;
        p.kind = Parameter::Kind::String;
        while (true) {
            if (atEnd())
                fail(INVALID_STRING_DATA, "unterminated string");
            const char c = text[pos++];
            if (c == quote) {
                if (!atEnd() && peek() == quote) {
                    p.text += quote;
                    ++pos;
                    continue;
                }
                return p;
            }
            p.text += c;
        }
    }

    Parameter hashed() {
        ++pos; // '#'
        if (atEnd())
            fail(INVALID_BLOCK_DATA, "'#' at the end of the line");
        Parameter p;
        const char kind = upper(peek());
        if (kind >= '1' && kind <= '9') {
            const size_t digits = size_t(kind - '0');
            ++pos;
            if (text.size() - pos < digits)
                fail(INVALID_BLOCK_DATA, "the block's length is cut short");
            size_t length = 0;
            for (size_t i = 0; i < digits; ++i) {
                const char d = text[pos + i];
                if (!isDigit(d))
                    fail(INVALID_BLOCK_DATA,
                         "the block's length holds " + text::quoted(std::string(1, d)));
                if (length <= MAX_BLOCK_DATA)
                    length = length * 10 + size_t(d - '0');
            }
            pos += digits;
            if (text.size() - pos < length)
                fail(INVALID_BLOCK_DATA, "the block announces " + std::to_string(length) +
                                             " bytes and holds " +
                                             std::to_string(text.size() - pos));
            p.kind = Parameter::Kind::Block;
            p.text = text.substr(pos, length);
            pos += length;
            return p;
        }
        if (kind == '0') {
            ++pos;
            p.kind = Parameter::Kind::Block;
            p.text = text.substr(pos); // up to the end of the message
            pos = text.size();
            return p;
        }
        int base = 0;
        if (kind == 'H')
            base = 16;
        else if (kind == 'B')
            base = 2;
        else if (kind == 'Q')
            base = 8;
        else
            unexpected("after '#'");
        ++pos;
        return nonDecimal(base, 2);
    }

    // The digits of a number in this base; the token began prefixLength bytes
    // before pos.
    Parameter nonDecimal(int base, size_t prefixLength) {
        const size_t start = pos - prefixLength;
        double value = 0;
        size_t digits = 0;
        while (!atEnd() && std::isxdigit(static_cast<unsigned char>(peek()))) {
            const char c = upper(peek());
            const int d = isDigit(c) ? c - '0' : c - 'A' + 10;
            if (d >= base)
                fail(NUMERIC_DATA_ERROR, "digit " + text::quoted(std::string(1, peek())) +
                                             " in a base-" + std::to_string(base) + " number");
            value = value * base + d;
            ++digits;
            ++pos;
        }
        if (digits == 0 || (!atEnd() && (isAlpha(peek()) || isDigit(peek()) || peek() == '.')))
            fail(NUMERIC_DATA_ERROR,
                 "not a number: " + text::quoted(text.substr(start, pos - start + 1)));
        Parameter p;
        p.kind = Parameter::Kind::NonDecimal;
        p.text = text.substr(start, pos - start);
        p.number = value;
        return p;
    }

    Parameter parameter() {
        const char c = peek();
        if (c == '"' || c == '\'')
            return quotedString();
        if (c == '#')
            return hashed();
        if (c == '0' && pos + 1 < text.size() && (text[pos + 1] == 'x' || text[pos + 1] == 'X')) {
            pos += 2;
            return nonDecimal(16, 2);
        }
        const size_t start = pos;
        while (!atEnd() && !isBlank(peek()) && peek() != ',' && peek() != ';') {
            if (!isPrintable(peek()))
                fail(INVALID_CHARACTER,
                     "in a parameter: " + text::quoted(text.substr(start, pos - start + 1)));
            ++pos;
        }
        Parameter p;
        p.text = text.substr(start, pos - start);
        if (isAlpha(c)) {
            for (char k : p.text) {
                if (!isAlpha(k) && !isDigit(k) && k != '_')
                    fail(SYNTAX_ERROR, "not a parameter: " + text::quoted(p.text));
            }
            p.kind = Parameter::Kind::Character;
            return p;
        }
        if (isDigit(c) || c == '+' || c == '-' || c == '.') {
            // The number, then possibly a unit (refused: no command takes one).
            size_t end = p.text.size();
            size_t unit = 0;
            while (unit < end && !isAlpha(p.text[unit]))
                ++unit;
            // An exponent's 'E' belongs to the number.
            while (
                unit < end && (p.text[unit] == 'e' || p.text[unit] == 'E') && unit + 1 < end &&
                (isDigit(p.text[unit + 1]) || p.text[unit + 1] == '+' || p.text[unit + 1] == '-')) {
                ++unit;
                while (unit < end && !isAlpha(p.text[unit]))
                    ++unit;
            }
            std::string number = p.text.substr(0, unit);
            if (number.size() > 1 && number[0] == '+' && (isDigit(number[1]) || number[1] == '.'))
                number.erase(0, 1);
            double value = 0;
            if (!text::parseDecimal(number, value))
                fail(NUMERIC_DATA_ERROR, "not a number: " + text::quoted(p.text));
            if (unit < end)
                fail(SUFFIX_NOT_ALLOWED, "no unit is taken: " + text::quoted(p.text));
            p.kind = Parameter::Kind::Decimal;
            p.number = value;
            return p;
        }
        fail(SYNTAX_ERROR, "not a parameter: " + text::quoted(p.text));
    }

    const std::string &text;
    size_t pos = 0;
};

} // namespace

ParseResult parseMessage(const std::string &message) {
    return Parser(message).parse();
}

std::string definiteBlock(const std::string &data) {
    const std::string length = std::to_string(data.size());
    return "#" + std::to_string(length.size()) + length + data;
}

bool mnemonicMatches(const std::string &given, const std::string &longForm) {
    std::string shortForm;
    for (char c : longForm) {
        if (!(c >= 'a' && c <= 'z'))
            shortForm += c;
    }
    auto equal = [&given](const std::string &form) {
        if (given.size() != form.size())
            return false;
        for (size_t i = 0; i < form.size(); ++i) {
            if (upper(given[i]) != upper(form[i]))
                return false;
        }
        return true;
    };
    return equal(shortForm) || equal(longForm);
}

} // namespace scpi
