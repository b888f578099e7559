// Random sequences of device-model operations (IvrDevice over MotherBoard, PIC
// and the simulated board), decoded from the fuzz input: field setters with any
// int and page, commit, refresh, identification, generic register and field
// access at any address, telemetry and status reads, and link faults at any
// point (unplug, stall without waiting, short, late and replaced answers, a
// silent chip, EN and PVIN changes). After every operation:
// - whatever was thrown is a std::string with one of the model's or link's texts;
// - every dirty register is a read-write register, and the cached byte of a
//   page control register (0x40, 0x80, 0xC0) has no bit but the enable bit;
// - an operation that threw marked nothing dirty;
// - after a successful commit nothing is dirty and, while the cache is known to
//   mirror the chip, the chip's page registers equal the cache on every
//   populated page (and are in effect when the commit sent something);
// - after a failed commit every change is still pending, unchanged;
// - after a successful refresh of an answering chip the cache mirrors the chip.
#include "device/ivr_device.h"
#include "device/register_map.h"
#include "fuzz_input.h"
#include "link/hid_backend.h"
#include "link/motherboard.h"
#include "link/pic.h"
#include "sim/simulation.h"

#include <functional>
#include <map>

namespace {

const char *const KNOWN_TEXTS[] = {
    "Attempt to read to unreadable address: 0d",
    "Attempt to write to unwriteable address: 0d",
    "Attempt to force to non-writeonly address: 0d",
    "Invalid regulator page: ",
    "Error during USB read: ",
    "Error during USB write: ",
};

const char *const MODELS[] = {"QM4411", "QM4422", "QM4423", "QM4433", "QM4434"};

std::map<uint8_t, uint8_t> dirtySet(const IvrDevice &device) {
    std::map<uint8_t, uint8_t> dirty;
    for (const auto &[address, flag] : device.dirty_flags) {
        if (flag) {
            const auto cached = device.register_cache.find(address);
            dirty[address] = cached == device.register_cache.end() ? 0 : cached->second;
        }
    }
    return dirty;
}

class Session {
public:
    explicit Session(const std::string &model)
        : bridge(startSimulation(model)), board(), device(*board.device), chip(bridge.chip()) {
        bridge.setTimeoutWait(false);
        bridge.setRecording(false);
        // Power-up as MotherBoard::setEN(true) does it, without its wait.
        board.pic->writeEN(1);
        device.identify_chip();
        device.refresh();
        FUZZ_CHECK(device.chip_name == model, "identified %s", device.chip_name.c_str());
        synced = true;
        checkMirrors("power-up");
    }

    void run(FuzzInput &in) {
        while (!in.empty()) {
            const uint8_t op = in.byte();
            const std::map<uint8_t, uint8_t> dirtyBefore = dirtySet(device);
            const bool threw = step(op, in);
            checkInvariants(op);
            if (threw) {
                FUZZ_CHECK(dirtySet(device) == dirtyBefore, "op %d threw yet changed what is dirty",
                           op);
            }
        }
    }

private:
    static int page(FuzzInput &in) {
        // Mostly 0 to 4 (0 and 4 invalid), sometimes any int.
        const uint8_t b = in.byte();
        return b < 0xF0 ? b % 5 : int(in.int32());
    }

    // Whether reads of the device's address reach this chip and return its bytes.
    bool answering() const {
        return bridge.en() && bridge.pvin() && !silent && !replaced &&
               device.i2c_address == chip.address();
    }

    // Runs one operation; true when it threw (a std::string with a known text).
    bool step(uint8_t op, FuzzInput &in) {
        try {
            operation(op, in);
        } catch (const std::string &text) {
            bool known = false;
            for (const char *prefix : KNOWN_TEXTS)
                known = known || startsWith(text, prefix);
            FUZZ_CHECK(known, "op %d threw an unknown text: \"%s\"", op, text.c_str());
            failed(op);
            return true;
        }
        return false;
    }

