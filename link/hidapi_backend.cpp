// The platform backend: hidraw nodes through hidapi. hidraw lets one node be
// opened several times, so the bridge can be held once for writing and once for
// reading; as every handle then gets every input report, the transport locks the
// node against other programs. hidapi always opens nodes read-write; the access
// asked for is kept in the record only.
#include "link/hid_backend_table.h"

#include <hidapi/hidapi.h>

#include <cerrno>

namespace hid {
namespace {

class HidapiHandle : public Handle {
public:
    explicit HidapiHandle(hid_device *device) : device(device) {}
    ~HidapiHandle() override { hid_close(device); }

    int write(const unsigned char *data, size_t length) override {
        errno = 0;
        const int written = hid_write(device, data, length);
        if (written < 0)
            lastError = errno ? errno : EIO;
        return written;
    }

    int read(unsigned char *data, size_t length, int timeoutMs) override {
        errno = 0;
        const int got = hid_read_timeout(device, data, length, timeoutMs);
        // A hang-up on the node (the device is gone) comes back from hidapi
        // without errno set.
        if (got < 0)
            lastError = errno ? errno : ENODEV;
        return got;
    }

    int error() const override { return lastError; }

private:
    hid_device *device;
    int lastError = 0;
};

class HidapiBackend : public Backend {
public:
    bool enumerate(std::vector<DeviceInfo> &devices) override {
        if (!initialise())
            return false;
        hid_device_info *all = hid_enumerate(0, 0);
        for (hid_device_info *d = all; d; d = d->next)
            devices.push_back(describe(d));
        hid_free_enumeration(all);
        return true;
    }

    bool ownsPath(const std::string &path) const override {
        return path.compare(0, 5, "/dev/") == 0;
    }

    bool locksBoard() const override { return true; }

    Handle *open(const std::string &path, bool, bool, DeviceInfo &info, int &error) override {
        if (!initialise()) {
            error = errno ? errno : EIO;
            return nullptr;
        }
        errno = 0;
        hid_device *device = hid_open_path(path.c_str());
        if (!device) {
            error = errno ? errno : EIO;
            return nullptr;
        }
        if (hid_device_info *d = hid_get_device_info(device))
            info = describe(d);
        return new HidapiHandle(device);
    }

private:
    static DeviceInfo describe(const hid_device_info *d) {
        DeviceInfo info;
        info.path = d->path ? d->path : "";
        info.vendorId = d->vendor_id;
        info.productId = d->product_id;
        info.versionNumber = d->release_number;
        info.serialNumber = utf8(d->serial_number);
        info.manufacturer = utf8(d->manufacturer_string);
        info.product = utf8(d->product_string);
        return info;
    }

    bool initialise() {
        if (!initialised)
            initialised = hid_init() == 0;
        return initialised;
    }

    bool initialised = false;
};

} // namespace

Backend *platformBackend() {
    static HidapiBackend backend;
    return &backend;
}
} // namespace hid
