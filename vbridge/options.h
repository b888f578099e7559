// The command line of qm44xx-virtual-bridge.
#pragma once

#include <string>
#include <vector>

struct VirtualBridgeOptions {
    std::string model = "QM4434";
    std::string uhidPath = "/dev/uhid";
    std::string name = "QM44xxC evaluation board (virtual)";
    // Where the hidraw node of the new device is looked for ("" : not looked for).
    std::string hidrawClassDir = "/sys/class/hidraw";
    long unplugAfterReports = -1; // -1: never
    long unplugAfterMs = -1;
    long stallAfterReports = -1;
    long stallAfterMs = -1;
    long answerDelayMs = 0;
    bool verbose = false;
};

enum class OptionsResult { Run, Help, Version, Error };

// Parses the command line (without the program name); an unknown option, a
// missing or malformed value or an unknown model leaves its message in error.
OptionsResult parseVirtualBridgeOptions(const std::vector<std::string> &arguments,
                                        VirtualBridgeOptions &options, std::string &error);
std::string virtualBridgeUsage();
// "qm44xx-virtual-bridge VERSION" and a new line.
std::string virtualBridgeVersion();
