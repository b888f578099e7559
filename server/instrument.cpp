#include "server/instrument.h"

#include "device/config_file.h"
#include "device/ivr_device.h"
#include "device/rate_labels.h"
#include "device/register_access.h"
#include "device/register_map.h"
#include "device/regulator.h"
#include "device/settings.h"
#include "device/status_flags.h"
#include "device/text.h"
#include "link/link_errors.h"
#include "link/motherboard.h"
#include "server/scpi_tree.h"

#include <cmath>
#include <cstdio>
#include <exception>

namespace server {

namespace {

using scpi::Command;
using scpi::Parameter;

struct ScpiError {
    int code;
    std::string detail;
};

[[noreturn]] void raise(int code, const std::string &detail = std::string()) {
    throw ScpiError{code, detail};
}

enum Id {
    IDN,
    CLS,
    OPC,
    WAI,
    ESR,
    TST,
    SYST_ERR,
    SYST_ERR_COUNT,
    SYST_VERS,
    POWER,
    PVIN,
    DETECT,
    OUTPUT,
    VOLT,
    VOLT_CODE,
    SLEW,
    SOFT_START,
    CURRENT_LIMIT,
    MEAS_VIN,
    MEAS_TEMP,
    MEAS_ALL,
    MEAS_VOUT,
    FLAGS,
    FLAG_NAMES,
    REGISTER,
    DUMP,
    SETTINGS,
};

const std::vector<scpi::TreeCommand> &commandTree() {
    static const std::vector<scpi::TreeCommand> tree = {
        {"*IDN", IDN, true, false},
        {"*CLS", CLS, false, true},
        {"*OPC", OPC, true, true},
        {"*WAI", WAI, false, true},
        {"*ESR", ESR, true, false},
        {"*TST", TST, true, false},
        {"SYSTem:ERRor[:NEXT]", SYST_ERR, true, false},
        {"SYSTem:ERRor:COUNt", SYST_ERR_COUNT, true, false},
        {"SYSTem:VERSion", SYST_VERS, true, false},
        {"SYSTem:SETTings", SETTINGS, true, true},
        {"POWer[:STATe]", POWER, true, true},
        {"POWer:PVIN[:STATe]", PVIN, true, true},
        {"CHIP:DETect", DETECT, true, false},
        {"OUTPut#[:STATe]", OUTPUT, true, true},
        {"SOURce#:VOLTage[:LEVel][:IMMediate][:AMPLitude]", VOLT, true, true},
        {"SOURce#:VOLTage:CODE", VOLT_CODE, true, true},
        {"SOURce#:VOLTage:SLEW[:RATE]", SLEW, true, true},
        {"SOURce#:SSTart[:RATE]", SOFT_START, true, true},
        {"SOURce#:CURRent:LIMit[:CODE]", CURRENT_LIMIT, true, false},
        {"MEASure[:SCALar]:VOLTage:INPut[:DC]", MEAS_VIN, true, false},
        {"MEASure[:SCALar]:VOLTage#[:DC]", MEAS_VOUT, true, false},
        {"MEASure[:SCALar]:TEMPerature", MEAS_TEMP, true, false},
        {"MEASure[:SCALar]:ALL", MEAS_ALL, true, false},
        {"STATus:FLAGs", FLAGS, true, false},
        {"STATus:FLAGs:NAMes", FLAG_NAMES, true, false},
        {"DIAGnostic:REGister", REGISTER, true, true},
        {"DIAGnostic:DUMP", DUMP, true, false},
    };
    return tree;
}

// Commands that change only the client's own state, served when read-only.
bool clientOnly(int id) {
    return id == CLS || id == OPC || id == WAI;
}

// The *ESR? bit of an error's class.
int eventBit(int code) {
    if (code <= -100 && code > -200)
        return 0x20; // command error
    if (code <= -200 && code > -300)
        return 0x10; // execution error
    if (code <= -300 && code > -400)
        return 0x08; // device-dependent error
    if (code <= -400 && code > -500)
        return 0x04; // query error
    return 0;
}

void expectParameters(const Command &command, size_t count) {
    if (command.parameters.size() < count)
        raise(scpi::MISSING_PARAMETER, scpi::headerText(command) + " takes " +
                                           std::to_string(count) + " parameter" +
                                           (count == 1 ? "" : "s"));
    if (command.parameters.size() > count)
        raise(scpi::PARAMETER_NOT_ALLOWED,
              count == 0 ? scpi::headerText(command) + " takes no parameter"
                         : scpi::headerText(command) + " takes " + std::to_string(count) +
                               " parameter" + (count == 1 ? "" : "s") + ", not " +
                               std::to_string(command.parameters.size()));
}

const char *kindName(Parameter::Kind kind) {
    switch (kind) {
    case Parameter::Kind::Decimal:
        return "a number";
    case Parameter::Kind::NonDecimal:
        return "a number";
    case Parameter::Kind::Character:
        return "a word";
    case Parameter::Kind::String:
        return "a string";
    case Parameter::Kind::Block:
        return "a block";
    }
    return "?";
}

bool boolean(const Parameter &p) {
    if (p.kind == Parameter::Kind::Character) {
        if (scpi::mnemonicMatches(p.text, "ON"))
            return true;
        if (scpi::mnemonicMatches(p.text, "OFF"))
            return false;
        raise(scpi::ILLEGAL_PARAMETER_VALUE,
              "expected ON, OFF, 1 or 0, got " + text::quoted(p.text));
    }
    if (p.kind == Parameter::Kind::Decimal) {
        if (p.number == 1)
            return true;
        if (p.number == 0)
            return false;
        raise(scpi::ILLEGAL_PARAMETER_VALUE, "expected ON, OFF, 1 or 0, got " + p.text);
    }
    raise(scpi::DATA_TYPE_ERROR, std::string("expected ON, OFF, 1 or 0, got ") + kindName(p.kind));
}

long integer(const Parameter &p, long low, long high, const char *what) {
    if (p.kind != Parameter::Kind::Decimal && p.kind != Parameter::Kind::NonDecimal)
        raise(scpi::DATA_TYPE_ERROR,
              std::string(what) + " must be a number, not " + kindName(p.kind));
    if (p.number != std::floor(p.number))
        raise(scpi::ILLEGAL_PARAMETER_VALUE,
              std::string(what) + " must be a whole number, got " + p.text);
    if (p.number < double(low) || p.number > double(high))
        raise(scpi::DATA_OUT_OF_RANGE, std::string(what) + " " + p.text + " is outside " +
                                           std::to_string(low) + " to " + std::to_string(high));
    return long(p.number);
}

int rateCode(const Parameter &p, const RateLabels &labels) {
    if (p.kind != Parameter::Kind::Decimal && p.kind != Parameter::Kind::String)
        raise(scpi::DATA_TYPE_ERROR,
              std::string("a rate must be a number, not ") + kindName(p.kind));
    const int code = rateCodeFromText(labels, p.text);
    if (code < 0)
        raise(scpi::ILLEGAL_PARAMETER_VALUE,
              "the rate must be one of " + joinedRateLabels(0, 15, " ") +
                  " (mV/us) or a code 0 to 15, got " + text::quoted(p.text));
    return code;
}

// VR1..VR3: the suffix on the node that takes one, 1 when none is given.
int regulatorOf(long suffix) {
    const long vr = suffix < 0 ? 1 : suffix;
    if (vr < 1 || vr > 3)
        raise(scpi::HEADER_SUFFIX_OUT_OF_RANGE, "regulator " + std::to_string(vr) + " (1 to 3)");
    return int(vr);
}

// The device model's own refusal of an address, without a board.
void checkAccess(uint8_t address, bool write) {
    const std::string refusal = accessRefusal(address, write);
    if (!refusal.empty())
        raise(scpi::ILLEGAL_PARAMETER_VALUE, refusal);
}

std::string joined(const std::vector<std::string> &parts) {
    std::string out;
    for (const std::string &part : parts)
        out += (out.empty() ? "" : ",") + part;
    return out;
}

const char *const NOT_POWERED =
    "IVR not powered: no known chip answers (send POWer ON first; is PVIN on?)";

} // namespace

Instrument::Instrument(BoardLink &link, bool readOnly, const std::string &version)
    : link(link), readOnly(readOnly), version(version) {}

void Instrument::pushError(ClientState &client, int code, const std::string &detail) {
    client.eventStatus |= eventBit(code);
    if (client.errors.size() >= ERROR_QUEUE_SIZE) {
        client.errors.back() = scpi::errorEntry(scpi::QUEUE_OVERFLOW);
        return;
    }
    client.errors.push_back(scpi::errorEntry(code, detail));
}

void Instrument::overrun(ClientState &client) {
    pushError(client, scpi::INPUT_BUFFER_OVERRUN,
              "a line holds at most " + std::to_string(scpi::MAX_MESSAGE_TEXT) +
                  " bytes, and its blocks at most " + std::to_string(scpi::MAX_BLOCK_DATA) +
                  " together");
}

std::string Instrument::execute(ClientState &client, const std::string &message) {
    const scpi::ParseResult parsed = scpi::parseMessage(message);
    if (!parsed.ok()) {
        pushError(client, parsed.error, parsed.detail);
        return std::string();
    }
    // Checked whole before anything runs: a line with a mistake in it changes
    // nothing.
    std::vector<Action> actions;
    std::vector<scpi::HeaderNode> previous;
    for (const Command &command : parsed.commands) {
        try {
            const scpi::Resolution found = scpi::resolve(commandTree(), command, previous);
            if (found.id < 0)
                raise(found.error, found.detail);
            if (readOnly && !command.query && !clientOnly(found.id))
                raise(scpi::COMMAND_PROTECTED, "the server is read-only");
            actions.push_back(prepare(command, found.id, found.suffix, client));
            if (!command.common)
                previous = found.path;
        } catch (const ScpiError &error) {
            pushError(client, error.code, error.detail);
            return std::string();
        }
    }

    std::string answer;
    bool answered = false;
    for (size_t i = 0; i < actions.size(); ++i) {
        try {
            const std::string result = actions[i]();
            if (parsed.commands[i].query) {
                answer += (answered ? ";" : "") + result;
                answered = true;
            }
            continue;
        } catch (const ScpiError &error) {
            pushError(client, error.code, error.detail);
        } catch (const std::string &text) {
            if (isLinkFailure(text)) {
                link.markDown();
                pushError(client, scpi::HARDWARE_ERROR, text);
            } else {
                pushError(client, scpi::EXECUTION_ERROR, text);
            }
        } catch (const std::exception &e) {
            pushError(client, scpi::EXECUTION_ERROR, e.what());
        }
        break;
    }
    return answered ? answer + "\n" : std::string();
}

Instrument::Action Instrument::prepare(const Command &c, int id, long suffix, ClientState &client) {
    BoardLink *const board = &link;
    // The bridge, opened again if it was unplugged.
    auto open = [board]() {
        if (!board->ensureOpen())
            raise(scpi::HARDWARE_ERROR, board->openError());
    };
    // The identified chip's model, probed for when none is identified yet.
    auto chip = [board, open]() -> IvrDevice & {
        open();
        if (!board->identified()) {
            board->identify();
            if (!board->identified())
                raise(scpi::EXECUTION_ERROR, NOT_POWERED);
        }
        return board->device();
    };
    // A reading of all ones may be a bus where nothing answers: the chip's ID
    // tells.
    auto confirmAnswering = [board]() {
        const ChipDescriptor found = board->chip();
        const uint8_t id = board->device().read_register(reg::CHIP_ID, true, false);
        if (id == found.chip_id)
            return;
        board->forgetChip();
        raise(scpi::HARDWARE_ERROR, chipStoppedAnswering(found, id));
    };
    auto pageOf = [board](int vr) {
        const ChipDescriptor &found = board->chip();
        const int page = regulator::pageOf(vr, found.regulator_count);
        if (page == 0)
            raise(scpi::SETTINGS_CONFLICT, noSuchRegulator(found, vr));
        return page;
    };
    const bool query = c.query;

    switch (id) {
    case IDN:
        expectParameters(c, 0);
        return [this]() {
            try {
                if (link.ensureOpen() && !link.identified())
                    link.identify();
            } catch (const std::string &text) {
                if (isLinkFailure(text))
                    link.markDown();
            }
            const std::string model = link.identified() ? link.chip().chip_name : "QM44xxC";
            const std::string serial = link.serial().empty() ? "0" : link.serial();
            return "QM44xxC-EVAL," + model + "," + serial + "," + version;
        };
    case CLS:
        expectParameters(c, 0);
        return [&client]() {
            client.errors.clear();
            client.eventStatus = 0;
            return std::string();
        };
    case OPC:
        expectParameters(c, 0);
        // Commands run one after the other: each is complete when the next starts.
        return [&client, query]() {
            if (query)
                return std::string("1");
            client.eventStatus |= 0x01;
            return std::string();
        };
    case WAI:
        expectParameters(c, 0);
        return []() { return std::string(); };
    case ESR:
        expectParameters(c, 0);
        return [&client]() {
            const int status = client.eventStatus;
            client.eventStatus = 0;
            return std::to_string(status);
        };
    case TST:
        expectParameters(c, 0);
        return []() { return std::string("0"); };
    case SYST_ERR:
        expectParameters(c, 0);
        return [&client]() {
            if (client.errors.empty())
                return scpi::errorEntry(scpi::NO_ERROR);
            std::string entry = client.errors.front();
            client.errors.pop_front();
            return entry;
        };
    case SYST_ERR_COUNT:
        expectParameters(c, 0);
        return [&client]() { return std::to_string(client.errors.size()); };
    case SYST_VERS:
        expectParameters(c, 0);
        return []() { return std::string("1999.0"); };

    case POWER: {
        if (query) {
            expectParameters(c, 0);
            return [board, open]() {
                open();
                return std::string(board->board().getEN() || board->identified() ? "1" : "0");
            };
        }
        expectParameters(c, 1);
        const bool on = boolean(c.parameters[0]);
        return [board, open, on]() {
            open();
            if (!on) {
                board->powerOff();
                return std::string();
            }
            if (!board->powerOn().regulator_count)
                raise(scpi::EXECUTION_ERROR, "IVR not powered: no known chip answered after EN "
                                             "went high (is PVIN on?)");
            return std::string();
        };
    }
    case PVIN: {
        if (query) {
            expectParameters(c, 0);
            return [board, open]() {
                open();
                return std::string(board->pvin() ? "1" : "0");
            };
        }
        expectParameters(c, 1);
        const bool on = boolean(c.parameters[0]);
        return [board, open, on]() {
            open();
            board->setPvin(on);
            return std::string();
        };
    }
    case DETECT:
        expectParameters(c, 0);
        return [board, open]() {
            open();
            board->forgetChip();
            board->identify();
            if (!board->identified())
                raise(scpi::EXECUTION_ERROR, NOT_POWERED);
            const ChipDescriptor &found = board->chip();
            char hex[16];
            std::snprintf(hex, sizeof hex, "#H%02X,#H%02X", unsigned(found.i2c_address),
                          unsigned(found.chip_id));
            return found.chip_name + "," + hex + "," + std::to_string(found.regulator_count);
        };

    case OUTPUT: {
        const int vr = regulatorOf(suffix);
        if (query) {
            expectParameters(c, 0);
            return [chip, pageOf, vr]() {
                IvrDevice &device = chip();
                return std::string(device.get_enable(pageOf(vr)) ? "1" : "0");
            };
        }
        expectParameters(c, 1);
        const bool on = boolean(c.parameters[0]);
        return [chip, pageOf, vr, on]() {
            IvrDevice &device = chip();
            device.set_enable(pageOf(vr), on ? 1 : 0);
            device.commit();
            return std::string();
        };
    }
    case VOLT: {
        const int vr = regulatorOf(suffix);
        if (query) {
            expectParameters(c, 0);
            return [chip, pageOf, vr]() {
                IvrDevice &device = chip();
                return text::fixed(regulator::voltsFromDacCode(device.get_dac_code(pageOf(vr))), 4);
            };
        }
        expectParameters(c, 1);
        const Parameter &p = c.parameters[0];
        double volts = 0;
        if (p.kind == Parameter::Kind::Character && scpi::mnemonicMatches(p.text, "MINimum"))
            volts = regulator::TARGET_MIN_V;
        else if (p.kind == Parameter::Kind::Character && scpi::mnemonicMatches(p.text, "MAXimum"))
            volts = regulator::TARGET_MAX_V;
        else if (p.kind == Parameter::Kind::Decimal)
            volts = p.number;
        else if (p.kind == Parameter::Kind::Character)
            raise(scpi::ILLEGAL_PARAMETER_VALUE,
                  "expected volts, MINimum or MAXimum, got " + text::quoted(p.text));
        else
            raise(scpi::DATA_TYPE_ERROR, std::string("expected volts, got ") + kindName(p.kind));
        // Refused, not clamped: a sweep must not quietly run at the bound.
        if (!regulator::targetInRange(volts))
            raise(scpi::DATA_OUT_OF_RANGE, p.text + " V is outside the range 0.5 to 1.202 V");
        const int code = regulator::dacCodeFromVolts(volts);
        return [chip, pageOf, vr, code]() {
            IvrDevice &device = chip();
            device.set_dac_code(pageOf(vr), code);
            device.commit();
            return std::string();
        };
    }
    case VOLT_CODE: {
        const int vr = regulatorOf(suffix);
        if (query) {
            expectParameters(c, 0);
            return [chip, pageOf, vr]() {
                IvrDevice &device = chip();
                return std::to_string(device.get_dac_code(pageOf(vr)));
            };
        }
        expectParameters(c, 1);
        const int code = int(integer(c.parameters[0], regulator::DAC_CODE_MIN,
                                     regulator::DAC_CODE_MAX, "the DAC code"));
        return [chip, pageOf, vr, code]() {
            IvrDevice &device = chip();
            device.set_dac_code(pageOf(vr), code);
            device.commit();
            return std::string();
        };
    }
    case SLEW:
    case SOFT_START: {
        const int vr = regulatorOf(suffix);
        const bool softStart = id == SOFT_START;
        const RateLabels &labels = softStart ? ss_rate_labels : dvs_rate_labels;
        if (query) {
            expectParameters(c, 0);
            return [chip, pageOf, vr, softStart, &labels]() {
                IvrDevice &device = chip();
                const int page = pageOf(vr);
                const int code = softStart ? device.get_ss_code(page) : device.get_dvs_code(page);
                return labels[size_t(code & 0x0F)];
            };
        }
        expectParameters(c, 1);
        const int code = rateCode(c.parameters[0], labels);
        return [chip, pageOf, vr, softStart, code]() {
            IvrDevice &device = chip();
            const int page = pageOf(vr);
            if (softStart) {
                setSoftStart(device, page, code);
            } else {
                device.set_dvs_code(page, code);
            }
            device.commit();
            return std::string();
        };
    }
    case CURRENT_LIMIT: {
        const int vr = regulatorOf(suffix);
        expectParameters(c, 0);
        return [chip, pageOf, vr]() {
            IvrDevice &device = chip();
            return std::to_string(device.read_field(field::climCode(pageOf(vr))));
        };
    }

    case MEAS_VIN:
    case MEAS_TEMP:
    case MEAS_ALL: {
        expectParameters(c, 0);
        return [board, chip, confirmAnswering, id]() {
            IvrDevice &device = chip();
            std::vector<std::string> values;
            if (id != MEAS_TEMP)
                values.push_back(text::fixed(device.read_vin(), 3));
            if (id != MEAS_VIN)
                values.push_back(text::fixed(device.read_temperature(), 2));
            if (id == MEAS_ALL) {
                for (int page : regulator::populatedPages(board->chip().regulator_count))
                    values.push_back(text::fixed(regulator::shownVout(device.read_vout(page)), 4));
            }
            const bool allOnes =
                (id == MEAS_TEMP || device.register_cache[reg::VIN] == 0xFF) &&
                (id == MEAS_VIN || device.register_cache[reg::TEMPERATURE] == 0xFF);
            if (allOnes)
                confirmAnswering();
            return joined(values);
        };
    }
    case MEAS_VOUT: {
        const int vr = regulatorOf(suffix);
        expectParameters(c, 0);
        return [chip, pageOf, confirmAnswering, vr]() {
            IvrDevice &device = chip();
            const int page = pageOf(vr);
            const double volts = device.read_vout(page);
            if (device.register_cache[reg::voutRegister(page)] == 0xFF)
                confirmAnswering();
            return text::fixed(regulator::shownVout(volts), 4);
        };
    }
    case FLAGS:
    case FLAG_NAMES: {
        expectParameters(c, 0);
        const bool names = id == FLAG_NAMES;
        return [board, chip, confirmAnswering, names]() {
            IvrDevice &device = chip();
            const int count = board->chip().regulator_count;
            std::vector<std::string> parts;
            if (names) {
                for (const std::string &name : statusFlagNames(count))
                    parts.push_back("\"" + name + "\"");
                return joined(parts);
            }
            const StatusRegisters status = readStatusRegisters(device, count);
            if (status.allOnes())
                confirmAnswering();
            for (const StatusFlag &flag : decodeStatus(status.core, status.regulators))
                parts.push_back(statusWord(flag.level));
            return joined(parts);
        };
    }

    case REGISTER: {
        if (query) {
            expectParameters(c, 1);
            const uint8_t address = uint8_t(integer(c.parameters[0], 0, 255, "the address"));
            checkAccess(address, false);
            return [chip, confirmAnswering, address]() {
                IvrDevice &device = chip();
                const uint8_t value = device.read_register(address, true, true);
                if (value == 0xFF)
                    confirmAnswering();
                return std::to_string(value);
            };
        }
        expectParameters(c, 2);
        const uint8_t address = uint8_t(integer(c.parameters[0], 0, 255, "the address"));
        const uint8_t value = uint8_t(integer(c.parameters[1], 0, 255, "the value"));
        checkAccess(address, true);
        return [chip, address, value]() {
            writeRegister(chip(), address, value);
            return std::string();
        };
    }
    case DUMP:
        expectParameters(c, 0);
        return [chip, confirmAnswering]() {
            IvrDevice &device = chip();
            std::vector<std::string> parts;
            bool allOnes = true;
            for (int address = 0; address < 256; ++address) {
                if (!isReadable(uint16_t(address)))
                    continue;
                const uint8_t value = device.read_register(uint8_t(address), true, false);
                allOnes = allOnes && value == 0xFF;
                parts.push_back(std::to_string(address));
                parts.push_back(std::to_string(value));
            }
            if (allOnes)
                confirmAnswering();
            return joined(parts);
        };

    case SETTINGS: {
        if (query) {
            expectParameters(c, 0);
            return [board, chip]() {
                IvrDevice &device = chip();
                device.refresh(); // the chip's settings as they are now
                const uint8_t id = device.register_cache[reg::CHIP_ID];
                if (id != board->chip().chip_id) {
                    const ChipDescriptor found = board->chip();
                    board->forgetChip();
                    raise(scpi::HARDWARE_ERROR, chipStoppedAnswering(found, id));
                }
                const ChipSettings settings = settingsFromCache(device);
                const std::string unsavable = unsavableReason(settings);
                if (!unsavable.empty())
                    raise(scpi::EXECUTION_ERROR, unsavable + "; set it with SOURce:VOLTage first");
                return scpi::definiteBlock(
                    formatConfig(settings, "qm44xx-server SYSTem:SETTings?"));
            };
        }
        expectParameters(c, 1);
        const Parameter &p = c.parameters[0];
        if (p.kind != Parameter::Kind::Block)
            raise(scpi::DATA_TYPE_ERROR,
                  std::string("the settings come as a block (#<n><length><file>), not ") +
                      kindName(p.kind));
        // Everything is checked before the first byte goes to the chip.
        const ConfigParseResult parsed = parseConfig(p.text);
        if (!parsed.ok())
            raise(scpi::ILLEGAL_PARAMETER_VALUE, parsed.error);
        const ChipSettings settings = parsed.config;
        const int chipLine = parsed.chipLine;
        return [chip, settings, chipLine]() {
            IvrDevice &device = chip();
            const std::string mismatch = mismatchReason(settings, device);
            if (!mismatch.empty())
                raise(scpi::ILLEGAL_PARAMETER_VALUE,
                      "line " + std::to_string(chipLine) + ": " + mismatch);
            applySettings(device, settings);
            device.commit();
            return std::string();
        };
    }
    }
    raise(scpi::UNDEFINED_HEADER, scpi::headerText(c));
}

} // namespace server
