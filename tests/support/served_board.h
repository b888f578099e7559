// A board served over TCP on a thread of its own, as qm44xx-server serves
// each, with power-up waits that take no time: for the server's tests and
// benchmarks.
#pragma once

#include "link/clock.h"
#include "server/board_server.h"

#include <QThread>

// The system clock without its waits.
inline Clock noWait() {
    Clock clock = systemClock();
    clock.sleep = [](long) {};
    return clock;
}

class ServedBoard {
public:
    ServedBoard(const std::string &path, const server::ServeSettings &settings,
                server::Metrics *metrics = nullptr) {
        server = new server::BoardServer(path, "SIM", settings, metrics);
        server->board().setClock(noWait());
        server->moveToThread(&thread);
        thread.start();
        bool listening = false;
        QMetaObject::invokeMethod(server, "start", Qt::BlockingQueuedConnection,
                                  Q_RETURN_ARG(bool, listening));
        if (!listening)
            qFatal("cannot listen: %s", qPrintable(server->error()));
    }
    ~ServedBoard() {
        QMetaObject::invokeMethod(server, "stop", Qt::BlockingQueuedConnection);
        thread.quit();
        thread.wait();
        delete server;
    }
    ServedBoard(const ServedBoard &) = delete;
    ServedBoard &operator=(const ServedBoard &) = delete;

    QThread thread;
    server::BoardServer *server;
};
