// The two plotting libraries side by side, each used the way its documentation
// suggests for a growing time series: five series (VIN, die temperature on an
// axis of its own, three outputs) of N points each in an 800 x 450 widget, shown
// on the offscreen platform. One iteration is one polling tick's update: a point
// appended to each series, the time axis moved to show everything, and the event
// loop's work until the widget has repainted. Every 100 ticks the series are cut
// back to N points, untimed, so a run measures N to N + 99 points throughout.
#include <QCoreApplication>
#include <QEvent>
#include <QVector>
#include <QWidget>
#include <benchmark/benchmark.h>
#include <cmath>
#include <memory>

#include <qwt_plot.h>
#include <qwt_plot_curve.h>
#include <qwt_series_data.h>

#include <QtCharts/QChart>
#include <QtCharts/QChartView>
#include <QtCharts/QLineSeries>
#include <QtCharts/QValueAxis>

namespace {

constexpr int SERIES = 5;
constexpr int BATCH = 100;

double value(int series, long i) {
    // Steps and a little ripple, so that no two neighbouring points coincide.
    const double base = series == 1 ? 30.0 : 0.5 + 0.25 * series;
    return base + 0.01 * std::sin(double(i) * 0.7) + ((i / 900) % 2) * 0.1;
}

double seconds(long i) {
    return double(i) * 0.25;
}

// Counts the paints a widget and its children receive.
class PaintCounter : public QObject {
public:
    long paints = 0;
    bool eventFilter(QObject *, QEvent *event) override {
        if (event->type() == QEvent::Paint)
            ++paints;
        return false;
    }
    void watch(QWidget *root) {
        root->installEventFilter(this);
        for (QWidget *child : root->findChildren<QWidget *>())
            child->installEventFilter(this);
    }
};

void runEventLoop() {
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();
}

// ---- Qwt ------------------------------------------------------------------------

// A series that grows in place: QwtPlotCurve reads the points through it, nothing
// is copied per tick.
class GrowingData : public QwtSeriesData<QPointF> {
public:
    QVector<QPointF> points;
    QRectF bounds;
    size_t size() const override { return size_t(points.size()); }
    QPointF sample(size_t i) const override { return points[int(i)]; }
    QRectF boundingRect() const override { return bounds; }
};

class QwtFixture {
public:
    QwtFixture() {
        plot.resize(800, 450);
        plot.setAutoReplot(false);
        plot.enableAxis(QwtPlot::yRight);
        for (int s = 0; s < SERIES; ++s) {
            auto *curve = new QwtPlotCurve();
            data[s] = new GrowingData();
            curve->setData(data[s]); // the curve owns it
            curve->setPen(QColor::fromHsv(s * 60, 200, 200), 1.0);
            curve->setAxes(QwtPlot::xBottom, s == 1 ? QwtPlot::yRight : QwtPlot::yLeft);
            curve->attach(&plot);
        }
        plot.setAxisScale(QwtPlot::yLeft, 0.0, 2.0);
        plot.setAxisScale(QwtPlot::yRight, 20.0, 40.0);
        plot.show();
        counter.watch(&plot);
    }
    void fill(int n) {
        for (int s = 0; s < SERIES; ++s) {
            data[s]->points.clear();
            for (long i = 0; i < n; ++i)
                data[s]->points.append(QPointF(seconds(i), value(s, i)));
        }
        next = n;
        show();
    }
    void tick() {
        for (int s = 0; s < SERIES; ++s)
            data[s]->points.append(QPointF(seconds(next), value(s, next)));
        ++next;
        show();
    }
    void trim(int n) {
        for (int s = 0; s < SERIES; ++s)
            data[s]->points.resize(n);
        next = n;
    }
    long paints() const { return counter.paints; }

private:
    void show() {
        plot.setAxisScale(QwtPlot::xBottom, 0.0, seconds(next));
        plot.replot();
    }
    QwtPlot plot;
    GrowingData *data[SERIES] = {};
    PaintCounter counter;
    long next = 0;
};

// ---- Qt Charts --------------------------------------------------------------------

class ChartsFixture {
public:
    ChartsFixture() {
        QtCharts::QChart *chart = view.chart();
        chart->legend()->hide();
        chart->setAnimationOptions(QtCharts::QChart::NoAnimation);
        time = new QtCharts::QValueAxis();
        volts = new QtCharts::QValueAxis();
        celsius = new QtCharts::QValueAxis();
        chart->addAxis(time, Qt::AlignBottom);
        chart->addAxis(volts, Qt::AlignLeft);
        chart->addAxis(celsius, Qt::AlignRight);
        volts->setRange(0.0, 2.0);
        celsius->setRange(20.0, 40.0);
        for (int s = 0; s < SERIES; ++s) {
            series[s] = new QtCharts::QLineSeries();
            chart->addSeries(series[s]); // the chart owns it
            series[s]->attachAxis(time);
            series[s]->attachAxis(s == 1 ? celsius : volts);
        }
        view.resize(800, 450);
        view.show();
        counter.watch(&view);
    }
    void fill(int n) {
        for (int s = 0; s < SERIES; ++s) {
            QVector<QPointF> points;
            for (long i = 0; i < n; ++i)
                points.append(QPointF(seconds(i), value(s, i)));
            series[s]->replace(points);
        }
        next = n;
        time->setRange(0.0, seconds(next));
    }
    void tick() {
        for (int s = 0; s < SERIES; ++s)
            series[s]->append(seconds(next), value(s, next));
        ++next;
        time->setRange(0.0, seconds(next));
    }
    void trim(int n) {
        for (int s = 0; s < SERIES; ++s)
            series[s]->removePoints(n, series[s]->count() - n);
        next = n;
    }
    long paints() const { return counter.paints; }

private:
    QtCharts::QChartView view;
    QtCharts::QLineSeries *series[SERIES] = {};
    QtCharts::QValueAxis *time = nullptr;
    QtCharts::QValueAxis *volts = nullptr;
    QtCharts::QValueAxis *celsius = nullptr;
    PaintCounter counter;
    long next = 0;
};

template <typename Fixture> void plotTick(benchmark::State &state) {
    auto fixture = std::make_unique<Fixture>();
    const int n = int(state.range(0));
    fixture->fill(n);
    runEventLoop();
    const long paintsBefore = fixture->paints();
    long ticks = 0;
    for (auto _ : state) {
        fixture->tick();
        runEventLoop();
        if (++ticks % BATCH == 0) {
            state.PauseTiming();
            fixture->trim(n);
            runEventLoop();
            state.ResumeTiming();
        }
    }
    if (fixture->paints() == paintsBefore)
        state.SkipWithError("the widget was never repainted");
    state.counters["points_per_series"] = n;
}

void plotTickQwt(benchmark::State &state) {
    plotTick<QwtFixture>(state);
}
void plotTickQtCharts(benchmark::State &state) {
    plotTick<ChartsFixture>(state);
}

} // namespace

BENCHMARK(plotTickQwt)->ArgName("points")->Arg(100)->Arg(14400)->Unit(benchmark::kMicrosecond);
BENCHMARK(plotTickQtCharts)->ArgName("points")->Arg(100)->Arg(14400)->Unit(benchmark::kMicrosecond);
