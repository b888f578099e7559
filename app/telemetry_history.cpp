#include "app/telemetry_history.h"

#include "device/regulator.h"
#include "device/telemetry_format.h"

#include <QDateTime>

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

    // Every block this sample completes, smallest first: each is made of the
    // two halves below it (the first level of the samples themselves).
    const size_t n = times.size();
    for (int c = 0; c < CHANNELS; ++c) {
        auto &channelLevels = levels[size_t(c)];
        for (int k = FIRST_LEVEL; n % (size_t(1) << k) == 0; ++k) {
            const size_t level = size_t(k - FIRST_LEVEL);
            const size_t block = (n >> k) - 1;
            Extremes e{};
            if (level == 0) {
                e = {quint32(block << k), quint32(block << k)};
                for (size_t i = (block << k) + 1; i < n; ++i)
                    merge(Channel(c), e, {quint32(i), quint32(i)});
            } else {
                e = channelLevels[level - 1][2 * block];
                merge(Channel(c), e, channelLevels[level - 1][2 * block + 1]);
            }
            if (channelLevels.size() <= level)
                channelLevels.emplace_back();
            channelLevels[level].push_back(e);
        }
    }
}

void TelemetryHistory::merge(Channel channel, Extremes &into, const Extremes &other) const {
    const std::vector<double> &values = series[channel];
    if (values[other.low] < values[into.low])
        into.low = other.low;
    if (values[other.high] > values[into.high])
        into.high = other.high;
}

TelemetryHistory::Extremes TelemetryHistory::extremes(Channel channel, size_t first,
                                                      size_t last) const {
    const auto &channelLevels = levels[channel];
    Extremes e{quint32(first), quint32(first)};
    size_t i = first;
    while (i < last) {
        // The largest block that starts here and ends in the stretch: it ends
        // at or before the newest sample, so it is complete and stored.
        int k = FIRST_LEVEL - 1;
        while (i % (size_t(1) << (k + 1)) == 0 && i + (size_t(1) << (k + 1)) <= last)
            ++k;
        if (k < FIRST_LEVEL) {
            merge(channel, e, {quint32(i), quint32(i)});
            ++i;
        } else {
            merge(channel, e, channelLevels[size_t(k - FIRST_LEVEL)][i >> k]);
            i += size_t(1) << k;
        }
    }
    return e;
}

size_t TelemetryHistory::periodEnd(size_t k) const {
    return k + 1 < starts.size() ? starts[k + 1] : times.size();
}

size_t TelemetryHistory::lowerBound(double seconds) const {
    return size_t(std::lower_bound(axis.begin(), axis.end(), seconds) - axis.begin());
}

std::pair<double, double> TelemetryHistory::range(Channel channel, size_t first,
                                                  size_t last) const {
    last = std::min(last, times.size());
    if (first >= last) {
        const double infinity = std::numeric_limits<double>::infinity();
        return {infinity, -infinity};
    }
    const Extremes e = extremes(channel, first, last);
    return {series[channel][e.low], series[channel][e.high]};
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
    size_t block = 2;
    while ((last - first) / block >= size_t(buckets))
        block *= 2;
    // The first and the last sample always, so the line reaches both ends.
    size_t shown = first;
    points.append(QPointF(axis[first], values[first]));
    auto keep = [&](size_t k) {
        if (k > shown) {
            points.append(QPointF(axis[k], values[k]));
            shown = k;
        }
    };
    for (size_t i = first; i < last;) {
        const size_t end = std::min(last, (i / block + 1) * block);
        const Extremes e = extremes(channel, i, end);
        keep(std::min(e.low, e.high));
        keep(std::max(e.low, e.high));
        i = end;
    }
    keep(last - 1);
}

TelemetrySample TelemetryHistory::sample(size_t i, int regulators) const {
    TelemetrySample sample;
    sample.time =
        QDateTime::fromMSecsSinceEpoch(times[i], Qt::UTC).toString(Qt::ISODateWithMs).toStdString();
    sample.vin = series[VIN][i];
    sample.temperature = series[TEMPERATURE][i];
    for (int page : regulator::populatedPages(regulators))
        sample.vout.push_back(series[outputChannel(page)][i]);
    return sample;
}
