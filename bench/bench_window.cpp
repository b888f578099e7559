// The window's software time, without USB time:
//  - one polling tick (MainWindow::timerLoop) on a powered QM4434 with its three
//    outputs enabled, Telem logging off and on; and the same tick followed by the
//    event loop's work it causes (repaints, the log view's layout);
//  - storing one log line when the log holds 1,000 and 1,000,000 lines: through
//    the window's addMsg; its mechanism on its own (a row inserted into a
//    QStringListModel shown in a LogView); the same insertion into a plain
//    QListView; and the naive way (the whole list handed to the model per line,
//    plain QListView). Each view is shown and the event loop runs after every
//    line, so the view's layout and repaint are part of the figure.
#include "bench_support.h"
#include "tests/support/simulated_panel.h"
#include "widgets/log_view.h"

#include <QListView>
#include <QStringListModel>
#include <benchmark/benchmark.h>
#include <map>
#include <utility>

namespace {

// ---- one polling tick ----------------------------------------------------------

// Made once and kept for every run, until the benchmarks end.
PoweredWindow &poweredWindow() {
    static PoweredWindow *window = [] {
        auto *w = new PoweredWindow();
        atBenchmarksEnd([w] { delete w; });
        return w;
    }();
    return *window;
}

void tick(benchmark::State &state, bool withEvents) {
    PoweredWindow &w = poweredWindow();
    const bool telem = state.range(0) != 0;
    w.telem(telem);
    w.clearLog();
    for (int t = 0; t < 8; ++t) // fills the telemetry means and the caches once
        w->timerLoop();
    w.settle();
    const int rowsBefore = w.log()->rowCount();
    for (auto _ : state) {
        w->timerLoop();
        if (withEvents)
            runEventLoop();
    }
    const int lines = w.log()->rowCount() - rowsBefore;
    if (telem && lines == 0)
        state.SkipWithError("Telem on but no line was logged");
    if (!telem && lines != 0)
        state.SkipWithError("Telem off but lines were logged");
    state.counters["lines_per_tick"] = double(lines) / double(state.iterations());
    state.counters["log_lines"] = w.log()->rowCount();
    w.telem(false);
    w.clearLog();
}

void pollingTick(benchmark::State &state) {
    tick(state, false);
}

void pollingTickWithEvents(benchmark::State &state) {
    tick(state, true);
}

// ---- storing a log line --------------------------------------------------------

// Lines as the board writes them, each its own string.
const QStringList &linePool() {
    static const QStringList pool = [] {
        QStringList lines;
        const int count = 1000000;
        lines.reserve(count);
        for (int i = 0; i < count; ++i) {
            const int reg = 0x80 + i % 0x20;
            lines << (i % 2 ? QString::asprintf("I2C Read,  Addr 0x11 <= [ 0x%02x ]", i % 251)
                            : QString::asprintf("I2C Write, Addr 0x11 => [ 0x%02x ]", reg));
        }
        return lines;
    }();
    return pool;
}

const QString &line(long i) {
    const QStringList &pool = linePool();
    return pool[int(i % pool.size())];
}

// A log and its view: fill() brings it to n lines, store() adds one the way under
// test, trim() takes it back to n lines.
class Log {
public:
    virtual ~Log() = default;
    virtual int rows() = 0;
    virtual void fill(int n) = 0;
    virtual void store(const QString &text) = 0;
    virtual void trim(int n) = 0;
};

// The window's addMsg, its model and its LogView. The window keeps its lines
// from one run to the next (they share their text with the pool).
class WindowLog : public Log {
public:
    int rows() override { return w.log()->rowCount(); }
    void fill(int n) override {
        trim(n);
        for (int i = rows(); i < n; ++i)
            w->addMsg(line(i));
        PoweredWindow::settle();
    }
    void store(const QString &text) override { w->addMsg(text); }
    void trim(int n) override {
        if (rows() > n)
            w.log()->removeRows(n, rows() - n);
        PoweredWindow::settle();
    }

private:
    PoweredWindow &w = poweredWindow();
};

// A QStringListModel shown in a view of its own, set up as the window's list
// (uniform item sizes, the window's font, no editing), at about its size.
template <typename View> class ViewLog : public Log {
public:
    ViewLog() {
        view.setUniformItemSizes(true);
        view.setFont(QFont(QStringLiteral("Courier New")));
        view.setEditTriggers(QAbstractItemView::NoEditTriggers);
        view.setModel(&model);
        view.resize(560, 240);
        view.show();
        PoweredWindow::settle();
    }
    int rows() override { return model.rowCount(); }
    void fill(int n) override {
        model.setStringList(linePool().mid(0, n));
        PoweredWindow::settle();
    }
    // The window's way: one row inserted, then its text set.
    void store(const QString &text) override {
        const int row = model.rowCount();
        model.insertRows(row, 1);
        model.setData(model.index(row), text);
    }
    void trim(int n) override {
        if (rows() > n)
            model.removeRows(n, rows() - n);
        PoweredWindow::settle();
    }

protected:
    QStringListModel model;
    View view;
};

// The window's mechanism on its own: its model and a LogView.
using LogViewLog = ViewLog<LogView>;
// The same row insertion into a plain QListView, as the window's list was.
using ListViewLog = ViewLog<QListView>;

// The naive way: the log kept in a QStringList handed whole to the model per
// line, shown in a plain QListView.
class NaiveLog : public ViewLog<QListView> {
public:
    void fill(int n) override {
        lines = linePool().mid(0, n);
        model.setStringList(lines);
        PoweredWindow::settle();
    }
    void store(const QString &text) override {
        lines.append(text);
        model.setStringList(lines);
    }
    void trim(int n) override {
        if (lines.size() > n) {
            lines.erase(lines.begin() + n, lines.end());
            model.setStringList(lines);
        }
        PoweredWindow::settle();
    }

private:
    QStringList lines;
};

enum Way { WINDOW, LOG_VIEW, LIST_VIEW, NAIVE };

// The latest CPU time per line of each way and size, for the ratios.
std::map<std::pair<Way, long>, double> &perLine() {
    static std::map<std::pair<Way, long>, double> seconds;
    return seconds;
}

// One iteration stores one line and runs the event loop (the view's layout and
// repaint). Every BATCH lines the log is taken back to its size, untimed, so it
// holds n to n + BATCH lines throughout and a run of any length measures the
// steady cost, list growth included, not one size or a reallocation spike.
constexpr int BATCH = 100;

template <typename L> void storeLine(benchmark::State &state, Way way) {
    auto log = std::make_unique<L>();
    const int n = int(state.range(0));
    log->fill(n);
    if (log->rows() != n) {
        state.SkipWithError("the log did not fill");
        return;
    }
    long stored = 0;
    double timed = 0;
    double started = cpuSeconds();
    for (auto _ : state) {
        log->store(line(n + stored));
        runEventLoop();
        if (++stored % BATCH == 0) {
            timed += cpuSeconds() - started;
            state.PauseTiming();
            log->trim(n);
            state.ResumeTiming();
            started = cpuSeconds();
        }
    }
    timed += cpuSeconds() - started;
    const int rows = log->rows();
    if (rows != n + int(stored % BATCH))
        state.SkipWithError("lines were lost");
    log.reset();

    const double seconds = timed / double(stored);
    perLine()[{way, n}] = seconds;
    state.counters["us_per_line"] = seconds * 1e6;
    state.SetItemsProcessed(stored);
    // Against the same way at 1,000 lines, and against the window's mechanism
    // (LogView) in the same setting at this size.
    auto known = [](Way w, long size) { return perLine().count({w, size}) != 0; };
    if (n != 1000 && known(way, 1000))
        state.counters["x_vs_1000_lines"] = seconds / perLine()[{way, 1000}];
    if ((way == LIST_VIEW || way == NAIVE) && known(LOG_VIEW, n))
        state.counters["x_vs_logview"] = seconds / perLine()[{LOG_VIEW, n}];
}

void logLineWindow(benchmark::State &state) {
    storeLine<WindowLog>(state, WINDOW);
}
void logLineLogView(benchmark::State &state) {
    storeLine<LogViewLog>(state, LOG_VIEW);
}
void logLineListView(benchmark::State &state) {
    storeLine<ListViewLog>(state, LIST_VIEW);
}
void logLineNaive(benchmark::State &state) {
    storeLine<NaiveLog>(state, NAIVE);
}

} // namespace

BENCHMARK(pollingTick)->ArgName("telem")->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);
BENCHMARK(pollingTickWithEvents)->ArgName("telem")->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);
BENCHMARK(logLineWindow)->ArgName("lines")->Arg(1000)->Arg(1000000)->Unit(benchmark::kMicrosecond);
BENCHMARK(logLineLogView)->ArgName("lines")->Arg(1000)->Arg(1000000)->Unit(benchmark::kMicrosecond);
BENCHMARK(logLineListView)
    ->ArgName("lines")
    ->Arg(1000)
    ->Arg(1000000)
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(logLineNaive)->ArgName("lines")->Arg(1000)->Arg(1000000)->Unit(benchmark::kMicrosecond);
