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

struct TelemetrySample;

class TelemetryHistory {
public:
    enum Channel { VIN, TEMPERATURE, VOUT_PAGE1, VOUT_PAGE2, VOUT_PAGE3, CHANNELS };
    using Values = std::array<double, CHANNELS>;

    // Power on at this time: the first call fixes the axis origin; the next
    // sample begins a new period.
    void startPeriod(qint64 msecsSinceEpoch);
    void append(qint64 msecsSinceEpoch, const Values &values);

    size_t size() const { return times.size(); }
    qint64 msecs(size_t i) const { return times[i]; }
    double seconds(size_t i) const { return axis[i]; }
    double value(Channel channel, size_t i) const { return series[channel][i]; }
    static Channel outputChannel(int page) { return Channel(VOUT_PAGE1 + page - 1); }
    // Sample i as the CSV rows have it: the time in UTC and the outputs of a
    // chip with this many regulators.
    TelemetrySample sample(size_t i, int regulators) const;
    // The index of each period's first sample, ascending, beginning with 0.
    const std::vector<size_t> &periodStarts() const { return starts; }
    // The end (one past the last sample) of the period that begins at starts[k].
    size_t periodEnd(size_t k) const;

    // The first sample at or after this many seconds.
    size_t lowerBound(double seconds) const;
    // The lowest and highest value of a channel over samples [first, last); an
    // empty range gives {+inf, -inf}. A few look-ups however long the range.
    std::pair<double, double> range(Channel channel, size_t first, size_t last) const;

    // Samples [first, last) of one channel as points (seconds, value), thinned to
    // at most 2 x buckets + 6: the first and the last sample, and of each block
    // of samples (a power of two of them, so that there are at most `buckets`
    // blocks) only the lowest and the highest, in the order they came. A spike
    // survives however far out one looks, and the cost follows the number of
    // blocks, not of samples. buckets < 1: every sample.
    void thinned(Channel channel, size_t first, size_t last, int buckets,
                 QVector<QPointF> &points) const;

private:
    // The samples holding the lowest and the highest value of a stretch.
    struct Extremes {
        quint32 low;
        quint32 high;
    };
    // Blocks of 2^k samples, k from FIRST_LEVEL, aligned to multiples of their
    // size, each with its extremes: kept up to date sample by sample, so the
    // extremes of any stretch take a few look-ups, not a pass over it.
    static constexpr int FIRST_LEVEL = 3;
    Extremes extremes(Channel channel, size_t first, size_t last) const;
    void merge(Channel channel, Extremes &into, const Extremes &other) const;

    std::vector<qint64> times;
    std::vector<double> axis;
    std::array<std::vector<double>, CHANNELS> series;
    std::array<std::vector<std::vector<Extremes>>, CHANNELS> levels;
    std::vector<size_t> starts;
    bool originSet = false;
    bool newPeriod = false;
    qint64 originMs = 0;
};
