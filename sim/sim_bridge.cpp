#include "sim/sim_bridge.h"

#include "link/bridge_protocol.h"

#include <algorithm>
#include <cerrno>
#include <iterator>
#include <thread>

SimulatedBridge::SimulatedBridge(const ChipDescriptor &model) : simChip(model) {}

void SimulatedBridge::goAway() {
    unplugged = true;
    // Answers not yet read go with the board: a replugged board starts afresh
    // instead of handing over an answer to an earlier question.
    answers.clear();
    lateOnes.clear();
}

void SimulatedBridge::unplugAfter(std::chrono::milliseconds delay) {
    unplugDeadlineSet = true;
    unplugDeadline = std::chrono::steady_clock::now() + delay;
}

void SimulatedBridge::stallAfter(std::chrono::milliseconds delay) {
    stallDeadlineSet = true;
    stallDeadline = std::chrono::steady_clock::now() + delay;
}

std::chrono::steady_clock::time_point SimulatedBridge::nextChange() const {
    auto next = std::chrono::steady_clock::time_point::max();
    if (unplugDeadlineSet)
        next = unplugDeadline;
    if (!answers.empty())
        next = std::min(next, answers.front().ready);
    return next;
}

bool SimulatedBridge::present() {
    if (unplugDeadlineSet && std::chrono::steady_clock::now() >= unplugDeadline) {
        goAway();
        unplugDeadlineSet = false;
    }
    return !unplugged;
}

void SimulatedBridge::unplugAfterReports(long n) {
    unplugCountdown = n;
    if (n <= 0)
        goAway();
}

void SimulatedBridge::stallAfterReports(long n) {
    stallCountdown = n;
    if (n <= 0)
        stalled = true;
}

void SimulatedBridge::countReport() {
    ++reportsSeen;
    if (unplugCountdown > 0 && --unplugCountdown == 0)
        goAway();
    if (stallCountdown > 0 && --stallCountdown == 0)
        stalled = true;
}

int SimulatedBridge::receive(const uint8_t *report, size_t length, int &error) {
    if (!present()) {
        error = ENODEV;
        return -1;
    }
    if (stallDeadlineSet && std::chrono::steady_clock::now() >= stallDeadline) {
        stalled = true;
        stallDeadlineSet = false;
    }
    if (recording)
        received.emplace_back(report, report + length);
    if (length > 1)
        ++commandsSeen[report[1]];
    // The firmware sees the 64 bytes behind report ID 0; anything else is not
    // one of its reports.
    if (length == size_t(bridge::REPORT_SIZE) && report[0] == 0)
        handle(report);
    countReport();
    if (reportHook)
        reportHook();
    return int(length);
}

int SimulatedBridge::readAnswer(uint8_t *out, size_t length, int timeoutMs, int &error) {
    if (!present()) {
        error = ENODEV;
        return -1;
    }
    const auto now = std::chrono::steady_clock::now();
    const auto deadline = now + std::chrono::milliseconds(std::max(timeoutMs, 0));
    int got = 0;
    if (!answers.empty() && answers.front().ready <= (timeoutWait ? deadline : now)) {
        if (timeoutWait)
            std::this_thread::sleep_until(answers.front().ready);
        const std::vector<uint8_t> answer = std::move(answers.front().bytes);
        answers.pop_front();
        got = int(std::min(length, answer.size()));
        std::copy_n(answer.begin(), got, out);
    } else {
        waitedMs += std::max(timeoutMs, 0);
        if (timeoutWait)
            std::this_thread::sleep_until(deadline);
    }
    // Late answers turn up just after the read that could have had them.
    for (std::vector<uint8_t> &late : lateOnes)
        answers.push_back({std::chrono::steady_clock::now(), std::move(late)});
    lateOnes.clear();
    return got;
}

void SimulatedBridge::replaceNextAnswer(std::vector<uint8_t> bytes) {
    replacement = std::move(bytes);
    answerReplaced = true;
}

bool SimulatedBridge::chipAnswers(uint8_t addressByte) const {
    return chipPowered() && !chipSilent && (addressByte >> 1) == simChip.address();
}

void SimulatedBridge::setLines(bool en, bool pvin) {
    const bool wasPowered = chipPowered();
    enLine = en;
    pvinSwitch = pvin;
    if (!wasPowered && chipPowered())
        simChip.reset();
}

void SimulatedBridge::handle(const uint8_t *report) {
    const uint8_t command = report[1];
    const size_t count = report[2];
    const uint8_t *params = report + 3;
    const size_t room = bridge::REPORT_SIZE - 3;

    switch (command) {
    case bridge::CMD_I2C_WRITE: {
        if (count < 1 || count > room)
            return;
        if (chipAnswers(params[0]))
            simChip.i2cWrite(params + 1, count - 1);
        return;
    }
    case bridge::CMD_I2C_WRITE_READ: {
        if (count < 3 || count > room)
            return;
        const size_t n = count - 3;
        const uint8_t readCount = params[2 + n];
        const bool answering = chipAnswers(params[0]);
        if (answering)
            simChip.i2cWrite(params + 1, n);
        std::vector<uint8_t> answer(INPUT_REPORT_SIZE, 0);
        answer[0] = bridge::CMD_I2C_WRITE_READ;
        answer[1] = readCount;
        const size_t fits = std::min<size_t>(readCount, INPUT_REPORT_SIZE - 2);
        for (size_t i = 0; i < fits; ++i)
            answer[2 + i] = answering ? simChip.i2cRead() : 0xFF;
        if (answerReplaced) {
            answer = std::move(replacement);
            answerReplaced = false;
        } else if (answerLength >= 0) {
            answer.resize(std::min<size_t>(answerLength, answer.size()));
        }
        if (stalled)
            return;
        if (lateAnswers)
            lateOnes.push_back(std::move(answer));
        else
            answers.push_back({std::chrono::steady_clock::now() + answerDelay, std::move(answer)});
        return;
    }
    case bridge::CMD_SET_EN:
        setLines(params[0] != 0, pvinSwitch);
        return;
    case bridge::CMD_SET_PVIN:
        setLines(enLine, params[0] != 0);
        return;
    default:
        return; // unknown commands are ignored, as by the firmware
    }
}

std::vector<SimulatedBridge::BusWrite> SimulatedBridge::writes() const {
    std::vector<BusWrite> result;
    for (const std::vector<uint8_t> &report : received) {
        if (report.size() != size_t(bridge::REPORT_SIZE) || report[1] != bridge::CMD_I2C_WRITE)
            continue;
        const size_t count = std::min<size_t>(report[2], bridge::REPORT_SIZE - 3);
        if (count < 1)
            continue;
        result.push_back({uint16_t(report[3] >> 1),
                          std::string(report.begin() + 4, report.begin() + 3 + count)});
    }
    return result;
}
