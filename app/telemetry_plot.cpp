#include "app/telemetry_plot.h"

#include "app/file_choice.h"
#include "app/telemetry_history.h"
#include "device/regulator.h"
#include "device/telemetry_format.h"

#include <QComboBox>
#include <QDateTime>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QSaveFile>
#include <QSettings>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>

#include <qwt_legend.h>
#include <qwt_plot.h>
#include <qwt_plot_curve.h>
#include <qwt_plot_grid.h>
#include <qwt_scale_engine.h>
#include <qwt_scale_map.h>

namespace {

const QString TITLE = QStringLiteral("Telemetry plot");

// A curve drawn straight from the history, one polyline per powered period (the
// gaps stay gaps), thinned to about two points per pixel column of the canvas:
// an hour of samples costs a redraw what a minute does.
class HistoryCurve : public QwtPlotCurve {
public:
    HistoryCurve(const QString &title, const TelemetryHistory &history,
                 TelemetryHistory::Channel channel)
        : QwtPlotCurve(title), history(history), channel(channel) {
        setItemAttribute(QwtPlotItem::AutoScale, false);
        setLegendAttribute(QwtPlotCurve::LegendShowLine, true);
    }

    void setChannel(TelemetryHistory::Channel newChannel) { channel = newChannel; }

    // The samples between x0 and x1 seconds, one polyline per powered period,
    // with one sample beyond each edge so the line runs out of the canvas. With
    // a map, each polyline is thinned to about two points per pixel column.
    QVector<QVector<QPointF>> polylines(double x0, double x1,
                                        const QwtScaleMap *xMap = nullptr) const {
        QVector<QVector<QPointF>> lines;
        const std::vector<size_t> &starts = history.periodStarts();
        const size_t from = history.lowerBound(x0), to = history.lowerBound(x1) + 1;
        for (size_t k = 0; k < starts.size(); ++k) {
            const size_t begin = starts[k], end = history.periodEnd(k);
            size_t first = std::max(begin, from);
            if (first > begin)
                --first;
            const size_t last = std::min(end, to);
            if (first >= last)
                continue;
            int buckets = 0; // none: every sample
            if (xMap)
                buckets = std::max(1, int(std::fabs(xMap->transform(history.seconds(last - 1)) -
                                                    xMap->transform(history.seconds(first)))));
            lines.append(QVector<QPointF>());
            history.thinned(channel, first, last, buckets, lines.last());
        }
        return lines;
    }

    void drawSeries(QPainter *painter, const QwtScaleMap &xMap, const QwtScaleMap &yMap,
                    const QRectF &, int, int) const override {
        painter->save();
        painter->setPen(pen());
        painter->setRenderHint(QPainter::Antialiasing, testRenderHint(RenderAntialiased));
        for (QVector<QPointF> &points :
             polylines(std::min(xMap.s1(), xMap.s2()), std::max(xMap.s1(), xMap.s2()), &xMap)) {
            for (QPointF &p : points)
                p = QPointF(xMap.transform(p.x()), yMap.transform(p.y()));
            if (points.size() == 1)
                painter->drawPoint(points[0]);
            else
                painter->drawPolyline(points.constData(), points.size());
        }
        painter->restore();
    }

private:
    const TelemetryHistory &history;
    TelemetryHistory::Channel channel;
};

// Bounds that show every value with a little room, widened to round steps.
void setNiceScale(QwtPlot *plot, int axis, std::pair<double, double> range, double least) {
    double low = range.first, high = range.second;
    if (!(low <= high)) { // nothing to show yet
        low = 0;
        high = least;
    }
    if (high - low < least) {
        const double middle = (low + high) / 2;
        low = middle - least / 2;
        high = middle + least / 2;
    }
    const double room = (high - low) * 0.05;
    // Readings are not negative: no room below zero.
    low = low >= 0 ? std::max(0.0, low - room) : low - room;
    high += room;
    double step = 0;
    QwtLinearScaleEngine().autoScale(8, low, high, step);
    plot->setAxisScale(axis, low, high, step);
}

} // namespace

namespace {
const QString SPAN_KEY = QStringLiteral("plot/span");
} // namespace

