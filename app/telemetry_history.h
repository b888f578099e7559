// Every polling tick's readings since the panel started, for the plot and its
// exports: the tick's time and VIN, die temperature and the output voltages of
// pages 1 to 3, kept in powered periods. A power-off ends a period and the next
// power-on starts another on the same time axis, so the plot shows a gap, not a
// new start. Times are milliseconds of the clock (UTC); the axis counts seconds
// from the first power-on.
#pragma once

#include <QPointF>
#include <QVector>
#include <QtGlobal>
#include <array>
#include <vector>

class TelemetryHistory {
public:
    enum Channel { VIN, TEMPERATURE, VOUT_PAGE1, VOUT_PAGE2, VOUT_PAGE3, CHANNELS };
    using Values = std::array<double, CHANNELS>;

    // Power on at this time: the first call fixes the axis origin; the next
    // sample begins a new period.
    void startPeriod(qint64 msecsSinceEpoch);
    void append(qint64 msecsSinceEpoch, const Values &values);

    bool hasOrigin() const { return originSet; }
    qint64 origin() const { return originMs; }
    size_t size() const { return times.size(); }
    qint64 msecs(size_t i) const { return times[i]; }
    double seconds(size_t i) const { return axis[i]; }
    double value(Channel channel, size_t i) const { return series[channel][i]; }
    // The index of each period's first sample, ascending, beginning with 0.
    const std::vector<size_t> &periodStarts() const { return starts; }
    // The end (one past the last sample) of the period that begins at starts[k].
    size_t periodEnd(size_t k) const;

    // The first sample at or after this many seconds.
    size_t lowerBound(double seconds) const;
    // The lowest and highest value of a channel over samples [first, last); an
    // empty range gives {+inf, -inf}.
    std::pair<double, double> range(Channel channel, size_t first, size_t last) const;

    // Samples [first, last) of one channel as points (seconds, value), thinned to
    // at most 2 x buckets + 2: the first and the last sample, and where a bucket
    // of the time span holds more than two samples, only its lowest and highest,
    // in the order they came, so a spike survives however far out one looks.
    // buckets < 1: every sample.
    void thinned(Channel channel, size_t first, size_t last, int buckets,
                 QVector<QPointF> &points) const;

private:
    std::vector<qint64> times;
    std::vector<double> axis;
    std::array<std::vector<double>, CHANNELS> series;
    std::vector<size_t> starts;
    bool originSet = false;
    bool newPeriod = false;
    qint64 originMs = 0;
};
