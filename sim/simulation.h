// Puts simulated evaluation boards on the HID bus: one call, and the bridge
// appears in enumeration (vendor 0x04D8, product 0xF02A) ahead of any real
// board, so the transport and everything above it run unchanged.
#pragma once

#include "sim/sim_bridge.h"

#include <string>
#include <vector>

constexpr const char *DEFAULT_SIMULATED_MODEL = "QM4434";

// Starts (or restarts) the simulation with one board, path "sim:MODEL", with a
// chip of the named model (QM4411, QM4422, QM4423, QM4433 or QM4434). Throws a
// std::string for an unknown model.
SimulatedBridge &startSimulation(const std::string &model = DEFAULT_SIMULATED_MODEL);
// Puts one more board on the bus, listed after the others; the n-th board's path
// is "sim:MODEL-n" (the first one's "sim:MODEL") and its serial number "SIM" and
// n in four digits. Starts the simulation when none runs.
SimulatedBridge &addSimulation(const std::string &model = DEFAULT_SIMULATED_MODEL);
// Takes every simulated board off the bus again.
void stopSimulation();
// The first simulated board, or nullptr.
SimulatedBridge *simulation();
// Every simulated board, in the order they are listed.
std::vector<SimulatedBridge *> simulations();
// A simulated board's path ("" for a bridge that is not on the bus).
std::string simulationPath(const SimulatedBridge &bridge);

// Recognises "--simulate" and "--simulate=MODEL" (returns false for any other
// argument). An unknown model leaves its message in error.
bool parseSimulateArgument(const std::string &argument, std::string &model, std::string &error);
