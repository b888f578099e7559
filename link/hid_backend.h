// What HID discovery needs of a platform (or of the simulated bridge): list the
// interfaces, open one by path, and exchange reports on an open handle.
// Dependency-free, so a backend can live in any layer that plugs in beneath.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace hid {

// One open interface.
class Handle {
public:
    virtual ~Handle() = default;
    // Sends one output report; data[0] is the report ID. Returns the number of
    // bytes written, or -1 with error() set to an errno value.
    virtual int write(const unsigned char *data, size_t length) = 0;
    // Waits at most timeoutMs for one input report and stores it without the
    // report-ID byte (as hidraw delivers reports of a device without numbered
    // reports). Returns its length, 0 on time-out, or -1 with error() set.
    virtual int read(unsigned char *data, size_t length, int timeoutMs) = 0;
    virtual int error() const = 0;
};

struct DeviceInfo {
    std::string path;
    uint16_t vendorId = 0;
    uint16_t productId = 0;
    uint16_t versionNumber = 0;
    // The USB strings, in UTF-8; empty when the device has none.
    std::string serialNumber;
    std::string manufacturer;
    std::string product;
};

// A device string as UTF-8 (wchar_t holds UTF-32 where hidapi runs); nullptr
// gives "" and a value that is no code point gives U+FFFD.
std::string utf8(const wchar_t *text);

class Backend {
public:
    virtual ~Backend() = default;
    // Appends the interfaces present; false when the listing itself failed.
    virtual bool enumerate(std::vector<DeviceInfo> &devices) = 0;
    // Whether a path came from this backend's enumeration.
    virtual bool ownsPath(const std::string &path) const = 0;
    // Opens an interface and fills info; nullptr with error set to an errno
    // value on failure.
    virtual Handle *open(const std::string &path, bool read, bool write, DeviceInfo &info,
                         int &error) = 0;
    // Whether a board opened through this backend must be locked against other
    // handles (hidraw hands every input report to every open handle).
    virtual bool locksBoard() const { return false; }
};

// The backend table, consulted in order by enumeration and by open. The
// platform's backend is in it from the start.
void addBackend(Backend *backend, bool first);
void removeBackend(Backend *backend);
// Drops the platform's backend, so that only added ones are listed (tests).
void removePlatformBackend();

} // namespace hid
