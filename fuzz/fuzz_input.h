// Helpers shared by the fuzz targets: reading typed values off the fuzz input,
// and a check that stops the run (so that libFuzzer keeps the input) when an
// invariant does not hold.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>
#include <vector>

// Prints what went wrong and aborts: libFuzzer saves the input as a crash, the
// replay driver fails its test.
#define FUZZ_CHECK(condition, ...)                                                                 \
    do {                                                                                           \
        if (!(condition)) {                                                                        \
            std::fprintf(stderr, "%s:%d: check failed: %s\n  ", __FILE__, __LINE__, #condition);   \
            std::fprintf(stderr, __VA_ARGS__);                                                     \
            std::fputc('\n', stderr);                                                              \
            std::abort();                                                                          \
        }                                                                                          \
    } while (0)

// Printable ASCII only: the tool prints these texts to a terminal.
inline bool printable(const std::string &text) {
    for (unsigned char c : text) {
        if (c < 0x20 || c > 0x7E)
            return false;
    }
    return true;
}

// The text with anything unprintable as \xNN, for failure messages.
inline std::string escaped(const std::string &text) {
    std::string out;
    for (unsigned char c : text) {
        if (c >= 0x20 && c < 0x7F) {
            out += char(c);
        } else {
            char buffer[8];
            std::snprintf(buffer, sizeof buffer, "\\x%02x", c);
            out += buffer;
        }
    }
    return out;
}

// Consumes the fuzz input front to back; once it is used up every value reads
// as zero, so decoding never runs past the end.
class FuzzInput {
public:
    FuzzInput(const uint8_t *data, size_t size) : data(data), size(size) {}

    bool empty() const { return offset >= size; }
    uint8_t byte() { return empty() ? 0 : data[offset++]; }
    bool flag() { return byte() & 1; }
    // Four bytes, little-endian, as a signed value (any int, negative ones too).
    int32_t int32() {
        uint32_t value = 0;
        for (int i = 0; i < 4; ++i)
            value |= uint32_t(byte()) << (8 * i);
        return int32_t(value);
    }
    // Up to count bytes (fewer when the input ends).
    std::vector<uint8_t> bytes(size_t count) {
        std::vector<uint8_t> out;
        while (out.size() < count && !empty())
            out.push_back(byte());
        return out;
    }

private:
    const uint8_t *data;
    size_t size;
    size_t offset = 0;
};

// Whether text starts with prefix.
inline bool startsWith(const std::string &text, const std::string &prefix) {
    return text.compare(0, prefix.size(), prefix) == 0;
}

// Runs one input through a target's checks; anything thrown out of them is a
// failure of its own (the code under test reports errors, it never throws them
// at its caller).
template <typename Run> int runChecked(Run run, const uint8_t *data, size_t size) {
    try {
        run(data, size);
    } catch (const std::exception &e) {
        FUZZ_CHECK(false, "thrown: %s", e.what());
    } catch (const std::string &text) {
        FUZZ_CHECK(false, "thrown: \"%s\"", escaped(text).c_str());
    } catch (...) {
        FUZZ_CHECK(false, "thrown: something");
    }
    return 0;
}
