// HID interface discovery: list the interfaces present, open one by path with the
// access asked for, and release records again.
#pragma once

#include "link/hid_backend.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

struct HidAttributes {
    uint16_t VendorID = 0;
    uint16_t ProductID = 0;
    uint16_t VersionNumber = 0;
};

// One HID interface. A record without a handle is closed; it owns its handle,
// so records move but do not copy.
struct HidInterfaceRecord {
    std::string path;
    std::unique_ptr<hid::Handle> handle;
    bool openedForRead = false;
    bool openedForWrite = false;
    bool openedOverlapped = false;
    bool openedExclusive = false;
    HidAttributes attributes;
    // errno of the last failed open of this record, 0 if none.
    int lastError = 0;
};

// Lists every interface of every backend in a stable order, closed, with path
// and attributes. False (and an empty list) only when no listing succeeded.
bool enumerateHidInterfaces(std::vector<HidInterfaceRecord> &list);
// Opens path into record. On failure the record is released and closed, and
// record.lastError holds the errno value.
bool openHidInterface(const std::string &path, bool read, bool write, bool overlapped,
                      bool exclusive, HidInterfaceRecord &record);
// Closes the handle; releasing twice is harmless.
void releaseHidInterface(HidInterfaceRecord &record);
void releaseHidInterfaceList(std::vector<HidInterfaceRecord> &list);