TelemetryPlot::TelemetryPlot(const TelemetryHistory &samples, QWidget *parent)
    : QWidget(parent, Qt::Window), history(samples) {
    setWindowTitle(TITLE);
    setObjectName(QStringLiteral("telemetryPlot"));

    span = new QComboBox(this);
    span->setObjectName(QStringLiteral("span"));
    span->addItems({tr("1 min"), tr("10 min"), tr("1 h"), tr("All")});
    // The span chosen last time, 10 min at first.
    const int remembered = QSettings().value(SPAN_KEY, 1).toInt();
    span->setCurrentIndex(remembered >= 0 && remembered < span->count() ? remembered : 1);
    pause = new QPushButton(tr("Pause"), this);
    pause->setObjectName(QStringLiteral("pause"));
    pause->setCheckable(true);
    auto *png = new QPushButton(tr("Export PNG..."), this);
    png->setObjectName(QStringLiteral("exportPng"));
    auto *csv = new QPushButton(tr("Export CSV..."), this);
    csv->setObjectName(QStringLiteral("exportCsv"));

    auto *bar = new QHBoxLayout();
    bar->addWidget(new QLabel(tr("Span"), this));
    bar->addWidget(span);
    bar->addWidget(pause);
    bar->addStretch(1);
    bar->addWidget(png);
    bar->addWidget(csv);

    plotWidget = new QwtPlot(this);
    plotWidget->setObjectName(QStringLiteral("plot"));
    plotWidget->setAutoReplot(false);
    plotWidget->setCanvasBackground(Qt::white);
    plotWidget->enableAxis(QwtPlot::yRight);
    plotWidget->setAxisTitle(QwtPlot::xBottom, tr("Time since power-on [s]"));
    plotWidget->setAxisTitle(QwtPlot::yLeft, tr("Voltage [V]"));
    plotWidget->setAxisTitle(QwtPlot::yRight, tr("Die temperature [°C]"));
    plotWidget->insertLegend(new QwtLegend(), QwtPlot::BottomLegend);
    auto *grid = new QwtPlotGrid();
    grid->setMajorPen(QColor(220, 220, 220), 0.0, Qt::DotLine);
    grid->attach(plotWidget);

    const std::array<QString, 5> names = {tr("VIN"), tr("Die temperature"), tr("VR1"), tr("VR2"),
                                          tr("VR3")};
    const std::array<QColor, 5> colours = {QColor(30, 60, 200), QColor(200, 40, 40),
                                           QColor(20, 140, 60), QColor(230, 130, 0),
                                           QColor(140, 50, 170)};
    for (size_t i = 0; i < curves.size(); ++i) {
        // Outputs are channels by page; setRegulatorCount picks the pages.
        const auto channel = TelemetryHistory::Channel(i);
        curves[i] = new HistoryCurve(names[i], history, channel);
        curves[i]->setPen(colours[i], 1.0);
        curves[i]->setYAxis(i == 1 ? QwtPlot::yRight : QwtPlot::yLeft);
        curves[i]->attach(plotWidget); // the plot owns it
    }
    setRegulatorCount(0);

    auto *layout = new QVBoxLayout(this);
    layout->addLayout(bar);
    layout->addWidget(plotWidget, 1);
    resize(900, 520);

    connect(span, QOverload<int>::of(&QComboBox::currentIndexChanged), this, [this](int index) {
        QSettings().setValue(SPAN_KEY, index);
        refresh();
    });
    connect(pause, &QPushButton::toggled, this, [this](bool paused) {
        if (paused)
            frozenEnd = history.size() ? history.seconds(history.size() - 1) : 0.0;
        refresh();
    });
    connect(png, &QPushButton::clicked, this, &TelemetryPlot::askExportPng);
    connect(csv, &QPushButton::clicked, this, &TelemetryPlot::askExportCsv);
}

void TelemetryPlot::setRegulatorCount(int count) {
    regulators = count;
    for (int vr = 1; vr <= 3; ++vr) {
        auto *c = static_cast<HistoryCurve *>(curves[size_t(1 + vr)]);
        const int page = regulator::pageOf(vr, count);
        if (page != 0)
            c->setChannel(TelemetryHistory::outputChannel(page));
        c->setVisible(page != 0);
        c->setItemAttribute(QwtPlotItem::Legend, page != 0);
    }
    refresh();
}

