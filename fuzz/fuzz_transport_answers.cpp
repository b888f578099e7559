// The transport (PIC) over a simulated bridge whose answers come from the fuzz
// input: any length, any bytes, mixed with the chip's own answers, refused
// payloads, unplugged and stalled bridges, short and late answers and power
// changes.
// Every write-read must either return exactly one byte, byte 3 of the answer in
// the bridge's 65-byte layout, or throw exactly the link's text for what went
// wrong; anything else thrown ends the run.
#include "device/register_map.h"
#include "fuzz_input.h"
#include "link/bridge_protocol.h"
#include "link/hid_backend.h"
#include "link/pic.h"
#include "sim/simulation.h"

#include <algorithm>
#include <functional>
#include <optional>

namespace {

constexpr uint16_t CHIP_ADDRESS = 0x11; // the QM4434's

struct Outcome {
    bool thrown = false;
    std::string text; // what was thrown
    std::string value;
};

Outcome attempt(const std::function<std::string()> &call) {
    Outcome outcome;
    try {
        outcome.value = call();
    } catch (const std::string &text) {
        outcome.thrown = true;
        outcome.text = text;
    }
    return outcome;
}

std::string printable(const Outcome &o) {
    if (o.thrown)
        return "thrown \"" + o.text + "\"";
    std::string hex = "returned [";
    for (unsigned char c : o.value) {
        char buffer[8];
        std::snprintf(buffer, sizeof buffer, " %02x", c);
        hex += buffer;
    }
    return hex + " ]";
}

Outcome returns(uint8_t value) {
    Outcome o;
    o.value = std::string(1, char(value));
    return o;
}

Outcome throws(const std::string &text) {
    Outcome o;
    o.thrown = true;
    o.text = text;
    return o;
}

void expect(const Outcome &got, const Outcome &wanted, const char *what) {
    FUZZ_CHECK(got.thrown == wanted.thrown && got.text == wanted.text && got.value == wanted.value,
               "%s: %s, expected %s", what, printable(got).c_str(), printable(wanted).c_str());
}

// What a write-read yields when the bridge delivers these bytes (the input
// report without its report-ID byte; hidraw hands over at most 64 of them).
Outcome fromAnswer(const std::vector<uint8_t> &answer) {
    const size_t delivered = std::min<size_t>(answer.size(), bridge::REPORT_SIZE - 1);
    if (delivered == 0)
        return throws("Error during USB read: 110");
    if (delivered < size_t(bridge::ANSWER_DATA_INDEX))
        return throws("Error during USB read: 5");
    return returns(answer[bridge::ANSWER_DATA_INDEX - 1]);
}

class Session {
public:
    Session() : bridge(startSimulation("QM4434")), pic(nullptr, false) {
        bridge.setTimeoutWait(false);
        bridge.setRecording(false);
        pic.writeEN(1);
    }

    void run(FuzzInput &in) {
        while (!in.empty()) {
            switch (in.byte() % 11) {
            case 0:
            case 1:
            case 2:
            case 3:
                fuzzedAnswer(in);
                break;
            case 4: {
                const uint8_t reg = in.byte();
                chipRead(reg, in.flag() ? CHIP_ADDRESS : address(in));
                break;
            }
            case 5:
                unplugged(in);
                break;
            case 6:
                stalled();
                break;
            case 7:
                shortAnswer(in);
                break;
            case 8:
                lines(in);
                break;
            case 9:
                plainWrite(in);
                break;
            default:
                late(in);
                break;
            }
        }
    }

private:
    static uint16_t address(FuzzInput &in) {
        const uint8_t low = in.byte();
        return uint16_t(low | in.byte() << 8);
    }

    // The outcome of a write-read whose report reaches the bridge, which then
    // answers with what it would answer unreplaced.
    Outcome answered(const Outcome &unreplaced) {
        if (!replacement)
            return unreplaced;
        const Outcome outcome = fromAnswer(*replacement);
        replacement.reset();
        return outcome;
    }

    void fuzzedAnswer(FuzzInput &in) {
        replacement = in.bytes(in.byte());
        bridge.replaceNextAnswer(*replacement);
        const uint16_t to = address(in);
        const std::vector<uint8_t> payload = in.bytes(in.byte() % 64);
        const int32_t count = in.byte() % 16 == 0 ? in.int32() : 1;

        Outcome wanted;
        if (count != 1) {
            wanted = throws("writereads of other than 1 byte read not yet supported");
        } else if (payload.size() > size_t(bridge::MAX_WRITE_READ_PAYLOAD)) {
            wanted = throws("I2C write-read of " + std::to_string(payload.size()) +
                            " bytes exceeds the 59 a report holds");
        } else {
            wanted = answered(Outcome());
        }
        const std::string data(payload.begin(), payload.end());
        expect(attempt([&] { return pic.writeRead(to, data, count); }), wanted, "fuzzed answer");
    }

