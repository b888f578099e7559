// qm44xx-server's SCPI framer and parser (server/scpi_parser.h) on arbitrary
// bytes, as a client could send them. The first byte picks how the rest is cut
// into the chunks that reach the framer (as TCP may cut a stream anywhere).
//
// Checked: nothing is thrown; the messages do not depend on how the stream was
// cut; no message holds a newline outside its blocks, or more than the limits
// allow; every message parses either into commands (each with a header, its
// mnemonics letters only, suffixes non-negative, blocks within their limit) or
// into exactly one of the standard errors with a printable detail and no
// commands; a definite-length block made of any bytes, sent after a header,
// comes back byte for byte.
#include "fuzz_input.h"
#include "server/scpi_parser.h"

#include <exception>

namespace {

using scpi::Message;

std::vector<Message> framed(const std::string &stream, size_t chunk) {
    scpi::Framer framer;
    std::vector<Message> out;
    for (size_t at = 0; at < stream.size(); at += chunk)
        framer.feed(stream.data() + at, std::min(chunk, stream.size() - at), out);
    return out;
}

bool letters(const std::string &text) {
    for (char c : text) {
        if (!((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_' ||
              (c >= '0' && c <= '9')))
            return false;
    }
    return !text.empty();
}

void checkParsed(const Message &message) {
    const scpi::ParseResult result = scpi::parseMessage(message.text);
    if (!result.ok()) {
        FUZZ_CHECK(result.commands.empty(), "[%s]: %zu commands with error %d",
                   escaped(message.text).c_str(), result.commands.size(), result.error);
        FUZZ_CHECK(*scpi::errorText(result.error) != '\0', "[%s]: unknown error %d",
                   escaped(message.text).c_str(), result.error);
        FUZZ_CHECK(printable(result.detail), "[%s]: detail [%s]", escaped(message.text).c_str(),
                   escaped(result.detail).c_str());
        FUZZ_CHECK(printable(scpi::errorEntry(result.error, result.detail)), "entry");
        return;
    }
    for (const scpi::Command &command : result.commands) {
        FUZZ_CHECK(!command.nodes.empty(), "[%s]: a command without header",
                   escaped(message.text).c_str());
        for (const scpi::HeaderNode &node : command.nodes) {
            FUZZ_CHECK(letters(node.mnemonic) && node.mnemonic.size() <= 12 && node.suffix >= -1,
                       "[%s]: node [%s] %ld", escaped(message.text).c_str(),
                       escaped(node.mnemonic).c_str(), node.suffix);
        }
        for (const scpi::Parameter &p : command.parameters) {
            if (p.kind == scpi::Parameter::Kind::Block)
                FUZZ_CHECK(p.text.size() <= message.text.size(), "block larger than its message");
            if (p.kind == scpi::Parameter::Kind::Character)
                FUZZ_CHECK(letters(p.text), "character data [%s]", escaped(p.text).c_str());
        }
    }
}

void run(const uint8_t *data, size_t size) {
    FuzzInput in(data, size);
    const size_t chunk = size_t(in.byte() % 64) + 1;
    const std::vector<uint8_t> rest = in.bytes(size);
    const std::string stream(rest.begin(), rest.end());

    const std::vector<Message> whole = framed(stream, stream.size() + 1);
    const std::vector<Message> cut = framed(stream, chunk);
    FUZZ_CHECK(whole.size() == cut.size(), "%zu messages whole, %zu cut in %zu", whole.size(),
               cut.size(), chunk);
    for (size_t i = 0; i < whole.size(); ++i) {
        FUZZ_CHECK(whole[i].text == cut[i].text && whole[i].overrun == cut[i].overrun,
                   "message %zu differs when cut in %zu", i, chunk);
        FUZZ_CHECK(whole[i].text.size() <= scpi::MAX_MESSAGE_TEXT + scpi::MAX_BLOCK_DATA,
                   "message %zu holds %zu bytes", i, whole[i].text.size());
        FUZZ_CHECK(!whole[i].overrun || whole[i].text.empty(), "an overrun with text");
        checkParsed(whole[i]);
    }

    // Any bytes travel in a block, newlines and all.
    const std::string block = stream.substr(0, 2000);
    std::vector<Message> sent = framed("SYST:SETT " + scpi::definiteBlock(block) + "\n", chunk);
    FUZZ_CHECK(sent.size() == 1 && !sent[0].overrun, "a block came as %zu messages", sent.size());
    const scpi::ParseResult back = scpi::parseMessage(sent[0].text);
    FUZZ_CHECK(back.ok() && back.commands.size() == 1 && back.commands[0].parameters.size() == 1 &&
                   back.commands[0].parameters[0].kind == scpi::Parameter::Kind::Block &&
                   back.commands[0].parameters[0].text == block,
               "the block did not come back: error %d [%s]", back.error,
               escaped(back.detail).c_str());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    return runChecked(run, data, size);
}