QPair<double, double> TelemetryPlot::interval() const {
    const double end = pause->isChecked() ? frozenEnd
                       : history.size()   ? history.seconds(history.size() - 1)
                                          : 0.0;
    const int seconds = SPANS[size_t(std::max(0, span->currentIndex()))];
    if (seconds == 0)
        return {0.0, std::max(end, 1.0)};
    // The first span fills from the left; after that the view moves with time.
    return {std::max(0.0, end - seconds), std::max(end, double(seconds))};
}

QVector<QVector<QPointF>> TelemetryPlot::series(int index) const {
    const QPair<double, double> shown = shownInterval();
    return static_cast<const HistoryCurve *>(curves[size_t(index)])
        ->polylines(shown.first, shown.second);
}

QPair<double, double> TelemetryPlot::shownInterval() const {
    const QwtScaleDiv &div = plotWidget->axisScaleDiv(QwtPlot::xBottom);
    return {div.lowerBound(), div.upperBound()};
}

void TelemetryPlot::refresh() {
    refreshPending = false;
    const QPair<double, double> shown = interval();
    plotWidget->setAxisScale(QwtPlot::xBottom, shown.first, shown.second);

    const size_t first = history.lowerBound(shown.first);
    const size_t last = history.lowerBound(std::nextafter(shown.second, 1e300));
    std::pair<double, double> volts = history.range(TelemetryHistory::VIN, first, last);
    for (int vr = 1; vr <= regulators && vr <= 3; ++vr) {
        const std::pair<double, double> output = history.range(
            TelemetryHistory::outputChannel(regulator::pageOf(vr, regulators)), first, last);
        volts = {std::min(volts.first, output.first), std::max(volts.second, output.second)};
    }
    setNiceScale(plotWidget, QwtPlot::yLeft, volts, 0.1);
    setNiceScale(plotWidget, QwtPlot::yRight,
                 history.range(TelemetryHistory::TEMPERATURE, first, last), 2.0);
    plotWidget->replot();
}

void TelemetryPlot::sampleAdded() {
    // Redrawn once the event loop runs, not inside the tick: the poll stays as
    // quick as it was, and samples that arrive together cost one redraw.
    if (!isVisible() || pause->isChecked() || refreshPending)
        return;
    refreshPending = true;
    QMetaObject::invokeMethod(this, &TelemetryPlot::refresh, Qt::QueuedConnection);
}

void TelemetryPlot::showEvent(QShowEvent *event) {
    refresh();
    QWidget::showEvent(event);
}

QString TelemetryPlot::exportPng(const QString &path) {
    const QString special = specialFileRefusal(path);
    if (!special.isEmpty())
        return special;
    const QImage image = plotWidget->grab().toImage();
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || !image.save(&file, "PNG") || !file.commit())
        return tr("cannot write %1: %2").arg(path, file.errorString());
    return QString();
}

QString TelemetryPlot::exportCsv(const QString &path) const {
    const QString special = specialFileRefusal(path);
    if (!special.isEmpty())
        return special;
    const QPair<double, double> shown = shownInterval();
    std::string text = telemetryCsvHeader(regulators) + "\n";
    const size_t last = history.lowerBound(std::nextafter(shown.second, 1e300));
    for (size_t i = history.lowerBound(shown.first); i < last; ++i) {
        text += telemetryCsvRow(history.sample(i, regulators)) + "\n";
    }
    return saveWholeFile(path, QByteArray::fromStdString(text));
}

void TelemetryPlot::askExportPng() {
    chooseFile(this, FileChoice::Save, tr("Export PNG"), tr("PNG images (*.png)"),
               QStringLiteral("export"), [this](const QString &path) { return exportPng(path); });
}

void TelemetryPlot::askExportCsv() {
    chooseFile(this, FileChoice::Save, tr("Export CSV"), tr("CSV files (*.csv)"),
               QStringLiteral("export"), [this](const QString &path) { return exportCsv(path); });
}
