#include "vbridge/virtual_bridge.h"

#include "device/chip_table.h"
#include "link/bridge_protocol.h"

#include <linux/uhid.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <poll.h>
#include <unistd.h>

namespace {

const char *const PROGRAM = "qm44xx-virtual-bridge";
// How long the hidraw node of a new device is looked for, and how often.
constexpr int NODE_SEARCH_MS = 5000;
constexpr int NODE_POLL_MS = 50;
constexpr int REPORT_BYTES = 64;

std::string hexBytes(const uint8_t *data, size_t size) {
    std::string text;
    char byte[4];
    for (size_t i = 0; i < size; ++i) {
        std::snprintf(byte, sizeof byte, i ? " %02x" : "%02x", data[i]);
        text += byte;
    }
    return text;
}

// A vendor-defined application collection with one 64-byte input and one
// 64-byte output report, no report IDs: the real bridge's layout.
const std::vector<uint8_t> &bridgeReportDescriptor() {
    static const std::vector<uint8_t> descriptor = {
        0x06, 0x00, 0xFF, // Usage Page (vendor-defined 0xFF00)
        0x09, 0x01,       // Usage (1)
        0xA1, 0x01,       // Collection (Application)
        0x15, 0x00,       //   Logical Minimum (0)
        0x26, 0xFF, 0x00, //   Logical Maximum (255)
        0x75, 0x08,       //   Report Size (8 bits)
        0x95, 0x40,       //   Report Count (64)
        0x09, 0x01,       //   Usage (1)
        0x81, 0x02,       //   Input (Data, Variable, Absolute)
        0x95, 0x40,       //   Report Count (64)
        0x09, 0x01,       //   Usage (1)
        0x91, 0x02,       //   Output (Data, Variable, Absolute)
        0xC0,             // End Collection
    };
    return descriptor;
}

} // namespace

std::string uhidOpenFailure(const std::string &path, int error) {
    return std::string(PROGRAM) + ": cannot open " + path + " (" + std::strerror(error) +
           "): it needs the uhid kernel module (sudo modprobe uhid) and root or read-write "
           "access to " +
           path;
}

std::vector<uint8_t> bridgeReportFromOutput(const uint8_t *data, size_t size) {
    std::vector<uint8_t> report(bridge::REPORT_SIZE, 0);
    size_t skip = 0;
    if (size == size_t(bridge::REPORT_SIZE)) {
        report[0] = data[0]; // the report ID, 0 for this device
        skip = 1;
    } else if (size != size_t(REPORT_BYTES) && size > 0 && data[0] == 0) {
        skip = 1;
    }
    const size_t n = std::min(size - skip, size_t(REPORT_BYTES));
    std::copy_n(data + skip, n, report.begin() + 1);
    return report;
}

namespace {
const ChipDescriptor &knownModel(const std::string &name) {
    const ChipDescriptor *model = findChipModel(name);
    if (!model)
        throw "Unknown chip model \"" + name + "\" (known: " + chipModelNames() + ")";
    return *model;
}
} // namespace

VirtualBridge::VirtualBridge(int fd, const VirtualBridgeOptions &options, std::ostream &log)
    : fd(fd), options(options), log(log), bridge(knownModel(options.model)),
      createdAt(Clock::now()) {
    int pipeFds[2];
    if (pipe2(pipeFds, O_NONBLOCK | O_CLOEXEC) == 0) {
        wakeRead = pipeFds[0];
        wakeWrite = pipeFds[1];
    }
    bridge.setRecording(false);
    if (options.stallAfterReports >= 0)
        bridge.stallAfterReports(options.stallAfterReports);
    bridge.delayAnswers(std::chrono::milliseconds(options.answerDelayMs));
    static int instances = 0;
    uniqText = "qm44xx-virtual-" + std::to_string(getpid()) + "-" + std::to_string(++instances);
}

VirtualBridge::~VirtualBridge() {
    if (wakeRead >= 0)
        close(wakeRead);
    if (wakeWrite >= 0)
        close(wakeWrite);
}

void VirtualBridge::wake(char request) {
    if (wakeWrite >= 0) {
        const ssize_t written = ::write(wakeWrite, &request, 1);
        (void)written; // a full pipe already holds a request
    }
}

bool VirtualBridge::send(const void *event, std::string &error) {
    const ssize_t written = ::write(fd, event, sizeof(uhid_event));
    if (written < 0) {
        error = std::string("writing to ") + options.uhidPath + " failed: " + std::strerror(errno);
        return false;
    }
    return true;
}

