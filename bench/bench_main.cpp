// The benchmarks' main: only the simulated board is on the HID bus, then Google
// Benchmark runs whatever benchmarks the linked sources registered.
#include "link/hid_backend.h"

#include <QCoreApplication>
#include <benchmark/benchmark.h>

int main(int argc, char **argv) {
    QCoreApplication app(argc, argv);
    hid::removePlatformBackend();
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
