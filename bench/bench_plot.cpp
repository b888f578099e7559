// The telemetry plot's software time (qm44xx-bench-plot):
//  - plotUpdate/points:N: the plot window (900 x 520, span "All", a QM4434's
//    five curves) holding N samples per series. One iteration is one polling
//    tick's update: a sample appended to the history, the plot told, and the
//    event loop's work until the plot has repainted. Every 100 iterations the
//    history is made again with N samples, untimed, so a run measures N to
//    N + 99 samples throughout.
//  - plotUpdateQwtPlain/points:N: the same update on a plain QwtPlot (800 x 450)
//    whose five QwtPlotCurves read their points from growing arrays, every point
//    drawn: what the library costs used as its examples use it, against which
//    plotUpdate's thinning is measured. (Qt Charts, measured the same way before
//    Qwt was chosen, is in app/README.md.)
//  - pollingTickPlotRecording: MainWindow::timerLoop on the powered window
//    (QM4434, three outputs on) with the bench menus attached, the plot shown
//    (span "1 h") and recording to a file; alone, and followed by the event
//    loop's work it causes (the plot's redraw, the displays). The menus' clock
//    moves 250 ms per sample, so the plot's hour holds at most 14,400 of them.
#include "app/bench_menus.h"
#include "app/telemetry_history.h"
#include "app/telemetry_plot.h"
#include "app/telemetry_recorder.h"
#include "bench_support.h"
#include "tests/support/simulated_panel.h"

#include <QAction>
#include <QComboBox>
#include <QEvent>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>
#include <cmath>
#include <map>

#include <qwt_plot.h>
#include <qwt_plot_curve.h>
#include <qwt_series_data.h>

namespace {

constexpr int BATCH = 100;
const qint64 T0 = 1772443800000; // any UTC time

// Counts the paints of a widget's children.
class PaintCounter : public QObject {
public:
    long paints = 0;
    bool eventFilter(QObject *, QEvent *event) override {
        if (event->type() == QEvent::Paint)
            ++paints;
        return false;
    }
};

// A reading with steps and a ripple, so neighbouring samples differ.
TelemetryHistory::Values reading(long i) {
    const double ripple = 0.002 * std::sin(double(i) * 0.7);
    const double step = ((i / 900) % 2) * 0.1;
    return {1.8 + ripple, 31.76 + 10 * ripple, 0.75 + step + ripple, 0.9 + ripple,
            0.6 - step + ripple};
}

void fill(TelemetryHistory &history, long n) {
    history = TelemetryHistory();
    history.startPeriod(T0);
    for (long i = 0; i < n; ++i)
        history.append(T0 + 250 * (i + 1), reading(i));
}

std::map<long, double> &perTick() {
    static std::map<long, double> seconds;
    return seconds;
}

void plotUpdate(benchmark::State &state) {
    const long n = long(state.range(0));
    TelemetryHistory history;
    TelemetryPlot plot(history);
    plot.setRegulatorCount(3);
    plot.findChild<QComboBox *>(QStringLiteral("span"))->setCurrentIndex(3); // All
    PaintCounter counter;
    for (QWidget *child : plot.findChildren<QWidget *>())
        child->installEventFilter(&counter);
    fill(history, n);
    plot.show();
    runEventLoop();

    long ticks = 0;
    const long paintsBefore = counter.paints;
    double timed = 0;
    double started = cpuSeconds();
    for (auto _ : state) {
        history.append(T0 + 250 * (history.size() + 1), reading(long(history.size())));
        plot.sampleAdded();
        runEventLoop();
        if (++ticks % BATCH == 0) {
            timed += cpuSeconds() - started;
            state.PauseTiming();
            fill(history, n);
            plot.refresh();
            runEventLoop();
            state.ResumeTiming();
            started = cpuSeconds();
        }
    }
    timed += cpuSeconds() - started;
    if (counter.paints == paintsBefore)
        state.SkipWithError("the plot was never repainted");
    const double seconds = timed / double(ticks);
    perTick()[n] = seconds;
    state.counters["us_per_tick"] = seconds * 1e6;
    if (n != 100 && perTick().count(100))
        state.counters["x_vs_100_points"] = seconds / perTick()[100];
}

// ---- the plain Qwt curve --------------------------------------------------------

// A series that grows in place: the curve reads the points through it, nothing
// is copied per tick.
class GrowingData : public QwtSeriesData<QPointF> {
public:
    QVector<QPointF> points;
    size_t size() const override { return size_t(points.size()); }
    QPointF sample(size_t i) const override { return points[int(i)]; }
    QRectF boundingRect() const override { return QRectF(); }
};

void plotUpdateQwtPlain(benchmark::State &state) {
    const int n = int(state.range(0));
    QwtPlot plot;
    plot.resize(800, 450);
    plot.setAutoReplot(false);
    plot.enableAxis(QwtPlot::yRight);
    std::array<GrowingData *, TelemetryHistory::CHANNELS> data{};
    for (int s = 0; s < TelemetryHistory::CHANNELS; ++s) {
        auto *curve = new QwtPlotCurve();
        data[size_t(s)] = new GrowingData();
        curve->setData(data[size_t(s)]); // the curve owns it
        curve->setPen(QColor::fromHsv(s * 60, 200, 200), 1.0);
        curve->setAxes(QwtPlot::xBottom, s == 1 ? QwtPlot::yRight : QwtPlot::yLeft);
        curve->attach(&plot); // the plot owns it
    }
    plot.setAxisScale(QwtPlot::yLeft, 0.0, 2.0);
    plot.setAxisScale(QwtPlot::yRight, 20.0, 40.0);
    PaintCounter counter;
    for (QWidget *child : plot.findChildren<QWidget *>())
        child->installEventFilter(&counter);
    long next = 0;
    auto add = [&] {
        const TelemetryHistory::Values v = reading(next);
        for (size_t s = 0; s < data.size(); ++s)
            data[s]->points.append(QPointF(0.25 * double(next + 1), v[s]));
        ++next;
    };
    auto show = [&] {
        plot.setAxisScale(QwtPlot::xBottom, 0.0, 0.25 * double(next));
        plot.replot();
    };
    for (int i = 0; i < n; ++i)
        add();
    plot.show();
    show();
    runEventLoop();
    const long paintsBefore = counter.paints;
    long ticks = 0;
    for (auto _ : state) {
        add();
        show();
        runEventLoop();
        if (++ticks % BATCH == 0) {
            state.PauseTiming();
            for (GrowingData *d : data)
                d->points.resize(n);
            next = n;
            show();
            runEventLoop();
            state.ResumeTiming();
        }
    }
    if (counter.paints == paintsBefore)
        state.SkipWithError("the plot was never repainted");
}

// ---- the polling tick -------------------------------------------------------------

// The powered window with the bench menus, the plot shown and recording on;
// made once and kept for both runs, until the benchmarks end.
struct BenchSetup {
    QTemporaryDir dir;
    qint64 now = T0;
    BenchMenus *menus = nullptr;
    PoweredWindow window{[this](MainWindow &w) {
        Clock clock;
        clock.now = [this] { return QDateTime::fromMSecsSinceEpoch(now += 250, Qt::UTC); };
        clock.sleep = [](long) {};
        menus = new BenchMenus(&w, clock);
    }};

