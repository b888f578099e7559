#include "server/board_link.h"

#include "device/ivr_device.h"
#include "link/link_errors.h"
#include "link/motherboard.h"
#include "link/pic.h"

#include <cstdlib>
#include <mutex>

namespace server {

namespace {
// Listing and opening go through the process-wide HID backend table and
// hidapi's one-time initialisation: one board thread at a time. Exchanges on
// an open board do not take it.
std::mutex &discoveryMutex() {
    static std::mutex mutex;
    return mutex;
}

// The node a path names through links (udev's by-id names, a rule's symlink).
std::string nodeOf(const std::string &path) {
    char *resolved = path.empty() || path[0] != '/' ? nullptr : ::realpath(path.c_str(), nullptr);
    if (!resolved)
        return path;
    const std::string node(resolved);
    std::free(resolved);
    return node;
}
} // namespace

std::vector<BridgeInfo> listBridges() {
    std::lock_guard<std::mutex> lock(discoveryMutex());
    std::vector<BridgeInfo> bridges;
    for (const hid::DeviceInfo &info : ::listBridges())
        bridges.push_back(BridgeInfo{info.path, info.serialNumber});
    return bridges;
}

std::string serialAt(const std::string &path) {
    if (path.empty())
        return std::string();
    const std::string node = nodeOf(path);
    for (const BridgeInfo &bridge : listBridges()) {
        if (bridge.path == path || bridge.path == node)
            return bridge.serial;
    }
    return std::string();
}

BoardLink::BoardLink(const std::string &path, const std::string &serial)
    : bridgePath(path), serialNumber(serial) {}

BoardLink::~BoardLink() = default;

void BoardLink::changed() {
    if (onStateChanged)
        onStateChanged();
}

bool BoardLink::ensureOpen() {
    if (motherBoard)
        return true;
    // The kernel gives a node freed by an unplug to the next bridge plugged
    // in: once a board's serial number is known, only a bridge with that
    // number is opened at its path. Checked before opening, and again after
    // it, since a bridge may appear between the listing and the open.
    auto another = [this](const std::string &listed) {
        lastOpenError =
            "Motherboard not found: " + bridgePath + " is another board now (" +
            (listed.empty() ? std::string("without a serial number") : "serial " + listed) + ")";
        return false;
    };
    if (!openedSerial.empty()) {
        const std::string before = serialAt(bridgePath);
        if (!before.empty() && before != openedSerial)
            return another(before);
    }
    try {
        std::lock_guard<std::mutex> lock(discoveryMutex());
        motherBoard = std::make_unique<MotherBoard>(nullptr, bridgePath);
        motherBoard->setClock(waits);
    } catch (const std::string &text) {
        lastOpenError = text;
        return false;
    }
    const std::string opened = serialAt(bridgePath);
    if (!openedSerial.empty() && opened != openedSerial) {
        motherBoard.reset(); // nothing was sent to it
        return another(opened);
    }
    openedSerial = opened;
    lastOpenError.clear();
    activeChip = ChipDescriptor();
    try {
        identify();
    } catch (const std::string &text) {
        if (isLinkFailure(text)) {
            markDown();
            return false;
        }
    }
    changed();
    return true;
}

void BoardLink::dropBoard() {
    if (motherBoard)
        droppedExchanges += double(motherBoard->pic->reportsSent());
    motherBoard.reset();
    activeChip = ChipDescriptor();
}

void BoardLink::markDown() {
    linkErrorCount += 1;
    dropBoard();
    changed();
}

void BoardLink::close() {
    dropBoard();
}

double BoardLink::exchanges() const {
    return droppedExchanges + (motherBoard ? double(motherBoard->pic->reportsSent()) : 0.0);
}

MotherBoard &BoardLink::board() {
    return *motherBoard;
}

IvrDevice &BoardLink::device() {
    return *motherBoard->device;
}

void BoardLink::forgetChip() {
    if (!identified())
        return;
    activeChip = ChipDescriptor();
    changed();
}

const ChipDescriptor &BoardLink::identify() {
    IvrDevice &chipModel = device();
    const ChipDescriptor previous = activeChip;
    activeChip = chipModel.identify_known_chip();
    if (activeChip.regulator_count > 0)
        chipModel.refresh();
    else
        activeChip = ChipDescriptor();
    if (activeChip.chip_name != previous.chip_name)
        changed();
    return activeChip;
}

const ChipDescriptor &BoardLink::powerOn() {
    const ChipDescriptor previous = activeChip;
    activeChip = board().powerOnKnownChip();
    if (activeChip.regulator_count == 0)
        activeChip = ChipDescriptor();
    if (activeChip.chip_name != previous.chip_name)
        changed();
    return activeChip;
}

void BoardLink::powerOff() {
    forgetChip();
    board().setEN(false);
}

void BoardLink::setPvin(bool on) {
    // The chip restarts (or stops) with its supply: identified again when needed.
    forgetChip();
    board().setPVIN(on);
    pvinOn = on;
    if (on)
        waits.sleep(MotherBoard::POWER_UP_DELAY_MS);
}

void BoardLink::setClock(const Clock &clock) {
    waits = clock;
    if (motherBoard)
        motherBoard->setClock(clock);
}

} // namespace server
