// A small client of the real link layer, run inside the test VM against the
// virtual bridge's hidraw node: it goes through hidapi, hidraw and uhid with
// the same PIC and MotherBoard as every program of the project.
//
//   vm_probe session        power on, identify, set VR1, read telemetry, power off
//   vm_probe loop           power on, then read telemetry until the link fails
//   vm_probe wait-write F   open the bridge, wait for file F, then send one report
//   vm_probe late           raise EN, read VIN, wait half a second, read the chip ID
//
// Prints one line per result; a link failure prints "error: TEXT" and exits 2.
#include "device/ivr_device.h"
#include "link/motherboard.h"
#include "link/pic.h"

#include <chrono>
#include <cstdio>
#include <string>
#include <sys/stat.h>
#include <thread>

namespace {

void session() {
    MotherBoard board;
    const ChipDescriptor chip = board.setEN(true);
    std::printf("chip: %s, %d outputs\n", chip.chip_name.c_str(), int(chip.regulator_count));
    IvrDevice &device = *board.device;
    device.set_dac_code(1, 150);
    device.set_enable(1, 1);
    device.commit();
    std::printf("vout1: %.4f V\n", device.read_vout(1));
    std::printf("vin: %.3f V\n", device.read_vin());
    std::printf("temperature: %.1f C\n", device.read_temperature());
    std::printf("core status: 0x%02x\n", unsigned(device.read_core_status()));
    board.setEN(false);
    std::printf("EN low\n");
}

int loop() {
    MotherBoard board;
    board.setEN(true);
    std::printf("looping\n");
    std::fflush(stdout);
    for (long i = 0; i < 100000; ++i) {
        board.device->read_vin();
        board.device->read_vout(1);
    }
    std::printf("no failure\n");
    return 3;
}

int waitWrite(const std::string &file) {
    PIC pic(nullptr, false);
    std::printf("open\n");
    std::fflush(stdout);
    struct stat info;
    for (int i = 0; i < 400 && stat(file.c_str(), &info) != 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    pic.writeEN(1);
    std::printf("written\n");
    return 0;
}

void printRead(PIC &pic, uint8_t reg) {
    try {
        std::printf("register 0x%02x: 0x%02x\n", unsigned(reg),
                    unsigned(uint8_t(pic.writeRead(0x11, std::string(1, char(reg)), 1)[0])));
    } catch (const std::string &text) {
        std::printf("register 0x%02x: error: %s\n", unsigned(reg), text.c_str());
    }
}

int late() {
    PIC pic(nullptr, false);
    pic.writeEN(1);
    printRead(pic, 0x01);
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    printRead(pic, 0x13);
    return 0;
}

} // namespace

int main(int argc, char **argv) {
    const std::string command = argc > 1 ? argv[1] : "";
    try {
        if (command == "session") {
            session();
            return 0;
        }
        if (command == "loop")
            return loop();
        if (command == "late")
            return late();
        if (command == "wait-write" && argc > 2)
            return waitWrite(argv[2]);
    } catch (const std::string &text) {
        std::printf("error: %s\n", text.c_str());
        return 2;
    }
    std::fprintf(stderr, "usage: vm_probe session | loop | wait-write FILE | late\n");
    return 1;
}