    BenchSetup() {
        window->findChild<QAction *>(QStringLiteral("actionTelemetryPlot"))->trigger();
        menus->plot()->findChild<QComboBox *>(QStringLiteral("span"))->setCurrentIndex(2);
        const QString problem = menus->startRecording(dir.filePath("bench.csv"));
        if (!problem.isEmpty())
            throw std::runtime_error(problem.toStdString());
        PoweredWindow::settle();
    }
};

BenchSetup &setup() {
    static BenchSetup *s = [] {
        auto *made = new BenchSetup();
        atBenchmarksEnd([made] { delete made; });
        return made;
    }();
    return *s;
}

void tickWithPlotAndRecording(benchmark::State &state, bool withEvents) {
    BenchSetup &s = setup();
    for (int t = 0; t < 8; ++t) // the means, the caches, the first redraw
        s.window->timerLoop();
    runEventLoop();
    const long rowsBefore = s.menus->recorder()->rows();
    for (auto _ : state) {
        s.window->timerLoop();
        if (withEvents)
            runEventLoop();
    }
    const long rows = s.menus->recorder()->rows() - rowsBefore;
    if (!s.menus->recorder()->recording() || rows != long(state.iterations()))
        state.SkipWithError("not every tick was recorded");
    state.counters["samples"] = double(s.menus->history().size());
}

void pollingTickPlotRecording(benchmark::State &state) {
    tickWithPlotAndRecording(state, false);
}
void pollingTickPlotRecordingWithEvents(benchmark::State &state) {
    tickWithPlotAndRecording(state, true);
}

} // namespace

BENCHMARK(plotUpdate)->ArgName("points")->Arg(100)->Arg(14400)->Unit(benchmark::kMicrosecond);
BENCHMARK(plotUpdateQwtPlain)
    ->ArgName("points")
    ->Arg(100)
    ->Arg(14400)
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(pollingTickPlotRecording)->Unit(benchmark::kMicrosecond);
BENCHMARK(pollingTickPlotRecordingWithEvents)->Unit(benchmark::kMicrosecond);
