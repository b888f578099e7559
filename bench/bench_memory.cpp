// Peak memory of an hour of logging, in a process of its own (qm44xx-bench-memory)
// so that no other benchmark raises the peak: the powered window on the simulated
// QM4434 polls 14,400 times (an hour at 4 Hz) with Active and Telem on, the event
// loop running after each tick as it would (view layout, repaints). Reported: the
// peak resident set (VmHWM), the resident set before the hour, the lines stored,
// and the bytes each stored line added to the peak and to the heap.
#include "tests/support/simulated_panel.h"

#include <QFile>
#include <benchmark/benchmark.h>
#include <malloc.h>

namespace {

// A "kB" line of /proc/self/status, in bytes.
double statusBytes(const char *key) {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    const QByteArray prefix = QByteArray(key) + ':';
    for (const QByteArray &row : status.readAll().split('\n')) {
        if (row.startsWith(prefix))
            return 1024.0 * row.mid(prefix.size()).trimmed().split(' ').value(0).toDouble();
    }
    return 0;
}

void anHourOfLogging(benchmark::State &state) {
    constexpr int TICKS = 14400;
    for (auto _ : state) {
        PoweredWindow w;
        w.telem(true);
        w.clearLog();
        const double rssBefore = statusBytes("VmRSS");
        const double heapBefore = double(mallinfo2().uordblks);
        for (int t = 0; t < TICKS; ++t) {
            w->timerLoop();
            QCoreApplication::processEvents();
        }
        const double peak = statusBytes("VmHWM");
        const double heap = double(mallinfo2().uordblks) - heapBefore;
        const double lines = w.log()->rowCount();
        if (lines < 24.0 * TICKS) {
            state.SkipWithError("fewer lines than an hour of polling logs");
            break;
        }
        constexpr double MIB = 1024.0 * 1024.0;
        state.counters["ticks"] = TICKS;
        state.counters["lines"] = lines;
        state.counters["peak_rss_MiB"] = peak / MIB;
        state.counters["rss_before_MiB"] = rssBefore / MIB;
        state.counters["peak_bytes_per_line"] = (peak - rssBefore) / lines;
        state.counters["heap_bytes_per_line"] = heap / lines;
    }
}

} // namespace

// Once per process whatever --benchmark_repetitions says: a second run in the
// same process would start from the first one's peak. Run the program again to
// repeat it.
BENCHMARK(anHourOfLogging)->Unit(benchmark::kMillisecond)->Iterations(1)->Repetitions(1);