bool VirtualBridge::create(std::string &error) {
    if (wakeRead < 0) {
        error = std::string("cannot make a pipe: ") + std::strerror(errno);
        return false;
    }
    uhid_event event;
    std::memset(&event, 0, sizeof event);
    event.type = UHID_CREATE2;
    uhid_create2_req &req = event.u.create2;
    std::snprintf(reinterpret_cast<char *>(req.name), sizeof req.name, "%s", options.name.c_str());
    std::snprintf(reinterpret_cast<char *>(req.phys), sizeof req.phys, "%s", PROGRAM);
    std::snprintf(reinterpret_cast<char *>(req.uniq), sizeof req.uniq, "%s", uniqText.c_str());
    const std::vector<uint8_t> &descriptor = bridgeReportDescriptor();
    req.rd_size = uint16_t(descriptor.size());
    std::copy(descriptor.begin(), descriptor.end(), req.rd_data);
    req.bus = BUS_USB;
    req.vendor = bridge::VENDOR_ID;
    req.product = bridge::PRODUCT_ID;
    req.version = 0x0100;
    req.country = 0;
    if (!send(&event, error))
        return false;
    createdAt = Clock::now();
    if (options.unplugAfterMs >= 0)
        bridge.unplugAfter(std::chrono::milliseconds(options.unplugAfterMs));
    if (options.stallAfterMs >= 0)
        bridge.stallAfter(std::chrono::milliseconds(options.stallAfterMs));
    return true;
}

bool VirtualBridge::destroy(std::string &error) {
    uhid_event event;
    std::memset(&event, 0, sizeof event);
    event.type = UHID_DESTROY;
    return send(&event, error);
}

void VirtualBridge::logBytes(const char *what, const uint8_t *data, size_t size) {
    if (!options.verbose)
        return;
    size_t shown = size;
    while (shown > 0 && data[shown - 1] == 0)
        --shown;
    log << PROGRAM << ": " << what << " (" << size << " bytes): " << hexBytes(data, shown)
        << (shown < size ? " + zeros" : "") << std::endl;
}

bool VirtualBridge::handleOutput(const uint8_t *data, size_t size, std::string &error) {
    logBytes("output report", data, size);
    const std::vector<uint8_t> report = bridgeReportFromOutput(data, size);
    int bridgeError = 0;
    bridge.receive(report.data(), report.size(), bridgeError);
    if (!sendAnswers(error))
        return false;
    // After its answer: SimulatedBridge::unplugAfterReports() would lose it.
    if (options.unplugAfterReports >= 0 && bridge.reportCount() >= options.unplugAfterReports)
        bridge.unplug();
    return true;
}

bool VirtualBridge::sendAnswers(std::string &error) {
    uint8_t answer[REPORT_BYTES];
    int bridgeError = 0;
    int got;
    while ((got = bridge.readAnswer(answer, sizeof answer, 0, bridgeError)) > 0) {
        uhid_event event;
        std::memset(&event, 0, sizeof event);
        event.type = UHID_INPUT2;
        event.u.input2.size = uint16_t(got);
        std::copy_n(answer, got, event.u.input2.data);
        logBytes("input report", answer, size_t(got));
        if (!send(&event, error))
            return false;
    }
    return true;
}

bool VirtualBridge::handleEvent(const uint8_t *raw, size_t size, std::string &error) {
    uhid_event event;
    std::memset(&event, 0, sizeof event);
    std::memcpy(&event, raw, std::min(size, sizeof event));
    switch (event.type) {
    case UHID_START:
        started = true;
        if (options.verbose)
            log << PROGRAM << ": started by the kernel" << std::endl;
        if (options.hidrawClassDir.empty())
            log << PROGRAM << ": " << options.model << " plugged in" << std::endl;
        else
            lookForNode();
        return true;
    case UHID_STOP:
        if (options.verbose)
            log << PROGRAM << ": stopped by the kernel" << std::endl;
        return true;
    case UHID_OPEN:
    case UHID_CLOSE:
        if (options.verbose)
            log << PROGRAM << ": " << (event.type == UHID_OPEN ? "opened" : "closed") << std::endl;
        if (event.type == UHID_OPEN)
            lookForNode();
        return true;
    case UHID_OUTPUT: {
        if (event.u.output.rtype != UHID_OUTPUT_REPORT) {
            if (options.verbose)
                log << PROGRAM << ": ignored a report of type " << int(event.u.output.rtype)
                    << std::endl;
            return true;
        }
        const size_t n = std::min<size_t>(event.u.output.size, UHID_DATA_MAX);
        return handleOutput(event.u.output.data, n, error);
    }
    case UHID_GET_REPORT: {
        // The bridge has no feature reports: refuse at once, so nothing waits.
        uhid_event reply;
        std::memset(&reply, 0, sizeof reply);
        reply.type = UHID_GET_REPORT_REPLY;
        reply.u.get_report_reply.id = event.u.get_report.id;
        reply.u.get_report_reply.err = EIO;
        if (options.verbose)
            log << PROGRAM << ": refused a get-report request" << std::endl;
        return send(&reply, error);
    }
    case UHID_SET_REPORT: {
        uhid_event reply;
        std::memset(&reply, 0, sizeof reply);
        reply.type = UHID_SET_REPORT_REPLY;
        reply.u.set_report_reply.id = event.u.set_report.id;
        reply.u.set_report_reply.err = EIO;
        if (options.verbose)
            log << PROGRAM << ": refused a set-report request" << std::endl;
        return send(&reply, error);
    }
    default:
        if (options.verbose)
            log << PROGRAM << ": ignored event " << event.type << std::endl;
        return true;
    }
}

