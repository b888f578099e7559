// The simulated board as a HID backend: listed by enumeration, opened by path,
// exchanging reports with the simulated bridge.
#include "sim/simulation.h"

#include "link/bridge_protocol.h"
#include "link/hid_backend.h"

#include <cerrno>
#include <memory>

namespace {

const std::string PATH_PREFIX = "sim:";

class SimHandle : public hid::Handle {
public:
    explicit SimHandle(SimulatedBridge &bridge) : bridge(bridge) {}
    int write(const unsigned char *data, size_t length) override {
        return bridge.receive(data, length, lastError);
    }
    int read(unsigned char *data, size_t length, int timeoutMs) override {
        return bridge.readAnswer(data, length, timeoutMs, lastError);
    }
    int error() const override { return lastError; }

private:
    SimulatedBridge &bridge;
    int lastError = 0;
};

class SimBackend : public hid::Backend {
public:
    SimBackend(const std::string &model) : bridge(*findChipModel(model)), model(model) {}

    bool enumerate(std::vector<hid::DeviceInfo> &devices) override {
        if (bridge.present())
            devices.push_back(info());
        return true;
    }
    bool ownsPath(const std::string &path) const override {
        return path.compare(0, PATH_PREFIX.size(), PATH_PREFIX) == 0;
    }
    hid::Handle *open(const std::string &path, bool, bool, hid::DeviceInfo &opened,
                      int &error) override {
        if (path != PATH_PREFIX + model || !bridge.present()) {
            error = ENODEV;
            return nullptr;
        }
        if (bridge.openRefusal()) {
            error = bridge.openRefusal();
            return nullptr;
        }
        opened = info();
        return new SimHandle(bridge);
    }

    SimulatedBridge bridge;

private:
    hid::DeviceInfo info() const {
        return {PATH_PREFIX + model, bridge::VENDOR_ID, bridge::PRODUCT_ID, 0x0100};
    }
    std::string model;
};

std::unique_ptr<SimBackend> &current() {
    static std::unique_ptr<SimBackend> backend;
    return backend;
}

} // namespace

SimulatedBridge &startSimulation(const std::string &model) {
    if (!findChipModel(model))
        throw "Unknown chip model \"" + model + "\" (known: " + chipModelNames() + ")";
    stopSimulation();
    current() = std::make_unique<SimBackend>(model);
    hid::addBackend(current().get(), true);
    return current()->bridge;
}

void stopSimulation() {
    if (!current())
        return;
    hid::removeBackend(current().get());
    current().reset();
}

SimulatedBridge *simulation() {
    return current() ? &current()->bridge : nullptr;
}

bool parseSimulateArgument(const std::string &argument, std::string &model, std::string &error) {
    const std::string option = "--simulate";
    if (argument == option) {
        model = DEFAULT_SIMULATED_MODEL;
        return true;
    }
    if (argument.compare(0, option.size() + 1, option + "=") != 0)
        return false;
    model = argument.substr(option.size() + 1);
    if (!findChipModel(model))
        error =
            "Unknown chip model \"" + model + "\" for --simulate (known: " + chipModelNames() + ")";
    return true;
}