    void operation(uint8_t op, FuzzInput &in) {
        switch (op % 16) {
        case 0: {
            const int p = page(in);
            device.set_enable(p, in.int32());
            break;
        }
        case 1: {
            const int p = page(in);
            device.set_dac_code(p, in.int32());
            break;
        }
        case 2: {
            const int p = page(in);
            device.set_ss_code(p, in.int32());
            break;
        }
        case 3: {
            const int p = page(in);
            device.set_clim_code(p, in.int32());
            break;
        }
        case 4: {
            const int p = page(in);
            device.set_dvs_code(p, in.int32());
            break;
        }
        case 5:
        case 6:
            commit();
            break;
        case 7:
            if (!answering())
                synced = false; // the cache takes whatever the bus returns
            device.refresh();
            if (answering()) {
                checkMirrors("refresh");
                // Runs of a failed commit may wait in the chip for the next
                // update trigger, which puts them in effect behind the cache.
                synced = !staleWrites;
            }
            break;
        case 8:
            device.identify_chip();
            break;
        case 9: {
            const uint8_t address = in.byte();
            const uint8_t how = in.byte();
            if (!answering() && (how & 3) == 3)
                synced = false;
            device.read_register(address, how & 1, how & 2);
            break;
        }
        case 10: {
            const uint8_t address = in.byte();
            device.read_field(RegisterField(address, in.byte()));
            break;
        }
        case 11: {
            const uint8_t address = in.byte();
            const uint8_t mask = in.byte();
            device.write_field(RegisterField(address, mask), in.byte());
            break;
        }
        case 12: {
            const uint8_t address = in.byte();
            device.force(address, in.byte());
            break;
        }
        case 13:
            readings(in);
            break;
        case 14: {
            const int p = page(in);
            switch (in.byte() % 4) {
            case 0:
                device.get_enable(p);
                break;
            case 1:
                device.get_dac_code(p);
                break;
            case 2:
                device.get_ss_code(p);
                break;
            default:
                device.get_dvs_code(p);
                break;
            }
            break;
        }
        default:
            fault(in);
            break;
        }
    }

    void readings(FuzzInput &in) {
        const uint8_t which = in.byte();
        const int p = page(in);
        switch (which % 6) {
        case 0:
            device.read_vin();
            break;
        case 1:
            device.read_temperature();
            break;
        case 2:
            device.read_vout(p);
            break;
        case 3:
            device.read_core_status();
            break;
        case 4:
            device.read_page_status(p);
            break;
        default:
            device.has_pending_changes();
            break;
        }
    }

    void fault(FuzzInput &in) {
        const uint8_t which = in.byte();
        const uint8_t n = in.byte();
        switch (which % 13) {
        case 0:
            bridge.unplug();
            break;
        case 1:
            bridge.replug();
            break;
        case 2:
            bridge.unplugAfterReports(n % 8);
            break;
        case 3:
            bridge.stall(n & 1);
            break;
        case 4:
            bridge.stallAfterReports(n % 8);
            break;
        case 5:
            bridge.setAnswerLength(int(n % 6) - 1);
            break;
        case 6:
            silent = n & 1;
            bridge.setChipSilent(silent);
            break;
        case 7:
        case 8:
            // A change of EN or PVIN may power-cycle the chip back to its defaults.
            synced = false;
            if (which % 13 == 7)
                board.pic->writeEN(n & 1);
            else
                board.pic->writePVIN(n & 1);
            break;
        case 9:
            replaced = true;
            synced = false;
            bridge.replaceNextAnswer(in.bytes(n % 70));
            break;
        case 10:
            chip.setInputVoltage(1.5 + (n % 64) * 0.01);
            break;
        case 11:
            chip.setPageFault(n % 4, n & 4, n & 8, n & 16);
            break;
        default:
            bridge.setLateAnswers(n & 1);
            break;
        }
    }

