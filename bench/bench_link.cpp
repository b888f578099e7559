// Software time of one exchange with the board, without USB time: a register
// read (IvrDevice::read_register from the device) and a block write (a commit of
// one dirty page, and MotherBoard::write of 5 bytes), through MotherBoard, PIC
// and the simulated bridge, with the traffic log on (a slot storing each line in
// a QStringList) and off (nothing connected to logMessage). The bridge keeps no
// traffic record, so memory stays flat however long a benchmark runs.
// items_per_second counts exchanges (reports sent to the bridge).
#include "device/ivr_device.h"
#include "link/motherboard.h"
#include "link/pic.h"
#include "sim/simulation.h"

#include <QObject>
#include <QStringList>
#include <benchmark/benchmark.h>

namespace {

// The log kept by the logging runs. Cleared every LOG_CAP lines so that a run
// of millions of exchanges stays within memory; the amortised cost of the clear
// is part of the figure.
constexpr int LOG_CAP = 1 << 16;

class Board {
public:
    explicit Board(bool logging) {
        SimulatedBridge &bridge = startSimulation("QM4434");
        bridge.setRecording(false);
        board = std::make_unique<MotherBoard>();
        board->pic->writeEN(1);
        board->device->identify_chip();
        board->device->refresh();
        if (logging) {
            QObject::connect(board.get(), &MotherBoard::logMessage, &context,
                             [this](const QString &line) {
                                 if (log.size() >= LOG_CAP)
                                     log.clear();
                                 log.append(line);
                             });
        }
    }
    ~Board() {
        board.reset();
        stopSimulation();
    }

    MotherBoard &motherBoard() { return *board; }
    IvrDevice &device() { return *board->device; }
    const QStringList &lines() const { return log; }

private:
    QObject context;
    QStringList log;
    std::unique_ptr<MotherBoard> board;
};

void registerRead(benchmark::State &state) {
    Board board(state.range(0) != 0);
    IvrDevice &device = board.device();
    for (auto _ : state)
        benchmark::DoNotOptimize(device.read_register(0x41, true, true));
    if (state.range(0) && board.lines().isEmpty())
        state.SkipWithError("logging on but no line was logged");
    state.SetItemsProcessed(state.iterations());
}

void pageCommit(benchmark::State &state) {
    Board board(state.range(0) != 0);
    IvrDevice &device = board.device();
    int code = 100;
    for (auto _ : state) {
        // Two values in turn, so each commit has a dirty page to send: one block
        // write of 0x41-0x43 and the update trigger.
        code = code == 100 ? 101 : 100;
        device.set_dac_code(1, code);
        device.set_ss_code(1, code & 0x0F);
        device.set_dvs_code(1, code & 0x0F);
        device.commit();
    }
    state.SetItemsProcessed(2 * state.iterations()); // exchanges: the block and the trigger
}

void blockWrite(benchmark::State &state) {
    Board board(state.range(0) != 0);
    MotherBoard &motherBoard = board.motherBoard();
    const std::string block = {char(0x40), char(0x08), char(100), char(0x13), char(0x03)};
    for (auto _ : state)
        motherBoard.write(0x11, block);
    state.SetItemsProcessed(state.iterations());
}

} // namespace

BENCHMARK(registerRead)->ArgName("logging")->Arg(0)->Arg(1);
BENCHMARK(pageCommit)->ArgName("logging")->Arg(0)->Arg(1);
BENCHMARK(blockWrite)->ArgName("logging")->Arg(0)->Arg(1);
