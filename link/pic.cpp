#include "link/pic.h"

#include "link/board_lock.h"
#include "link/bridge_protocol.h"
#include "link/hid_backend_table.h"

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <iostream>

namespace {
using Report = std::array<unsigned char, bridge::REPORT_SIZE>;

void traceBytes(const std::string &data) {
    for (unsigned char byte : data)
        std::printf("0x%02x ", byte);
    std::fflush(stdout);
    std::cout << "]\n";
}

Report lineReport(uint8_t command, uint8_t value) {
    Report report{}; // report ID 0 and zero padding
    report[1] = command;
    report[2] = 0x01;
    report[3] = value;
    return report;
}
} // namespace

namespace {
bool isBridge(const HidAttributes &attributes) {
    return attributes.VendorID == bridge::VENDOR_ID && attributes.ProductID == bridge::PRODUCT_ID;
}

std::string usbId(uint16_t vendor, uint16_t product) {
    char text[10];
    std::snprintf(text, sizeof text, "%04x:%04x", vendor, product);
    return text;
}

// The node a path names, for paths that reach it through a link (udev's
// by-path names, a rule's symlink); the path itself otherwise.
std::string resolvedPath(const std::string &path) {
    if (path.empty() || path[0] != '/')
        return path;
    char *resolved = ::realpath(path.c_str(), nullptr);
    if (!resolved)
        return path;
    std::string node(resolved);
    std::free(resolved);
    return node;
}

// The path of the bridge to open: the first listed, or the one asked for.
std::string choosePath(const std::vector<HidInterfaceRecord> &list, const std::string &wanted) {
    if (wanted.empty()) {
        for (const HidInterfaceRecord &record : list) {
            if (isBridge(record.attributes))
                return record.path; // later matches are never tried
        }
        throw std::string("Motherboard not found");
    }
    const std::string node = resolvedPath(wanted);
    for (const HidInterfaceRecord &record : list) {
        if (record.path != wanted && record.path != node)
            continue;
        if (!isBridge(record.attributes))
            throw "Not a motherboard: " + wanted + " (USB ID " +
                usbId(record.attributes.VendorID, record.attributes.ProductID) + ", not " +
                usbId(bridge::VENDOR_ID, bridge::PRODUCT_ID) + ")";
        return record.path;
    }
    throw "Motherboard not found: " + wanted;
}
} // namespace

std::vector<hid::DeviceInfo> listBridges() {
    std::vector<hid::DeviceInfo> bridges;
    for (hid::Backend *backend : hid::backendTable()) {
        std::vector<hid::DeviceInfo> devices;
        if (!backend->enumerate(devices))
            continue;
        for (hid::DeviceInfo &info : devices) {
            if (info.vendorId == bridge::VENDOR_ID && info.productId == bridge::PRODUCT_ID)
                bridges.push_back(std::move(info));
        }
    }
    return bridges;
}

PIC::PIC(QObject *parent, bool trace, const std::string &devicePath)
    : QObject(parent), trace(trace) {
    std::vector<HidInterfaceRecord> list;
    enumerateHidInterfaces(list);
    const std::string path = choosePath(list, devicePath);
    releaseHidInterfaceList(list);

    // Locked before it is opened, so that a refused program never reads a
    // report of the one that holds the board.
    hid::Backend *backend = hid::backendForPath(path);
    if (backend && backend->locksBoard())
        lock = std::make_unique<BoardLock>(path);

    if (!openHidInterface(path, false, true, false, false, writeHandleRecord))
        throw "Error opening motherboard USB connection: " +
            std::to_string(writeHandleRecord.lastError);
    if (!openHidInterface(path, true, false, false, false, readHandleRecord)) {
        releaseHidInterface(writeHandleRecord);
        throw "Error opening motherboard USB connection: " +
            std::to_string(readHandleRecord.lastError);
    }
}

PIC::~PIC() {
    releaseHidInterface(writeHandleRecord);
    releaseHidInterface(readHandleRecord);
}

