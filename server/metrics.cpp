#include "server/metrics.h"

#include <prometheus/counter.h>
#include <prometheus/exposer.h>
#include <prometheus/family.h>
#include <prometheus/gauge.h>
#include <prometheus/registry.h>

#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <exception>
#include <limits>
#include <netinet/in.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace server {

namespace {
prometheus::Family<prometheus::Gauge> &gauge(prometheus::Registry &registry, const char *name,
                                             const char *help) {
    return prometheus::BuildGauge().Name(name).Help(help).Register(registry);
}
prometheus::Family<prometheus::Counter> &counter(prometheus::Registry &registry, const char *name,
                                                 const char *help) {
    return prometheus::BuildCounter().Name(name).Help(help).Register(registry);
}
const double UNKNOWN = std::numeric_limits<double>::quiet_NaN();

// Opens and closes one TCP connection to the listener at host (a wildcard
// address is reached on loopback).
void knock(const std::string &host, int port) {
    const bool v6 = host.find(':') != std::string::npos || host == "[::]";
    std::string name = host;
    if (!name.empty() && name.front() == '[')
        name = name.substr(1, name.size() - 2);
    if (name == "0.0.0.0" || name.empty() || name == "localhost")
        name = "127.0.0.1";
    else if (name == "::")
        name = "::1";
    const int fd = ::socket(v6 ? AF_INET6 : AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return;
    if (v6) {
        sockaddr_in6 a{};
        a.sin6_family = AF_INET6;
        a.sin6_port = htons(uint16_t(port));
        if (inet_pton(AF_INET6, name.c_str(), &a.sin6_addr) == 1)
            ::connect(fd, reinterpret_cast<sockaddr *>(&a), sizeof a);
    } else {
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(uint16_t(port));
        if (inet_pton(AF_INET, name.c_str(), &a.sin_addr) == 1)
            ::connect(fd, reinterpret_cast<sockaddr *>(&a), sizeof a);
    }
    ::close(fd);
}
} // namespace

Metrics::Metrics()
    : registry(std::make_shared<prometheus::Registry>()),
      up(gauge(*registry, "qm44xx_up", "Whether the board's bridge is open (1) or not (0)")),
      vin(gauge(*registry, "qm44xx_vin_volts", "Input voltage VIN")),
      temperature(gauge(*registry, "qm44xx_temperature_celsius", "Die temperature")),
      vout(gauge(*registry, "qm44xx_vout_volts",
                 "Output voltage of each regulator (below 0.3 V shown as 0)")),
      status(gauge(*registry, "qm44xx_status", "Status flag: 0 OK, 1 WARN, 2 FAIL")),
      exchanges(counter(*registry, "qm44xx_exchanges_total", "Reports sent to the bridge")),
      linkErrors(counter(*registry, "qm44xx_link_errors_total",
                         "Exchanges with the bridge that failed (unplugged, no answer)")) {}

Metrics::~Metrics() {
    if (!exposer)
        return;
    // The HTTP library's listener notices a stop only when its poll wakes,
    // which without a connection takes up to two seconds: knock until it has
    // gone, so that stopping the server is prompt.
    const std::vector<int> ports = exposer->GetListeningPorts();
    std::atomic<bool> stopped{false};
    std::thread knocker([&]() {
        while (!stopped && !ports.empty()) {
            knock(knockHost, ports.front());
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    });
    exposer.reset();
    stopped = true;
    knocker.join();
}

int Metrics::serve(const std::string &address) {
    try {
        exposer = std::make_unique<prometheus::Exposer>(address, 2);
        knockHost = address.substr(0, address.rfind(':'));
    } catch (const std::exception &e) {
        throw "cannot serve metrics on " + address + ": " + e.what();
    }
    exposer->RegisterCollectable(registry);
    const std::vector<int> ports = exposer->GetListeningPorts();
    return ports.empty() ? 0 : ports.front();
}

BoardMetrics::BoardMetrics(Metrics &metrics, const std::string &node, const std::string &serial)
    : metrics(metrics), node(node), serial(serial) {
    setChip(std::string(), 0, {});
}

BoardMetrics::~BoardMetrics() {
    removeSeries();
}

void BoardMetrics::removeSeries() {
    auto drop = [](auto &family, auto *&metric) {
        if (metric)
            family.Remove(metric);
        metric = nullptr;
    };
    drop(metrics.up, up);
    drop(metrics.vin, vin);
    drop(metrics.temperature, temperature);
    for (prometheus::Gauge *&g : vout)
        drop(metrics.vout, g);
    for (prometheus::Gauge *&g : flags)
        drop(metrics.status, g);
    drop(metrics.exchanges, exchanges);
    drop(metrics.linkErrors, linkErrors);
    vout.clear();
    flags.clear();
}

void BoardMetrics::setChip(const std::string &chip, int regulators,
                           const std::vector<std::string> &flagNames) {
    removeSeries();
    const prometheus::Labels labels{
        {"node", node}, {"serial", serial}, {"chip", chip.empty() ? "none" : chip}};
    auto with = [&labels](const std::string &name, const std::string &value) {
        prometheus::Labels more = labels;
        more[name] = value;
        return more;
    };
    up = &metrics.up.Add(labels);
    up->Set(upValue);
    exchanges = &metrics.exchanges.Add(labels);
    exchanges->Increment(exchangesSet);
    linkErrors = &metrics.linkErrors.Add(labels);
    linkErrors->Increment(linkErrorsSet);
    if (chip.empty())
        return;
    vin = &metrics.vin.Add(labels);
    temperature = &metrics.temperature.Add(labels);
    for (int vr = 1; vr <= regulators; ++vr)
        vout.push_back(&metrics.vout.Add(with("output", "VR" + std::to_string(vr))));
    for (const std::string &name : flagNames)
        flags.push_back(&metrics.status.Add(with("flag", name)));
    clearReadings();
}

void BoardMetrics::setUp(bool on) {
    upValue = on ? 1 : 0;
    up->Set(upValue);
}

void BoardMetrics::setReadings(double vinVolts, double celsius, const std::vector<double> &volts,
                               const std::vector<int> &levels) {
    if (!vin)
        return;
    vin->Set(vinVolts);
    temperature->Set(celsius);
    for (size_t i = 0; i < vout.size() && i < volts.size(); ++i)
        vout[i]->Set(volts[i]);
    for (size_t i = 0; i < flags.size() && i < levels.size(); ++i)
        flags[i]->Set(levels[i]);
}

void BoardMetrics::clearReadings() {
    if (!vin)
        return;
    vin->Set(UNKNOWN);
    temperature->Set(UNKNOWN);
    for (prometheus::Gauge *g : vout)
        g->Set(UNKNOWN);
    for (prometheus::Gauge *g : flags)
        g->Set(UNKNOWN);
}

void BoardMetrics::setCounts(double exchangeTotal, double linkErrorTotal) {
    if (exchangeTotal > exchangesSet)
        exchanges->Increment(exchangeTotal - exchangesSet);
    if (linkErrorTotal > linkErrorsSet)
        linkErrors->Increment(linkErrorTotal - linkErrorsSet);
    exchangesSet = exchangeTotal;
    linkErrorsSet = linkErrorTotal;
}

} // namespace server
