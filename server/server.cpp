#include "server/server.h"

#include "server/board_server.h"
#include "server/host.h"
#include "server/metrics.h"
#include "sim/simulation.h"

#include <QCoreApplication>
#include <QHostAddress>
#include <QSocketNotifier>
#include <QThread>
#include <QTimer>
#include <csignal>
#include <memory>
#include <ostream>
#include <unistd.h>

namespace server {

namespace {

const char *const PROGRAM = "qm44xx-server: ";

int signalPipe[2] = {-1, -1};

void onSignal(int) {
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = ::write(signalPipe[1], &byte, 1);
}

std::string keyOf(const BridgeInfo &bridge) {
    return bridge.serial.empty() ? bridge.path : bridge.serial;
}

std::string serialOf(const std::string &path) {
    for (const BridgeInfo &bridge : listBridges()) {
        if (bridge.path == path)
            return bridge.serial;
    }
    return std::string();
}

} // namespace

Host::Host(const Options &options, std::ostream &out, std::ostream &err)
    : options(options), out(out), err(err) {}

Host::~Host() {
    for (Board &board : boards) {
        QMetaObject::invokeMethod(board.server, "stop", Qt::BlockingQueuedConnection);
        board.thread->quit();
        board.thread->wait();
        delete board.server;
        delete board.thread;
    }
    if (!options.simulate.empty())
        stopSimulation();
}

bool Host::start() {
    listen = options.listen == "localhost" ? QHostAddress(QHostAddress::LocalHost)
                                           : QHostAddress(QString::fromStdString(options.listen));
    if (listen.isNull()) {
        err << PROGRAM << "--listen takes an IP address, not '" << options.listen << "'\n";
        return false;
    }
    if (!options.metrics.empty()) {
        metrics = std::make_unique<Metrics>();
        try {
            const int port = metrics->serve(options.metrics);
            const std::string host = options.metrics.substr(0, options.metrics.rfind(':'));
            out << "metrics on http://" << host << ":" << port << "/metrics" << std::endl;
        } catch (const std::string &text) {
            err << PROGRAM << text << '\n';
            return false;
        }
    }

    std::vector<BridgeInfo> wanted;
    try {
        for (const std::string &model : options.simulate) {
            const std::string path = simulationPath(addSimulation(model));
            wanted.push_back(BridgeInfo{path, serialOf(path)});
        }
    } catch (const std::string &text) {
        err << PROGRAM << text << '\n';
        return false;
    }
    for (const std::string &path : options.devices)
        wanted.push_back(BridgeInfo{path, serialOf(path)});
    for (const BridgeInfo &bridge : wanted) {
        if (!addBoard(bridge))
            return false;
    }
    if (wanted.empty()) {
        // Every bridge of the host, now and as they are plugged in.
        scan();
        scanTimer = new QTimer(this);
        connect(scanTimer, &QTimer::timeout, this, &Host::scan);
        scanTimer->start(options.intervalMs);
    }
    return true;
}

bool Host::addBoard(const BridgeInfo &bridge) {
    ServeSettings settings;
    settings.listen = listen;
    settings.port = options.port == 0 ? 0 : quint16(options.port + int(boards.size()));
    settings.maxClients = options.maxClients;
    settings.idleTimeoutMs = options.idleTimeoutS * 1000;
    settings.intervalMs = options.intervalMs;
    settings.readOnly = options.readOnly;
    settings.version = QM_VERSION;
    if (options.port != 0 && options.port + int(boards.size()) > 65535) {
        err << PROGRAM << "no port left for board " << bridge.path << '\n';
        return false;
    }

    auto *thread = new QThread;
    auto *server = new BoardServer(bridge.path, bridge.serial, settings, metrics.get());
    server->moveToThread(thread);
    thread->start();
    bool listening = false;
    QMetaObject::invokeMethod(server, "start", Qt::BlockingQueuedConnection,
                              Q_RETURN_ARG(bool, listening));
    if (!listening) {
        err << PROGRAM << "cannot listen on " << options.listen << ":" << settings.port
            << " for board " << bridge.path << ": " << server->error().toStdString() << '\n';
        QMetaObject::invokeMethod(server, "stop", Qt::BlockingQueuedConnection);
        thread->quit();
        thread->wait();
        delete server;
        delete thread;
        return false;
    }
    boards.push_back(Board{keyOf(bridge), thread, server});
    out << "board " << bridge.path << " serial "
        << (bridge.serial.empty() ? std::string("-") : bridge.serial) << ": SCPI on "
        << listen.toString().toStdString() << ":" << server->port() << std::endl;
    return true;
}

void Host::scan() {
    for (const BridgeInfo &bridge : listBridges()) {
        const std::string key = keyOf(bridge);
        auto known = std::find_if(boards.begin(), boards.end(),
                                  [&key](const Board &b) { return b.key == key; });
        if (known == boards.end()) {
            addBoard(bridge); // a new one: served on the next port
        } else {
            // The same board again, maybe under another node: its own poll
            // opens it.
            QMetaObject::invokeMethod(known->server, "moveTo", Qt::QueuedConnection,
                                      Q_ARG(QString, QString::fromStdString(bridge.path)));
        }
    }
}

int run(const Options &options, std::ostream &out, std::ostream &err) {
    Host host(options, out, err);
    if (!host.start())
        return 1;

    std::signal(SIGPIPE, SIG_IGN);
    if (::pipe(signalPipe) == 0) {
        std::signal(SIGINT, onSignal);
        std::signal(SIGTERM, onSignal);
    }
    QSocketNotifier notifier(signalPipe[0], QSocketNotifier::Read);
    QObject::connect(&notifier, &QSocketNotifier::activated, [] { QCoreApplication::quit(); });
    const int code = QCoreApplication::exec();
    std::signal(SIGINT, SIG_DFL);
    std::signal(SIGTERM, SIG_DFL);
    return code;
}

} // namespace server
