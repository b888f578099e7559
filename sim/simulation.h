// Puts a simulated evaluation board on the HID bus: one call, and the bridge
// appears in enumeration (vendor 0x04D8, product 0xF02A) ahead of any real
// board, so the transport and everything above it run unchanged.
#pragma once

#include "sim/sim_bridge.h"

#include <string>

constexpr const char *DEFAULT_SIMULATED_MODEL = "QM4434";

// Starts (or restarts) the simulation with a chip of the named model (QM4411,
// QM4422, QM4423, QM4433 or QM4434). Throws a std::string for an unknown model.
SimulatedBridge &startSimulation(const std::string &model = DEFAULT_SIMULATED_MODEL);
// Takes the simulated board off the bus again.
void stopSimulation();
// The running simulation, or nullptr.
SimulatedBridge *simulation();

// Recognises "--simulate" and "--simulate=MODEL" (returns false for any other
// argument). An unknown model leaves its message in error.
bool parseSimulateArgument(const std::string &argument, std::string &model, std::string &error);
