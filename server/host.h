// The boards of the host, each served on its own thread, and the hot-plug scan
// that serves the bridges plugged in later.
#pragma once

#include "server/board_link.h"
#include "server/server.h"

#include <QHostAddress>
#include <QObject>
#include <iosfwd>
#include <memory>
#include <string>
#include <vector>

class QThread;
class QTimer;

namespace server {

class BoardServer;
class Metrics;

class Host : public QObject {
public:
    // Lines saying where each board and the metrics are served go to out,
    // problems to err.
    Host(const Options &options, std::ostream &out, std::ostream &err);
    ~Host() override;

    // Serves the metrics and the boards the options name (every bridge listed,
    // when they name none). False when something cannot be served.
    bool start();
    // Serves each bridge listed that is not served yet, on the next port; one
    // served already (by its serial number, or its path when it has none) is
    // told where it is now.
    void scan();
    int boardCount() const { return int(boards.size()); }

private:
    struct Board {
        std::string key; // the serial number, or the path of a bridge without one
        QThread *thread;
        BoardServer *server;
    };

    bool addBoard(const BridgeInfo &bridge);

    const Options &options;
    std::ostream &out;
    std::ostream &err;
    QHostAddress listen;
    std::unique_ptr<Metrics> metrics;
    std::vector<Board> boards;
    QTimer *scanTimer = nullptr;
};

} // namespace server
