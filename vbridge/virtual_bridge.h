// The simulated evaluation board as a real HID device of the running kernel:
// a uhid device (bus USB, vendor 0x04D8, product 0xF02A, 64-byte input and
// output reports without report IDs) whose output reports are answered by a
// SimulatedBridge. Any program on the machine then finds it through hidraw
// exactly like a connected board.
#pragma once

#include "sim/sim_bridge.h"
#include "vbridge/options.h"

#include <chrono>
#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

// The one-line message for a uhid node that cannot be opened.
std::string uhidOpenFailure(const std::string &path, int error);

// Turns the data of a UHID_OUTPUT event into the bridge's 65-byte report. The
// kernel hands over the report ID byte 0 followed by the 64 bytes (65 in all);
// a 64-byte report without it is taken as the 64 bytes. Shorter data is padded
// with zeros (a leading 0 counts as the report ID), longer data is cut.
std::vector<uint8_t> bridgeReportFromOutput(const uint8_t *data, size_t size);

class VirtualBridge {
public:
    // fd: an open /dev/uhid (or anything that exchanges one uhid_event per read
    // and write). Log lines go to log. Throws a std::string for an unknown model.
    VirtualBridge(int fd, const VirtualBridgeOptions &options, std::ostream &log);
    ~VirtualBridge();
    VirtualBridge(const VirtualBridge &) = delete;
    VirtualBridge &operator=(const VirtualBridge &) = delete;

    SimulatedBridge &simulated() { return bridge; }

    // Plugs the device in (UHID_CREATE2); false with the reason in error.
    bool create(std::string &error);

    enum class End { Unplugged, Stopped, Failed };
    // Answers the kernel until the simulated board is unplugged (by an option
    // or a request) or a stop is requested, then removes the device
    // (UHID_DESTROY). Failed: the uhid node itself failed, with the reason in error.
    End run(std::string &error);

    // Safe from signal handlers and other threads.
    void requestUnplug() { wake('u'); }
    void requestStop() { wake('s'); }
    void requestStall() { wake('t'); }

    long reportCount() const { return bridge.reportCount(); }
    // The hidraw node the device appeared as, once found ("" before).
    const std::string &hidrawNode() const { return node; }
    // The device's unique text (HID_UNIQ), by which its hidraw node is found.
    const std::string &uniq() const { return uniqText; }

private:
    using Clock = std::chrono::steady_clock;

    void wake(char request);
    bool send(const void *event, std::string &error);
    bool destroy(std::string &error);
    // Handles one event from the kernel; false when sending failed (error set).
    bool handleEvent(const uint8_t *event, size_t size, std::string &error);
    bool handleOutput(const uint8_t *data, size_t size, std::string &error);
    // Sends the answers that are due.
    bool sendAnswers(std::string &error);
    void lookForNode();
    int pollTimeoutMs() const;
    void logBytes(const char *what, const uint8_t *data, size_t size);

    int fd;
    int wakeRead = -1;
    int wakeWrite = -1;
    VirtualBridgeOptions options;
    std::ostream &log;
    SimulatedBridge bridge;
    std::string uniqText;
    std::string node;
    bool started = false;
    Clock::time_point createdAt;
};
