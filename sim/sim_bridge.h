// A simulated bridge board: decodes the same 65-byte output reports as the
// bridge firmware, keeps the EN line and the PVIN switch, and answers each
// write-read with one input report carrying the chip's byte where the real
// bridge puts it. Behind it sits one simulated chip. Faults of the link itself
// (unplugged, stalled, short or late answers) can be injected for tests.
#pragma once

#include "sim/sim_chip.h"

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <vector>

class SimulatedBridge {
public:
    explicit SimulatedBridge(const ChipDescriptor &model);

    SimulatedChip &chip() { return simChip; }

    // Host side. receive() takes one output report (report ID first) and returns
    // the bytes taken, or -1 with error set. readAnswer() hands over the next
    // input report without its report-ID byte (as hidraw delivers it), waiting at
    // most timeoutMs when there is none; 0 means time-out.
    int receive(const uint8_t *report, size_t length, int &error);
    int readAnswer(uint8_t *out, size_t length, int timeoutMs, int &error);
    bool present();

    bool en() const { return enLine; }
    bool pvin() const { return pvinSwitch; }

    // Link faults. unplugAfterReports(n): n more reports reach the bridge, then
    // it is gone (the answer to the n-th is not read any more).
    // stallAfterReports(n): the n-th report is still answered, later ones not.
    // n <= 0: at once. An unplugged board loses the answers not yet read.
    // unplugAfter() and stallAfter() count from the call: reports that arrive
    // from then on find the board gone or go unanswered.
    void unplug() { goAway(); }
    void replug() { unplugged = false; }
    void unplugAfterReports(long n);
    void unplugAfter(std::chrono::milliseconds delay);
    void stall(bool on) { stalled = on; }
    void stallAfterReports(long n);
    void stallAfter(std::chrono::milliseconds delay);
    // When the board next changes by itself: a timed unplug falls due or a
    // delayed answer can be read (time_point::max(): nothing due). A host that
    // waits on its own event loop sleeps until then.
    std::chrono::steady_clock::time_point nextChange() const;
    // Answers of this many bytes (0 = empty, 1 or 2 = too short to hold the
    // chip's byte); -1 restores full answers.
    void setAnswerLength(int bytes) { answerLength = bytes; }
    // Opening the bridge fails with this errno (0: opens succeed), as for a node
    // the user may not access.
    void refuseOpen(int error) { openError = error; }
    int openRefusal() const { return openError; }
    // The chip stops answering: reads return 0xFF as on a pulled-up bus.
    void setChipSilent(bool on) { chipSilent = on; }
    // A slow bridge: the answer to each later write-read can be read only this
    // long after its report (0: at once).
    void delayAnswers(std::chrono::milliseconds delay) { answerDelay = delay; }
    // Answers run late: each write-read's answer turns up only once the read
    // waiting for it has given up (timed out, or taken an earlier answer), as
    // from a bridge recovering from a hiccup. Needs no clock, unlike delayAnswers.
    void setLateAnswers(bool on) { lateAnswers = on; }
    // The next write-read is answered with exactly these bytes (the input report
    // without its report-ID byte, any length, any content) instead of the chip's
    // answer; a stall still swallows it. For tests and fuzzing of the transport.
    void replaceNextAnswer(std::vector<uint8_t> bytes);
    // Whether a read that finds no answer waits out its time-out (on, as a real
    // bridge) or reports the time-out at once (off, for fuzzing and soak runs).
    void setTimeoutWait(bool on) { timeoutWait = on; }
    // Milliseconds that reads finding no answer have waited, or would have
    // waited on a real bridge: how long a program stalls on this board,
    // counted without a clock.
    long timeoutWaitedMs() const { return waitedMs; }
    // Called after each report the bridge takes, so that a test's clock can
    // advance as the board is used (an exchange that takes time).
    void setReportHook(std::function<void()> hook) { reportHook = std::move(hook); }

    // Traffic: every output report received, in order (recording can be turned
    // off for long runs).
    struct BusWrite {
        uint16_t address;
        std::string bytes;
        bool operator==(const BusWrite &o) const {
            return address == o.address && bytes == o.bytes;
        }
    };
    void setRecording(bool on) { recording = on; }
    const std::vector<std::vector<uint8_t>> &reports() const { return received; }
    // The I2C writes among them (command 0xF1), decoded.
    std::vector<BusWrite> writes() const;
    void clearTraffic() { received.clear(); }
    long reportCount() const { return reportsSeen; }
    // Reports received with this command byte (counted even while not recording).
    long commandCount(uint8_t command) const { return commandsSeen[command]; }

    static constexpr int INPUT_REPORT_SIZE = 64; // without the report-ID byte

private:
    bool chipPowered() const { return enLine && pvinSwitch; }
    bool chipAnswers(uint8_t addressByte) const;
    void setLines(bool en, bool pvin);
    void goAway(); // unplugged from now on
    void handle(const uint8_t *report);
    void countReport();

    SimulatedChip simChip;
    struct Answer {
        std::chrono::steady_clock::time_point ready;
        std::vector<uint8_t> bytes;
    };
    std::deque<Answer> answers;
    std::deque<std::vector<uint8_t>> lateOnes; // answers not yet arrived
    std::vector<std::vector<uint8_t>> received;
    bool enLine = false;
    bool pvinSwitch = true; // the supply switch is on at power-up
    bool unplugged = false;
    bool stalled = false;
    bool chipSilent = false;
    bool recording = true;
    bool timeoutWait = true;
    std::atomic<long> waitedMs{0};
    bool lateAnswers = false;
    bool answerReplaced = false;
    std::vector<uint8_t> replacement;
    std::function<void()> reportHook;
    int answerLength = -1;
    std::chrono::milliseconds answerDelay{0};
    int openError = 0;
    long unplugCountdown = -1;
    long stallCountdown = -1;
    std::atomic<long> reportsSeen{0}; // read by tests while a bridge thread runs
    std::array<long, 256> commandsSeen{};
    bool unplugDeadlineSet = false;
    std::chrono::steady_clock::time_point unplugDeadline;
    bool stallDeadlineSet = false;
    std::chrono::steady_clock::time_point stallDeadline;
};
