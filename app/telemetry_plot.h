// The telemetry plot window (View > Telemetry plot): VIN and each populated
// output on a voltage axis, the die temperature on an axis of its own, over the
// seconds since the first power-on, from the samples the polling tick has
// already taken. A span to show (1 min, 10 min, 1 h, all), a pause that freezes
// the view while samples keep coming, and exports of what is shown as PNG and as
// the telemetry CSV.
#pragma once

#include <QPair>
#include <QPointF>
#include <QVector>
#include <QWidget>
#include <array>

class QComboBox;
class QPushButton;
class QwtPlot;
class QwtPlotCurve;
class TelemetryHistory;

class TelemetryPlot : public QWidget {
    Q_OBJECT
public:
    explicit TelemetryPlot(const TelemetryHistory &history, QWidget *parent = nullptr);

    // The chip's regulators decide which outputs are drawn and what they are
    // called (VR2 is page 3 on a two-regulator chip).
    void setRegulatorCount(int count);

    // The spans offered, in seconds; 0 is everything.
    static constexpr std::array<int, 4> SPANS = {60, 600, 3600, 0};

    // The time axis shown, in seconds since the first power-on.
    QPair<double, double> shownInterval() const;
    // The curves: VIN, die temperature, VR1, VR2, VR3.
    QwtPlotCurve *curve(int index) const { return curves[size_t(index)]; }
    // What a curve holds in the time shown, one line per powered period, in
    // seconds and volts or degrees, every sample (the drawing thins them).
    QVector<QVector<QPointF>> series(int index) const;
    QwtPlot *plot() const { return plotWidget; }

    // Write what is shown; "" on success, else why not.
    QString exportPng(const QString &path);
    QString exportCsv(const QString &path) const;

public Q_SLOTS:
    // The history grew by one sample: follow it, unless paused or hidden, when
    // the event loop next runs.
    void sampleAdded();
    // Everything again: the axes from the history and a repaint.
    void refresh();

protected:
    void showEvent(QShowEvent *event) override;

private:
    void askExportPng();
    void askExportCsv();
    // The time axis to show: following the latest sample, or frozen while paused.
    QPair<double, double> interval() const;

    const TelemetryHistory &history;
    QwtPlot *plotWidget = nullptr;
    std::array<QwtPlotCurve *, 5> curves{};
    QComboBox *span = nullptr;
    QPushButton *pause = nullptr;
    int regulators = 0;
    double frozenEnd = 0; // the latest time shown when pause was pressed
    bool refreshPending = false;
};
