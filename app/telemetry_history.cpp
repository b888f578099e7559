#include "app/telemetry_history.h"

#include <algorithm>
#include <limits>

void TelemetryHistory::startPeriod(qint64 msecsSinceEpoch) {
    if (!originSet) {
        originSet = true;
        originMs = msecsSinceEpoch;
    }
    newPeriod = true;
}

void TelemetryHistory::append(qint64 msecsSinceEpoch, const Values &values) {
    if (!originSet)
        startPeriod(msecsSinceEpoch);
    if (newPeriod || starts.empty())
        starts.push_back(times.size());
    newPeriod = false;
    times.push_back(msecsSinceEpoch);
    axis.push_back(double(msecsSinceEpoch - originMs) / 1000.0);
    for (int c = 0; c < CHANNELS; ++c)
        series[size_t(c)].push_back(values[size_t(c)]);
}

size_t TelemetryHistory::periodEnd(size_t k) const {
    return k + 1 < starts.size() ? starts[k + 1] : times.size();
}

size_t TelemetryHistory::lowerBound(double seconds) const {
    return size_t(std::lower_bound(axis.begin(), axis.end(), seconds) - axis.begin());
}

std::pair<double, double> TelemetryHistory::range(Channel channel, size_t first,
                                                  size_t last) const {
    double low = std::numeric_limits<double>::infinity();
    double high = -low;
    const std::vector<double> &values = series[channel];
    for (size_t i = first; i < last && i < values.size(); ++i) {
        low = std::min(low, values[i]);
        high = std::max(high, values[i]);
    }
    return {low, high};
}

void TelemetryHistory::thinned(Channel channel, size_t first, size_t last, int buckets,
                               QVector<QPointF> &points) const {
    points.clear();
    last = std::min(last, times.size());
    if (first >= last)
        return;
    const std::vector<double> &values = series[channel];
    if (buckets < 1 || last - first <= size_t(2 * buckets)) {
        for (size_t i = first; i < last; ++i)
            points.append(QPointF(axis[i], values[i]));
        return;
    }
    const double start = axis[first];
    const double width = std::max(axis[last - 1] - start, 1e-9) / buckets;
    // The first and the last sample always, so the line reaches both ends.
    size_t shown = first;
    points.append(QPointF(axis[first], values[first]));
    auto keep = [&](size_t k) {
        if (k > shown) {
            points.append(QPointF(axis[k], values[k]));
            shown = k;
        }
    };
    size_t i = first;
    while (i < last) {
        // One bucket: the samples up to the bucket's end time.
        const int bucket = std::min(buckets - 1, int((axis[i] - start) / width));
        const double end = start + width * (bucket + 1);
        size_t low = i, high = i, j = i;
        for (; j < last && (axis[j] < end || bucket == buckets - 1); ++j) {
            if (values[j] < values[low])
                low = j;
            if (values[j] > values[high])
                high = j;
        }
        if (j == i) // rounding put the sample past its own bucket's end
            j = i + 1;
        keep(std::min(low, high));
        keep(std::max(low, high));
        i = j;
    }
    keep(last - 1);
}