void PIC::sendReport(const unsigned char *report) {
    hid::Handle &handle = *writeHandleRecord.handle;
    const int written = handle.write(report, bridge::REPORT_SIZE);
    if (written < 0)
        throw "Error during USB write: " + std::to_string(handle.error());
    if (written != bridge::REPORT_SIZE)
        throw "Error during USB write: " + std::to_string(EIO);
    ++sentReports;
}

void PIC::write(uint16_t address, std::string data) {
    if (data.size() > size_t(bridge::MAX_WRITE_PAYLOAD))
        throw "I2C write of " + std::to_string(data.size()) + " bytes exceeds the " +
            std::to_string(bridge::MAX_WRITE_PAYLOAD) + " a report holds";
    Report report{};
    report[1] = bridge::CMD_I2C_WRITE;
    report[2] = uint8_t(data.size() + 1);
    report[3] = bridge::writeAddress(address);
    std::copy(data.begin(), data.end(), report.begin() + 4);
    sendReport(report.data());
    if (trace) {
        std::printf("Writing to PIC, addr 0x%02x => [ ", unsigned(address));
        traceBytes(data);
    }
}

void PIC::discardStaleAnswers() {
    // An answer that turned up after its write-read had timed out would be taken
    // for the answer to the next question, and every read after it would be one
    // behind. Nothing waiting is an answer to a question not yet asked.
    hid::Handle &handle = *readHandleRecord.handle;
    Report stale{};
    for (int i = 0; i < MAX_STALE_ANSWERS; ++i) {
        if (handle.read(stale.data() + 1, stale.size() - 1, 0) <= 0)
            return; // none left, or a failure that the exchange itself will report
    }
}

std::string PIC::read(uint16_t, int32_t) {
    throw std::string("read-only commands not yet supported - use writeread");
}

std::string PIC::writeRead(uint16_t address, std::string data, int32_t count) {
    if (count != 1)
        throw std::string("writereads of other than 1 byte read not yet supported");
    if (data.size() > size_t(bridge::MAX_WRITE_READ_PAYLOAD))
        throw "I2C write-read of " + std::to_string(data.size()) + " bytes exceeds the " +
            std::to_string(bridge::MAX_WRITE_READ_PAYLOAD) + " a report holds";
    const size_t n = data.size();
    Report report{};
    report[1] = bridge::CMD_I2C_WRITE_READ;
    report[2] = uint8_t(n + 3);
    report[3] = bridge::writeAddress(address);
    std::copy(data.begin(), data.end(), report.begin() + 4);
    report[4 + n] = bridge::readAddress(address);
    report[5 + n] = 1;
    discardStaleAnswers();
    sendReport(report.data());
    if (trace) {
        std::printf("WriteRead Writing to PIC, addr 0x%02x => [ ", unsigned(address));
        traceBytes(data);
    }

    // hidraw delivers the report without its report-ID byte: read it in behind
    // byte 0 so the answer has the bridge's 65-byte layout.
    Report answer{};
    hid::Handle &handle = *readHandleRecord.handle;
    const int got = handle.read(answer.data() + 1, answer.size() - 1, READ_TIMEOUT_MS);
    if (got < 0)
        throw "Error during USB read: " + std::to_string(handle.error());
    if (got == 0)
        throw "Error during USB read: " + std::to_string(ETIMEDOUT);
    // An answer too short to hold the chip's byte carries no data.
    if (got < bridge::ANSWER_DATA_INDEX)
        throw "Error during USB read: " + std::to_string(EIO);
    const std::string result(1, char(answer[bridge::ANSWER_DATA_INDEX]));
    if (trace) {
        std::printf("WriteRead Reading %d bytes from PIC, addr 0x%02x => [ ", 1, unsigned(address));
        traceBytes(result);
    }
    return result;
}

void PIC::writeEN(uint8_t value) {
    sendReport(lineReport(bridge::CMD_SET_EN, value).data());
}

void PIC::writePVIN(uint8_t value) {
    sendReport(lineReport(bridge::CMD_SET_PVIN, value).data());
}
