// Runs parsed commands against the board, for one process. The board is opened
// at the first command that needs it; the chip's identity (model, address,
// regulator count) and its register cache are established by "power on" or
// "detect", or else by the first command that needs the chip, which probes the
// chip table without touching EN.
#pragma once

#include "ctl/command_parser.h"
#include "device/chip_table.h"
#include "link/clock.h"

#include <iosfwd>
#include <memory>
#include <string>
#include <utility>
#include <vector>

class IvrDevice;
class MotherBoard;

namespace ctl {

constexpr int EXIT_DONE = 0;
constexpr int EXIT_USAGE = 1; // usage or file error
constexpr int EXIT_BOARD = 2; // board or link error
constexpr int EXIT_FAULT = 3; // status --check found a FAIL flag

// A failed command: its exit code, the message and, for usage errors, the
// command's usage lines; for a link error, a line that says what its number
// means (link/link_errors.h).
struct CommandError {
    CommandError(int exitCode, std::string message, std::string usage = std::string(),
                 std::string hint = std::string())
        : exitCode(exitCode), message(std::move(message)), usage(std::move(usage)),
          hint(std::move(hint)) {}
    int exitCode;
    std::string message;
    std::string usage;
    std::string hint;
};

// The options that hold for every command of a run.
struct SessionOptions {
    bool trace = false;     // every board transaction to the error stream
    bool verifyAll = false; // as --verify on every write
    bool jsonAll = false;   // as --json on every command that takes it (not telemetry --csv)
    std::string devicePath; // the bridge to open; "": the first one listed
};

class Session {
public:
    // in: where "load -" reads, or nullptr when standard input carries the
    // commands themselves. clock: the time of --trace and telemetry, and every
    // wait (the board's power-up wait too).
    Session(std::ostream &out, std::ostream &err, const Clock &clock, const SessionOptions &options,
            std::istream *in);
    ~Session();

    // Runs the command's entry of the command table. Throws CommandError.
    void execute(const Command &command);

    // The commands, as the command table runs them.
    void list(const Command &command);
    void power(const Command &command);
    void pvin(const Command &command);
    void detect(const Command &command);
    void status(const Command &command);
    void telemetry(const Command &command);
    void setVout(const Command &command);
    void setEnable(const Command &command);
    void setDvs(const Command &command);
    void setSs(const Command &command);
    void regGet(const Command &command);
    void regSet(const Command &command);
    void dump(const Command &command);
    void save(const Command &command);
    void load(const Command &command);

private:
    MotherBoard &board();
    IvrDevice &chip();
    int pageOf(const Command &command);
    void verifyRegisters(const std::vector<uint8_t> &addresses);
    void confirmChipAnswers(IvrDevice &device);
    std::string timestamp() const;
    bool json(const Command &command) const;
    // Waits until the next sample of a telemetry run is due.
    void waitForSample(QDateTime &start, long long &slot, long intervalMs);
    // Commits a write command's changes, then reads back the registers it
    // touched when asked to (--verify, --verify-all).
    void commitSetting(const Command &command, const std::vector<uint8_t> &touched);

    std::ostream &out;
    std::ostream &err;
    Clock clock;
    SessionOptions options;
    std::istream *in;
    std::unique_ptr<MotherBoard> motherBoard;
    bool identified = false;
    ChipDescriptor activeChip;
};

} // namespace ctl
