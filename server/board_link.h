// One board as the server holds it: the bridge at a path (opened, or down after
// an unplug and opened again when it comes back), the chip identified on it,
// and what the metrics count. Lives on its board's thread; nothing here is
// shared with another board.
#pragma once

#include "device/chip_table.h"
#include "link/clock.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

class IvrDevice;
class MotherBoard;

namespace server {

// A bridge as the host lists it.
struct BridgeInfo {
    std::string path;
    std::string serial; // the USB serial number; "" when it has none
};

// Every bridge connected now, in the order the link lists them.
std::vector<BridgeInfo> listBridges();

// The serial number of the bridge listed at a path (or at the node it links
// to); "" when none is listed there or it has none.
std::string serialAt(const std::string &path);

class BoardLink {
public:
    // path: the bridge's path ("" for the first one listed); serial: its USB
    // serial number, "SIM" for a simulated board, "" when unknown.
    BoardLink(const std::string &path, const std::string &serial);
    ~BoardLink();
    BoardLink(const BoardLink &) = delete;
    BoardLink &operator=(const BoardLink &) = delete;

    const std::string &serial() const { return serialNumber; }
    // A bridge that came back under another node (hot-plug).
    void setPath(const std::string &path) { bridgePath = path; }

    bool isOpen() const { return motherBoard != nullptr; }
    // Opens the bridge if it is not open and identifies the chip afresh without
    // touching EN. False when it cannot be opened; openError() says why. Once
    // a bridge with a serial number has been opened, another bridge listed at
    // the path is not.
    bool ensureOpen();
    const std::string &openError() const { return lastOpenError; }
    // After a link failure: counts it, closes the bridge, forgets the chip.
    void markDown();
    // Closes the bridge (the server stops).
    void close();

    MotherBoard &board(); // open only
    IvrDevice &device();  // open only

    // The chip, identified by probing the known models (never the I2C general
    // call); regulator_count 0 while none is identified.
    const ChipDescriptor &chip() const { return activeChip; }
    bool identified() const { return activeChip.regulator_count > 0; }
    // Probes the known models without touching EN and reads the settings of the
    // chip found. Link failures are thrown.
    const ChipDescriptor &identify();
    // Raises EN, waits, identifies and reads the settings.
    const ChipDescriptor &powerOn();
    void powerOff();
    void setPvin(bool on);
    bool pvin() const { return pvinOn; }
    void forgetChip();

    // The clock of the power-up waits (the system's by default).
    void setClock(const Clock &clock);

    // Reports sent to the bridge, and link failures, since the server started.
    double exchanges() const;
    double linkErrors() const { return linkErrorCount; }

    // Called after the bridge opened or went down, or the chip changed.
    std::function<void()> onStateChanged;

private:
    void changed();
    // Lets the bridge go, keeping the count of the reports it took.
    void dropBoard();

    std::string bridgePath;
    std::string serialNumber;
    std::string openedSerial; // as listed when the bridge was first opened
    std::unique_ptr<MotherBoard> motherBoard;
    std::string lastOpenError;
    ChipDescriptor activeChip;
    bool pvinOn = true; // the switch is on when the bridge powers up
    Clock waits = systemClock();
    double droppedExchanges = 0; // reports sent over bridges let go since

    double linkErrorCount = 0;
};

} // namespace server
