// The Prometheus metrics of every board, served over HTTP by prometheus-cpp's
// exposer. Each board's thread sets its own series from its own poll; a scrape
// reads the values last set and never reaches a board.
#pragma once

#include <memory>
#include <string>
#include <vector>

namespace prometheus {
class Counter;
class Exposer;
class Gauge;
class Registry;
template <typename T> class Family;
} // namespace prometheus

namespace server {

class Metrics {
public:
    Metrics();
    ~Metrics();
    Metrics(const Metrics &) = delete;
    Metrics &operator=(const Metrics &) = delete;

    // Serves /metrics at "ADDR:PORT" (port 0: one the system picks). Returns the
    // port; throws a std::string when it cannot listen.
    int serve(const std::string &address);

    std::shared_ptr<prometheus::Registry> registry;
    prometheus::Family<prometheus::Gauge> &up;
    prometheus::Family<prometheus::Gauge> &vin;
    prometheus::Family<prometheus::Gauge> &temperature;
    prometheus::Family<prometheus::Gauge> &vout;
    prometheus::Family<prometheus::Gauge> &status;
    prometheus::Family<prometheus::Counter> &exchanges;
    prometheus::Family<prometheus::Counter> &linkErrors;

private:
    std::unique_ptr<prometheus::Exposer> exposer;
    std::string knockHost; // the host part of the address served
};

// One board's series, labelled node, serial and chip ("none" while no chip is
// identified). A new chip label starts new series; the counters carry on.
class BoardMetrics {
public:
    BoardMetrics(Metrics &metrics, const std::string &node, const std::string &serial);
    ~BoardMetrics();
    BoardMetrics(const BoardMetrics &) = delete;
    BoardMetrics &operator=(const BoardMetrics &) = delete;

    // The chip's model and its status flags' names (VR1.. outputs follow from
    // regulators); an empty model: none identified.
    void setChip(const std::string &chip, int regulators, const std::vector<std::string> &flags);
    void setUp(bool up);
    void setReadings(double vin, double temperature, const std::vector<double> &vout,
                     const std::vector<int> &flagLevels);
    // Readings unknown (not polled yet, or the last poll failed): NaN.
    void clearReadings();
    // The board's totals so far.
    void setCounts(double exchanges, double linkErrors);

private:
    void removeSeries();

    Metrics &metrics;
    std::string node;
    std::string serial;
    prometheus::Gauge *up = nullptr;
    prometheus::Gauge *vin = nullptr;
    prometheus::Gauge *temperature = nullptr;
    std::vector<prometheus::Gauge *> vout;
    std::vector<prometheus::Gauge *> flags;
    prometheus::Counter *exchanges = nullptr;
    prometheus::Counter *linkErrors = nullptr;
    double exchangesSet = 0;
    double linkErrorsSet = 0;
    double upValue = 0;
};

} // namespace server
