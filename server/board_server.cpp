#include "server/board_server.h"

#include "device/ivr_device.h"
#include "device/register_map.h"
#include "device/regulator.h"
#include "device/status_flags.h"
#include "link/link_errors.h"
#include "server/metrics.h"

#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <algorithm>

namespace server {

BoardServer::BoardServer(const std::string &path, const std::string &serial,
                         const ServeSettings &settings, Metrics *metrics)
    : path(path), settings(settings), metrics(metrics), link(path, serial),
      commands(link, settings.readOnly, settings.version) {}

BoardServer::~BoardServer() = default;

bool BoardServer::start() {
    tcp = new QTcpServer(this);
    if (!tcp->listen(settings.listen, settings.port)) {
        listenError = tcp->errorString();
        delete tcp;
        tcp = nullptr;
        return false;
    }
    listeningPort = tcp->serverPort();
    connect(tcp, &QTcpServer::newConnection, this, &BoardServer::accept);

    if (metrics)
        series = std::make_unique<BoardMetrics>(*metrics, path, link.serial());
    link.onStateChanged = [this]() {
        if (!series)
            return;
        const ChipDescriptor &chip = link.chip();
        series->setChip(link.identified() ? chip.chip_name : std::string(), chip.regulator_count,
                        link.identified() ? statusFlagNames(chip.regulator_count)
                                          : std::vector<std::string>());
        series->setUp(link.isOpen());
    };
    link.ensureOpen();
    if (series)
        series->setUp(link.isOpen());
    updateMetrics();

    pollTimer = new QTimer(this);
    connect(pollTimer, &QTimer::timeout, this, &BoardServer::poll);
    pollTimer->start(settings.intervalMs);
    poll();
    return true;
}

void BoardServer::stop() {
    if (pollTimer)
        pollTimer->stop();
    for (const std::unique_ptr<Client> &client : clients) {
        client->socket->disconnect(this);
        client->socket->abort();
        delete client->socket;
    }
    clients.clear();
    delete tcp;
    tcp = nullptr;
    link.onStateChanged = nullptr;
    link.close();
    series.reset();
}

void BoardServer::moveTo(const QString &newPath) {
    link.setPath(newPath.toStdString());
}

void BoardServer::updateMetrics() {
    if (series)
        series->setCounts(link.exchanges(), link.linkErrors());
}

void BoardServer::poll() {
    if (!link.isOpen()) {
        link.ensureOpen(); // a bridge that came back: opened and identified afresh
        updateMetrics();
        return;
    }
    if (!link.identified()) {
        updateMetrics();
        return;
    }
    try {
        IvrDevice &device = link.device();
        const ChipDescriptor chip = link.chip();
        const std::vector<int> pages = regulator::populatedPages(chip.regulator_count);
        const double vin = device.read_vin();
        const double temperature = device.read_temperature();
        std::vector<double> vout;
        for (int page : pages)
            vout.push_back(regulator::shownVout(device.read_vout(page)));
        const StatusRegisters status = readStatusRegisters(device, chip.regulator_count);
        // All ones may be a bus where nothing answers any more: the chip's ID
        // tells.
        if (device.register_cache[reg::VIN] == 0xFF &&
            device.register_cache[reg::TEMPERATURE] == 0xFF &&
            device.read_register(reg::CHIP_ID, true, false) != chip.chip_id) {
            link.forgetChip();
        } else if (series) {
            std::vector<int> levels;
            for (const StatusFlag &flag : decodeStatus(status.core, status.regulators))
                levels.push_back(int(flag.level));
            series->setReadings(vin, temperature, vout, levels);
        }
    } catch (const std::string &text) {
        if (isLinkFailure(text))
            link.markDown();
        else if (series)
            series->clearReadings();
    }
    updateMetrics();
}

void BoardServer::accept() {
    while (QTcpSocket *socket = tcp->nextPendingConnection()) {
        const long live = std::count_if(clients.begin(), clients.end(),
                                        [](const std::unique_ptr<Client> &c) { return !c->gone; });
        if (live >= settings.maxClients) {
            socket->abort();
            socket->deleteLater();
            continue;
        }
        clients.push_back(std::make_unique<Client>());
        Client *client = clients.back().get();
        client->socket = socket;
        // Answers go out at once: with Nagle's algorithm a client that sends
        // several queries in a row waits out the peer's delayed ACK (40 ms)
        // for every answer after the first.
        socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        // Qt stops taking bytes from the kernel beyond this, so a client that
        // sends faster than its commands run is slowed by TCP itself.
        socket->setReadBufferSize(64 * 1024);
        connect(socket, &QTcpSocket::readyRead, this, [this, client]() { readFrom(client); });
        connect(socket, &QTcpSocket::bytesWritten, this, [this]() { schedule(); });
        connect(socket, &QTcpSocket::disconnected, this, [this, client]() {
            client->gone = true;
            if (client->pending.empty())
                drop(client);
        });
        if (settings.idleTimeoutMs > 0) {
            client->idle = new QTimer(socket);
            client->idle->setSingleShot(true);
            client->idle->setInterval(settings.idleTimeoutMs);
            connect(client->idle, &QTimer::timeout, socket, &QTcpSocket::disconnectFromHost);
            client->idle->start();
        }
        readFrom(client);
    }
}

void BoardServer::readFrom(Client *client) {
    if (client->gone)
        return;
    if (client->idle)
        client->idle->start();
    char buffer[4096];
    std::vector<scpi::Message> messages;
    while (client->pendingBytes < MAX_PENDING_BYTES && client->socket->bytesAvailable() > 0) {
        const qint64 got = client->socket->read(buffer, sizeof buffer);
        if (got <= 0)
            break;
        messages.clear();
        client->framer.feed(buffer, size_t(got), messages);
        for (scpi::Message &message : messages) {
            client->pendingBytes += qint64(message.text.size()) + 1;
            client->pending.push_back(std::move(message));
        }
    }
    if (!client->pending.empty())
        schedule();
}

void BoardServer::schedule() {
    if (scheduled)
        return;
    scheduled = true;
    // One message per turn of the event loop: new clients, their bytes and the
    // poll get their turn between two messages.
    QMetaObject::invokeMethod(
        this,
        [this]() {
            scheduled = false;
            runNext();
        },
        Qt::QueuedConnection);
}

bool BoardServer::canRun(const Client *client) const {
    return !client->pending.empty() &&
           (client->gone || client->socket->bytesToWrite() < MAX_UNSENT_BYTES);
}

void BoardServer::runNext() {
    if (clients.empty())
        return;
    const size_t count = clients.size();
    Client *client = nullptr;
    for (size_t i = 0; i < count; ++i) {
        const size_t index = (nextClient + i) % count;
        if (canRun(clients[index].get())) {
            client = clients[index].get();
            nextClient = index + 1;
            break;
        }
    }
    if (!client)
        return;
    const scpi::Message message = std::move(client->pending.front());
    client->pending.pop_front();
    client->pendingBytes -= qint64(message.text.size()) + 1;
    std::string answer;
    if (message.overrun)
        commands.overrun(client->state);
    else
        answer = commands.execute(client->state, message.text);
    if (!answer.empty() && !client->gone)
        client->socket->write(answer.data(), qint64(answer.size()));
    updateMetrics();

    if (client->gone && client->pending.empty())
        drop(client);
    else
        readFrom(client); // it may have been held back
    for (const std::unique_ptr<Client> &c : clients) {
        if (canRun(c.get())) {
            schedule();
            break;
        }
    }
}

void BoardServer::drop(Client *client) {
    client->socket->disconnect(this);
    client->socket->deleteLater();
    clients.erase(
        std::remove_if(clients.begin(), clients.end(),
                       [client](const std::unique_ptr<Client> &c) { return c.get() == client; }),
        clients.end());
}

} // namespace server