    // What the bus reads at the chip's register, as the bridge reports it.
    Outcome busByte(uint8_t reg, uint16_t to) const {
        const bool answers =
            bridge.en() && bridge.pvin() && bridge::writeAddress(to) >> 1 == CHIP_ADDRESS;
        return returns(answers ? bridge.chip().peek(reg) : 0xFF);
    }

    void chipRead(uint8_t reg, uint16_t to) {
        const Outcome wanted = answered(busByte(reg, to));
        expect(attempt([&] { return pic.writeRead(to, std::string(1, char(reg)), 1); }), wanted,
               "chip read");
    }

    void unplugged(FuzzInput &in) {
        bridge.unplug();
        const Outcome gone = throws("Error during USB write: 19");
        expect(attempt([&] {
                   return pic.writeRead(CHIP_ADDRESS, std::string(1, char(reg::CHIP_ID)), 1);
               }),
               gone, "unplugged write-read");
        expect(attempt([&] {
                   pic.write(CHIP_ADDRESS, std::string(in.byte() % 8, '\x0F'));
                   return std::string();
               }),
               gone, "unplugged write");
        expect(attempt([&] {
                   pic.writeEN(1);
                   return std::string();
               }),
               gone, "unplugged EN");
        bridge.replug();
    }

    void stalled() {
        bridge.stall(true);
        replacement.reset(); // swallowed with the answer
        expect(attempt([&] {
                   return pic.writeRead(CHIP_ADDRESS, std::string(1, char(reg::CHIP_ID)), 1);
               }),
               throws("Error during USB read: 110"), "stalled write-read");
        bridge.stall(false);
    }

    // Answers that turn up after their read timed out: those reads fail, and
    // the late answers are never taken for a later question's.
    void late(FuzzInput &in) {
        bridge.setLateAnswers(true);
        for (int i = in.byte() % 4; i >= 0; --i) {
            replacement.reset(); // a replaced answer runs late as well
            expect(attempt([&] {
                       return pic.writeRead(CHIP_ADDRESS, std::string(1, char(reg::CHIP_ID)), 1);
                   }),
                   throws("Error during USB read: 110"), "late answer");
        }
        bridge.setLateAnswers(false);
    }

    void shortAnswer(FuzzInput &in) {
        const int length = in.byte() % 6 - 1; // -1 (full) to 4
        bridge.setAnswerLength(length);
        Outcome unreplaced = busByte(reg::CHIP_ID, CHIP_ADDRESS);
        if (length == 0)
            unreplaced = throws("Error during USB read: 110");
        else if (length > 0 && length < bridge::ANSWER_DATA_INDEX)
            unreplaced = throws("Error during USB read: 5");
        const Outcome wanted = answered(unreplaced);
        expect(attempt([&] {
                   return pic.writeRead(CHIP_ADDRESS, std::string(1, char(reg::CHIP_ID)), 1);
               }),
               wanted, "short answer");
        bridge.setAnswerLength(-1);
    }

    void lines(FuzzInput &in) {
        const bool en = in.flag();
        const uint8_t value = in.byte();
        if (en)
            pic.writeEN(value);
        else
            pic.writePVIN(value);
        FUZZ_CHECK((en ? bridge.en() : bridge.pvin()) == (value != 0), "line level %d", value);
    }

    void plainWrite(FuzzInput &in) {
        const uint16_t to = address(in);
        const std::vector<uint8_t> payload = in.bytes(in.byte() % 64);
        const Outcome wanted = payload.size() > size_t(bridge::MAX_WRITE_PAYLOAD)
                                   ? throws("I2C write of " + std::to_string(payload.size()) +
                                            " bytes exceeds the 61 a report holds")
                                   : Outcome();
        expect(attempt([&] {
                   pic.write(to, std::string(payload.begin(), payload.end()));
                   return std::string();
               }),
               wanted, "write");
    }

    SimulatedBridge &bridge;
    PIC pic;
    std::optional<std::vector<uint8_t>> replacement; // what the next answer is replaced by
};

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    hid::removePlatformBackend(); // only the simulated bridge is on the bus
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    FuzzInput in(data, size);
    {
        Session session;
        session.run(in);
    }
    stopSimulation();
    return 0;
}