    void commit() {
        const std::map<uint8_t, uint8_t> pending = dirtySet(device);
        pendingAtCommit = pending;
        if (!answering() && !pending.empty())
            synced = false; // the writes may go to no chip
        const bool hadStaleWrites = staleWrites;
        staleWrites = staleWrites || !pending.empty(); // until the trigger has gone out
        device.commit();
        if (!pending.empty()) {
            staleWrites = false;
            if (hadStaleWrites)
                synced = false; // the trigger put earlier runs in effect as well
        }
        FUZZ_CHECK(!device.has_pending_changes(), "dirty after a successful commit");
        FUZZ_CHECK(dirtySet(device).empty(), "a dirty flag is set after a successful commit");
        if (synced) {
            checkMirrors("commit");
            if (!pending.empty())
                checkInEffect();
        }
    }

    // After an operation threw.
    void failed(uint8_t op) {
        if (op % 16 == 5 || op % 16 == 6) {
            const std::map<uint8_t, uint8_t> now = dirtySet(device);
            FUZZ_CHECK(now == pendingAtCommit, "a failed commit changed what is pending");
        }
    }

    void checkInvariants(uint8_t op) {
        for (const auto &[address, flag] : device.dirty_flags) {
            FUZZ_CHECK(!flag || read_write_registers.contains(address),
                       "op %d: register 0x%02x is dirty but not read-write", op, address);
        }
        for (uint8_t address : {0x40, 0x80, 0xC0}) {
            const auto cached = device.register_cache.find(address);
            FUZZ_CHECK(cached == device.register_cache.end() ||
                           (cached->second & ~reg::PAGE_CONTROL_CACHED_BITS) == 0,
                       "op %d: cached 0x%02x holds 0x%02x", op, address, cached->second);
        }
    }

    // The chip reads back what the cache holds on every populated page.
    void checkMirrors(const char *after) {
        for (int p = 1; p <= 3; ++p) {
            if (!chip.pagePopulated(p))
                continue;
            for (int offset = 0; offset < 4; ++offset) {
                const uint8_t address = uint8_t(reg::pageBase(p) + offset);
                uint8_t readBack = chip.peek(address);
                if (reg::isPageControl(address))
                    readBack &= reg::PAGE_CONTROL_CACHED_BITS;
                const auto cached = device.register_cache.find(address);
                FUZZ_CHECK(cached != device.register_cache.end() && cached->second == readBack,
                           "after %s: chip 0x%02x reads 0x%02x, cache holds 0x%02x", after, address,
                           readBack, cached == device.register_cache.end() ? -1 : cached->second);
            }
        }
    }

    // The chip runs with what the cache holds on every populated page.
    void checkInEffect() {
        for (int p = 1; p <= 3; ++p) {
            if (!chip.pagePopulated(p))
                continue;
            for (int offset = 0; offset < 4; ++offset) {
                const uint8_t address = uint8_t(reg::pageBase(p) + offset);
                FUZZ_CHECK(chip.activePageRegister(p, offset) == device.register_cache[address],
                           "after commit: chip 0x%02x runs with 0x%02x, cache holds 0x%02x",
                           address, chip.activePageRegister(p, offset),
                           device.register_cache[address]);
            }
        }
    }

    SimulatedBridge &bridge;
    MotherBoard board;
    IvrDevice &device;
    SimulatedChip &chip;
    bool synced = false; // the cache mirrors the chip's page registers
    // A commit failed after some of its runs may have reached the chip: they
    // wait there for the next update trigger.
    bool staleWrites = false;
    bool silent = false;   // the chip was told to stop answering
    bool replaced = false; // an answer was replaced: the cache may hold anything
    std::map<uint8_t, uint8_t> pendingAtCommit;
};

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    hid::removePlatformBackend(); // only the simulated bridge is on the bus
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    FuzzInput in(data, size);
    const std::string model = MODELS[in.byte() % 5];
    {
        Session session(model);
        session.run(in);
    }
    stopSimulation();
    return 0;
}
