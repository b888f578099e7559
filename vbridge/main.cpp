// qm44xx-virtual-bridge: plugs a simulated evaluation board into the running
// kernel through /dev/uhid. See virtualBridgeUsage() and vbridge/README.md.
#include "vbridge/virtual_bridge.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <iostream>
#include <unistd.h>

namespace {

VirtualBridge *running = nullptr;

void onSignal(int signal) {
    if (!running)
        return;
    if (signal == SIGUSR1)
        running->requestUnplug();
    else if (signal == SIGUSR2)
        running->requestStall();
    else
        running->requestStop();
}

void handleSignals() {
    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    for (int signal : {SIGINT, SIGTERM, SIGHUP, SIGUSR1, SIGUSR2})
        sigaction(signal, &action, nullptr);
}

} // namespace

int main(int argc, char **argv) {
    const char *program = "qm44xx-virtual-bridge";
    VirtualBridgeOptions options;
    std::string error;
    switch (parseVirtualBridgeOptions(std::vector<std::string>(argv + 1, argv + argc), options,
                                      error)) {
    case OptionsResult::Help:
        std::cout << virtualBridgeUsage();
        return 0;
    case OptionsResult::Version:
        std::cout << virtualBridgeVersion();
        return 0;
    case OptionsResult::Error:
        std::cerr << program << ": " << error << "\nTry '" << program
                  << " --help' for more information." << std::endl;
        return 1;
    case OptionsResult::Run:
        break;
    }

    const int fd = open(options.uhidPath.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0) {
        std::cerr << uhidOpenFailure(options.uhidPath, errno) << std::endl;
        return 1;
    }
    VirtualBridge bridge(fd, options, std::cout);
    running = &bridge;
    handleSignals();
    int status = 0;
    if (!bridge.create(error)) {
        std::cerr << program << ": cannot create the device: " << error << std::endl;
        status = 1;
    } else if (bridge.run(error) == VirtualBridge::End::Failed) {
        std::cerr << program << ": " << error << std::endl;
        status = 1;
    }
    running = nullptr;
    close(fd);
    return status;
}
