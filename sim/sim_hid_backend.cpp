// The simulated boards as a HID backend: listed by enumeration, opened by path,
// exchanging reports with their simulated bridges.
#include "sim/simulation.h"

#include "link/bridge_protocol.h"
#include "link/hid_backend.h"

#include <cerrno>
#include <memory>
#include <vector>

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

// One simulated board on the bus.
struct Board {
    Board(const std::string &model, size_t number)
        : bridge(*findChipModel(model)), model(model),
          path(PATH_PREFIX + model + (number > 1 ? "-" + std::to_string(number) : "")),
          serial(serialFor(number)) {}

    static std::string serialFor(size_t number) {
        std::string digits = std::to_string(number);
        return "SIM" + std::string(digits.size() < 4 ? 4 - digits.size() : 0, '0') + digits;
    }

    hid::DeviceInfo info() const {
        hid::DeviceInfo d;
        d.path = path;
        d.vendorId = bridge::VENDOR_ID;
        d.productId = bridge::PRODUCT_ID;
        d.versionNumber = 0x0100;
        d.serialNumber = serial;
        d.manufacturer = "Microchip Technology Inc.";
        d.product = "QM44xxC evaluation board (simulated " + model + ")";
        return d;
    }

    SimulatedBridge bridge;
    std::string model;
    std::string path;
    std::string serial;
};

// The simulated boards, listed in the order they were added. Each process has
// its own, so they need no lock.
class SimBackend : public hid::Backend {
public:
    bool enumerate(std::vector<hid::DeviceInfo> &devices) override {
        for (const std::unique_ptr<Board> &board : boards) {
            if (board->bridge.present())
                devices.push_back(board->info());
        }
        return true;
    }
    bool ownsPath(const std::string &path) const override {
        return path.compare(0, PATH_PREFIX.size(), PATH_PREFIX) == 0;
    }
    hid::Handle *open(const std::string &path, bool, bool, hid::DeviceInfo &opened,
                      int &error) override {
        Board *board = find(path);
        if (!board || !board->bridge.present()) {
            error = ENODEV;
            return nullptr;
        }
        if (board->bridge.openRefusal()) {
            error = board->bridge.openRefusal();
            return nullptr;
        }
        opened = board->info();
        return new SimHandle(board->bridge);
    }

    Board *find(const std::string &path) const {
        for (const std::unique_ptr<Board> &board : boards) {
            if (board->path == path)
                return board.get();
        }
        return nullptr;
    }

    std::vector<std::unique_ptr<Board>> boards;
};

std::unique_ptr<SimBackend> &current() {
    static std::unique_ptr<SimBackend> backend;
    return backend;
}

void checkModel(const std::string &model) {
    if (!findChipModel(model))
        throw "Unknown chip model \"" + model + "\" (known: " + chipModelNames() + ")";
}

} // namespace

SimulatedBridge &startSimulation(const std::string &model) {
    checkModel(model);
    stopSimulation();
    return addSimulation(model);
}

SimulatedBridge &addSimulation(const std::string &model) {
    checkModel(model);
    if (!current()) {
        current() = std::make_unique<SimBackend>();
        hid::addBackend(current().get(), true);
    }
    auto &boards = current()->boards;
    boards.push_back(std::make_unique<Board>(model, boards.size() + 1));
    return boards.back()->bridge;
}

void stopSimulation() {
    if (!current())
        return;
    hid::removeBackend(current().get());
    current().reset();
}

SimulatedBridge *simulation() {
    return current() ? &current()->boards.front()->bridge : nullptr;
}

std::vector<SimulatedBridge *> simulations() {
    std::vector<SimulatedBridge *> all;
    if (current()) {
        for (const std::unique_ptr<Board> &board : current()->boards)
            all.push_back(&board->bridge);
    }
    return all;
}

std::string simulationPath(const SimulatedBridge &bridge) {
    if (current()) {
        for (const std::unique_ptr<Board> &board : current()->boards) {
            if (&board->bridge == &bridge)
                return board->path;
        }
    }
    return std::string();
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
