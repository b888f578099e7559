#include "ctl/session.h"

#include "ctl/commands.h"
#include "ctl/files.h"
#include "ctl/json_output.h"
#include "ctl/output.h"
#include "device/config_file.h"
#include "device/ivr_device.h"
#include "device/register_access.h"
#include "device/register_map.h"
#include "device/regulator.h"
#include "device/settings.h"
#include "device/status_flags.h"
#include "device/text.h"
#include "link/link_errors.h"
#include "link/motherboard.h"
#include "link/pic.h"

#include <exception>
#include <istream>
#include <map>
#include <ostream>

namespace ctl {

namespace {
const char *const NOT_POWERED =
    "IVR not powered: no known chip answers (run 'power on' first; is PVIN on?)";

CommandError usageError(const std::string &command, const std::string &message) {
    return {EXIT_USAGE, command + ": " + message, usageOf(command)};
}

CommandError fileError(const std::string &message) {
    return {EXIT_USAGE, message};
}

// Reads at most MAX_CONFIG_SIZE + 1 bytes, so that a larger input is refused by
// the parser without being read whole (and /dev/zero cannot hang us).
std::string readLimited(std::istream &in) {
    std::string text(MAX_CONFIG_SIZE + 1, '\0');
    in.read(&text[0], std::streamsize(text.size()));
    text.resize(size_t(in.gcount()));
    return text;
}
} // namespace

Session::Session(std::ostream &out, std::ostream &err, const Clock &clock,
                 const SessionOptions &options, std::istream *in)
    : out(out), err(err), clock(clock), options(options), in(in) {}

Session::~Session() = default;

void Session::execute(const Command &command) {
    try {
        (this->*command.entry->run)(command);
    } catch (const std::string &text) {
        // A link that failed is not used again: the next command opens the
        // board anew (at a prompt, after it was plugged in again).
        if (isLinkFailure(text)) {
            motherBoard.reset();
            identified = false;
        }
        // The link's and the device model's own texts.
        throw CommandError{EXIT_BOARD, text, std::string(), linkErrorHint(text)};
    } catch (const std::exception &e) {
        throw CommandError{EXIT_BOARD, command.entry->name() + ": " + e.what()};
    }
    // Output that did not reach its reader (a full disk, a closed pipe) is a
    // failed command, whatever the command.
    if (!out.flush())
        throw fileError(command.entry->name() + ": cannot write the output");
}

std::string Session::timestamp() const {
    return clock.now().toUTC().toString(Qt::ISODateWithMs).toStdString();
}

bool Session::json(const Command &command) const {
    return command.json || (options.jsonAll && !command.telemetry.csv);
}

MotherBoard &Session::board() {
    if (!motherBoard) {
        motherBoard = std::make_unique<MotherBoard>(nullptr, options.devicePath);
        motherBoard->setClock(clock);
        if (options.trace) {
            QObject::connect(motherBoard.get(), &MotherBoard::logMessage,
                             [this](const QString &line) {
                                 err << timestamp() << ' ' << line.toStdString() << std::endl;
                             });
        }
    }
    return *motherBoard;
}

IvrDevice &Session::chip() {
    IvrDevice &device = *board().device;
    if (!identified) {
        // The known models only: never the general call (see powerOnKnownChip).
        const ChipDescriptor found = device.identify_known_chip();
        if (found.regulator_count == 0)
            throw CommandError{EXIT_BOARD, NOT_POWERED};
        device.refresh();
        activeChip = found;
        identified = true;
    }
    return device;
}

int Session::pageOf(const Command &command) {
    const int page = regulator::pageOf(command.regulator, activeChip.regulator_count);
    if (page == 0)
        throw usageError(command.entry->name(), noSuchRegulator(activeChip, command.regulator));
    return page;
}

void Session::verifyRegisters(const std::vector<uint8_t> &addresses) {
    IvrDevice &device = chip();
    for (uint8_t address : addresses) {
        const uint8_t read = device.read_register(address, true, false);
        const uint8_t expected = device.register_cache[address];
        if (read == 0xFF && expected != 0xFF)
            confirmChipAnswers(device);
        if (reg::isPageControl(address)) {
            const uint8_t bit = reg::PAGE_CONTROL_CACHED_BITS;
            if ((read & bit) != (expected & bit))
                throw CommandError{EXIT_BOARD, "verify failed: the enable bit of register " +
                                                   text::hex2(address) + " reads " +
                                                   ((read & bit) ? "1" : "0") + ", " +
                                                   ((expected & bit) ? "1" : "0") + " was written"};
        } else if (read != expected) {
            throw CommandError{EXIT_BOARD, "verify failed: register " + text::hex2(address) +
                                               " reads " + text::hex2(read) + ", " +
                                               text::hex2(expected) + " was written"};
        }
    }
}

void Session::list(const Command &command) {
    // Listed, not opened: a board in use by another program is listed too.
    for (const hid::DeviceInfo &bridge : listBridges())
        out << (json(command) ? bridgeJson(bridge) + "\n" : formatBridge(bridge));
}

void Session::power(const Command &command) {
    const bool on = command.on;
    MotherBoard &b = board();
    identified = false;
    if (!on) {
        b.setEN(false);
        return;
    }
    const ChipDescriptor found = b.powerOnKnownChip();
    if (found.regulator_count == 0)
        throw CommandError{EXIT_BOARD,
                           "IVR not powered: no known chip answered after EN went high (is "
                           "PVIN on?)"};
    activeChip = found;
    identified = true;
}

void Session::pvin(const Command &command) {
    const bool on = command.on;
    board().setPVIN(on);
    // The chip restarts (or stops) with its supply: identify it again when needed.
    identified = false;
    if (on)
        clock.sleep(MotherBoard::POWER_UP_DELAY_MS);
}

void Session::detect(const Command &command) {
    identified = false;
    chip();
    out << (json(command) ? detectJson(activeChip) + "\n" : formatDetect(activeChip));
}

void Session::confirmChipAnswers(IvrDevice &device) {
    // A bus where nothing answers reads all ones. The chip's ID tells a silent
    // chip from readings that really are at full scale.
    const uint8_t id = device.read_register(reg::CHIP_ID, true, false);
    if (id == activeChip.chip_id)
        return;
    throw CommandError{EXIT_BOARD, chipStoppedAnswering(activeChip, id)};
}

void Session::status(const Command &command) {
    IvrDevice &device = chip();
    const StatusRegisters read = readStatusRegisters(device, activeChip.regulator_count);
    if (read.allOnes())
        confirmChipAnswers(device);
    const uint8_t core = read.core;
    const std::vector<uint8_t> &regulators = read.regulators;
    out << (json(command) ? statusJson(core, regulators) + "\n" : formatStatus(core, regulators));
    const std::string failed = command.check ? failedFlags(core, regulators) : std::string();
    if (!failed.empty()) {
        out.flush();
        throw CommandError{EXIT_FAULT, "status: FAIL: " + failed};
    }
}

void Session::waitForSample(QDateTime &start, long long &slot, long intervalMs) {
    const QDateTime now = clock.now();
    qint64 elapsed = start.msecsTo(now);
    const qint64 due = slot * intervalMs;
    if (elapsed - due >= intervalMs) {
        // A whole interval late (a stopped process, a suspended machine): the
        // samples missed are given up rather than taken in a burst.
        slot = elapsed / intervalMs;
        return;
    }
    if (due - elapsed > intervalMs) {
        // The clock went back: the schedule starts again from now.
        start = now.addMSecs(intervalMs - due);
        elapsed = due - intervalMs;
    }
    if (due > elapsed)
        clock.sleep(long(due - elapsed));
}

void Session::telemetry(const Command &command) {
    const TelemetryOptions &asked = command.telemetry;
    const bool asJson = json(command);
    IvrDevice &device = chip();
    const std::vector<int> pages = regulator::populatedPages(activeChip.regulator_count);
    if (asked.csv)
        out << telemetryCsvHeader(int(pages.size())) << std::endl;
    // Sample i is due at start + i * interval, however long the readings take.
    QDateTime start;
    long long slot = 0;
    for (long i = 0; asked.count == 0 || i < asked.count; ++i) {
        if (i == 0)
            start = clock.now();
        else if (asked.intervalMs > 0)
            waitForSample(start, ++slot, asked.intervalMs);
        TelemetrySample sample;
        sample.time = timestamp();
        sample.vout.assign(pages.size(), 0.0);
        for (long k = 0; k < asked.average; ++k) {
            sample.vin += device.read_vin();
            sample.temperature += device.read_temperature();
            for (size_t p = 0; p < pages.size(); ++p)
                sample.vout[p] += device.read_vout(pages[p]);
            if (device.register_cache[reg::VIN] == 0xFF &&
                device.register_cache[reg::TEMPERATURE] == 0xFF)
                confirmChipAnswers(device);
        }
        const double n = double(asked.average);
        sample.vin /= n;
        sample.temperature /= n;
        for (double &volts : sample.vout)
            volts /= n;
        out << (asJson      ? telemetryJson(sample)
                : asked.csv ? telemetryCsvRow(sample)
                            : telemetryLine(sample))
            << std::endl;
        // A reader that went away must not keep an endless run going.
        if (!out)
            throw fileError("telemetry: cannot write the output");
    }
}

void Session::commitSetting(const Command &command, const std::vector<uint8_t> &touched) {
    chip().commit();
    if (command.verify || options.verifyAll)
        verifyRegisters(touched);
}

void Session::setVout(const Command &command) {
    IvrDevice &device = chip();
    const int page = pageOf(command);
    device.set_dac_code(page, command.code);
    commitSetting(command, {uint8_t(reg::pageBase(page) + reg::PAGE_DAC)});
}

void Session::setEnable(const Command &command) {
    IvrDevice &device = chip();
    const int page = pageOf(command);
    device.set_enable(page, command.on ? 1 : 0);
    commitSetting(command, {uint8_t(reg::pageBase(page) + reg::PAGE_CONTROL)});
}

void Session::setDvs(const Command &command) {
    IvrDevice &device = chip();
    const int page = pageOf(command);
    device.set_dvs_code(page, command.code);
    commitSetting(command, {uint8_t(reg::pageBase(page) + reg::PAGE_DVS)});
}

void Session::setSs(const Command &command) {
    IvrDevice &device = chip();
    const int page = pageOf(command);
    setSoftStart(device, page, command.code);
    commitSetting(command, {uint8_t(reg::pageBase(page) + reg::PAGE_SS_CLIM)});
}

void Session::regGet(const Command &command) {
    IvrDevice &device = chip();
    const uint8_t value = device.read_register(uint8_t(command.address), true, true);
    if (value == 0xFF)
        confirmChipAnswers(device);
    out << text::hex2(value) << '\n';
}

void Session::regSet(const Command &command) {
    const uint8_t address = uint8_t(command.address);
    writeRegister(chip(), address, uint8_t(command.code));
    // A forced register cannot be read back. writeRegister committed the
    // others, so the commit here finds nothing pending.
    if (!isForceable(address))
        commitSetting(command, {address});
}

void Session::dump(const Command &command) {
    IvrDevice &device = chip();
    std::map<int, uint8_t> values;
    for (int address = 0; address < 256; ++address) {
        if (isReadable(uint16_t(address)))
            values[address] = device.read_register(uint8_t(address), true, false);
    }
    if (values[reg::CHIP_ID] != activeChip.chip_id)
        confirmChipAnswers(device);
    out << (json(command) ? dumpJson(values) + "\n" : formatDump(values));
}

void Session::save(const Command &command) {
    const std::string &file = command.file;
    // The chip's settings as they are now: read once, by identification when
    // this is the session's first look at the chip.
    const bool identifiedBefore = identified;
    IvrDevice &device = chip();
    if (identifiedBefore)
        device.refresh();
    // A silent chip reads all ones, which no setting is: say so, rather than
    // that a target is out of range.
    if (device.register_cache[reg::CHIP_ID] != activeChip.chip_id)
        confirmChipAnswers(device);
    const ChipSettings settings = settingsFromCache(device);
    const std::string unsavable = unsavableReason(settings);
    if (!unsavable.empty())
        throw fileError("save: " + unsavable + "; set it with 'set vout' first");
    const std::string contents = formatConfig(settings);
    if (file == "-") {
        out << contents;
        return;
    }
    const std::string error = replaceFile(file, contents);
    if (!error.empty())
        throw fileError("save: cannot write " + file + ": " + error);
}

void Session::load(const Command &command) {
    const std::string &file = command.file;
    std::string contents;
    if (file == "-") {
        if (!in)
            throw usageError("load", "standard input carries the commands; give a file name");
        contents = readLimited(*in);
    } else {
        bool openFailed = false;
        const std::string error = readRegularFile(file, MAX_CONFIG_SIZE + 1, contents, openFailed);
        if (!error.empty())
            throw fileError("load: cannot " + std::string(openFailed ? "open " : "read ") + file +
                            ": " + error);
    }
    // Everything is checked before the first byte goes to the chip.
    const ConfigParseResult parsed = parseConfig(contents);
    if (!parsed.ok())
        throw fileError("load: " + file + ": " + parsed.error);
    IvrDevice &device = chip();
    const std::string mismatch = mismatchReason(parsed.config, device);
    if (!mismatch.empty())
        throw fileError("load: " + file + ": line " + std::to_string(parsed.chipLine) + ": " +
                        mismatch);

    commitSetting(command, applySettings(device, parsed.config));
}

} // namespace ctl