void VirtualBridge::lookForNode() {
    if (!node.empty() || options.hidrawClassDir.empty() || !started)
        return;
    DIR *dir = opendir(options.hidrawClassDir.c_str());
    if (dir) {
        const std::string wanted = "HID_UNIQ=" + uniqText;
        while (dirent *entry = readdir(dir)) {
            if (std::strncmp(entry->d_name, "hidraw", 6) != 0)
                continue;
            std::ifstream uevent(options.hidrawClassDir + "/" + entry->d_name + "/device/uevent");
            std::string line;
            while (std::getline(uevent, line)) {
                if (line == wanted)
                    node = std::string("/dev/") + entry->d_name;
            }
            if (!node.empty())
                break;
        }
        closedir(dir);
    }
    if (!node.empty()) {
        log << PROGRAM << ": " << options.model << " plugged in as " << node << std::endl;
    } else if (Clock::now() - createdAt >= std::chrono::milliseconds(NODE_SEARCH_MS)) {
        log << PROGRAM << ": " << options.model << " plugged in (no hidraw node found in "
            << options.hidrawClassDir << ")" << std::endl;
        options.hidrawClassDir.clear();
    }
}

int VirtualBridge::pollTimeoutMs() const {
    // The board's own next change (a timed unplug, a late answer); a timed stall
    // needs no waking: it takes the reports that come after it.
    Clock::time_point due = bridge.nextChange();
    if (started && node.empty() && !options.hidrawClassDir.empty())
        due = std::min(due, Clock::now() + std::chrono::milliseconds(NODE_POLL_MS));
    if (due == Clock::time_point::max())
        return -1;
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(due - Clock::now()).count();
    return int(std::clamp<long long>(left, 0, INT_MAX));
}

VirtualBridge::End VirtualBridge::run(std::string &error) {
    std::vector<uint8_t> buffer(sizeof(uhid_event));
    bool stop = false;
    while (bridge.present() && !stop) {
        pollfd fds[2] = {{fd, POLLIN, 0}, {wakeRead, POLLIN, 0}};
        const int ready = poll(fds, 2, pollTimeoutMs());
        if (ready < 0 && errno != EINTR) {
            error =
                std::string("waiting for ") + options.uhidPath + " failed: " + std::strerror(errno);
            return End::Failed;
        }
        lookForNode();
        if (!sendAnswers(error))
            return End::Failed;
        if (ready <= 0)
            continue;
        if (fds[1].revents & POLLIN) {
            char requests[16];
            const ssize_t n = ::read(wakeRead, requests, sizeof requests);
            for (ssize_t i = 0; i < n; ++i) {
                if (requests[i] == 'u')
                    bridge.unplug();
                else if (requests[i] == 's')
                    stop = true;
                else if (requests[i] == 't')
                    bridge.stall(true);
            }
        }
        if (stop || !bridge.present())
            break;
        if (fds[0].revents & POLLIN) {
            const ssize_t n = ::read(fd, buffer.data(), buffer.size());
            if (n < 0 && (errno == EINTR || errno == EAGAIN))
                continue;
            if (n <= 0) {
                error = n == 0 ? options.uhidPath + " closed"
                               : "reading " + options.uhidPath + " failed: " + std::strerror(errno);
                return End::Failed;
            }
            if (!handleEvent(buffer.data(), size_t(n), error))
                return End::Failed;
        } else if (fds[0].revents & (POLLERR | POLLHUP | POLLNVAL)) {
            error = options.uhidPath + " hung up";
            return End::Failed;
        }
    }
    const bool unplugged = !bridge.present();
    if (!destroy(error))
        return End::Failed;
    log << PROGRAM << ": " << (unplugged ? "unplugged" : "stopped") << " after "
        << bridge.reportCount() << " reports" << std::endl;
    return unplugged ? End::Unplugged : End::Stopped;
}
