// Enumeration and opening over the backend table.
#include "link/hid_discovery.h"

#include "link/hid_backend_table.h"

#include <cerrno>

bool enumerateHidInterfaces(std::vector<HidInterfaceRecord> &list) {
    list.clear();
    bool listed = false;
    for (hid::Backend *backend : hid::backendTable()) {
        std::vector<hid::DeviceInfo> devices;
        if (!backend->enumerate(devices))
            continue;
        listed = true;
        for (const hid::DeviceInfo &info : devices) {
            HidInterfaceRecord record;
            record.path = info.path;
            record.attributes = {info.vendorId, info.productId, info.versionNumber};
            list.push_back(std::move(record));
        }
    }
    return listed || hid::backendTable().empty();
}

bool openHidInterface(const std::string &path, bool read, bool write, bool overlapped,
                      bool exclusive, HidInterfaceRecord &record) {
    releaseHidInterface(record);
    record = HidInterfaceRecord();
    record.path = path;
    record.openedForRead = read;
    record.openedForWrite = write;
    record.openedOverlapped = overlapped;
    record.openedExclusive = exclusive;

    hid::Backend *backend = hid::backendForPath(path);
    int error = ENOENT;
    hid::DeviceInfo info;
    hid::Handle *handle = nullptr;
    // hidraw nodes can always be shared; an exclusive open cannot be honoured.
    if (exclusive)
        error = EOPNOTSUPP;
    else if (backend && !path.empty())
        handle = backend->open(path, read, write, info, error);
    if (!handle) {
        releaseHidInterface(record);
        record.lastError = error ? error : EIO;
        return false;
    }
    record.handle.reset(handle);
    record.attributes = {info.vendorId, info.productId, info.versionNumber};
    return true;
}

void releaseHidInterface(HidInterfaceRecord &record) {
    record.handle.reset();
}

void releaseHidInterfaceList(std::vector<HidInterfaceRecord> &list) {
    for (HidInterfaceRecord &record : list)
        releaseHidInterface(record);
}
