// One board served: its link, its SCPI port with the clients on it, and its
// poll for the metrics. Runs on a thread of its own, so that a board that
// stalls (every exchange waiting out its 1 s) keeps only its own clients
// waiting.
#pragma once

#include "server/board_link.h"
#include "server/instrument.h"
#include "server/scpi_parser.h"

#include <QHostAddress>
#include <QObject>
#include <deque>
#include <memory>
#include <string>
#include <vector>

class QTcpServer;
class QTcpSocket;
class QTimer;

namespace server {

class BoardMetrics;
class Metrics;

struct ServeSettings {
    QHostAddress listen = QHostAddress(QHostAddress::LocalHost);
    quint16 port = 0; // 0: one the system picks
    int maxClients = 8;
    int idleTimeoutMs = 3600 * 1000; // 0: never
    int intervalMs = 1000;           // the metrics' poll
    bool readOnly = false;
    std::string version;
};

class BoardServer : public QObject {
    Q_OBJECT
public:
    // What one client may hold at once: complete messages not yet run, and
    // answers not yet taken by the client; beyond these its socket is not read.
    static constexpr qint64 MAX_PENDING_BYTES = 128 * 1024;
    static constexpr qint64 MAX_UNSENT_BYTES = 256 * 1024;

    BoardServer(const std::string &path, const std::string &serial, const ServeSettings &settings,
                Metrics *metrics);
    ~BoardServer() override;

    // On the board's thread: opens the board, listens, starts the poll. False
    // with error() set when it cannot listen.
    Q_INVOKABLE bool start();
    // On the board's thread: closes every client, the port and the board.
    Q_INVOKABLE void stop();
    // On the board's thread: the bridge came back under another node.
    Q_INVOKABLE void moveTo(const QString &path);
    // One poll: reopens a board that went away, reads what the metrics show.
    Q_INVOKABLE void poll();

    quint16 port() const { return listeningPort; }
    QString error() const { return listenError; }
    BoardLink &board() { return link; }
    Instrument &instrument() { return commands; }

private:
    struct Client {
        QTcpSocket *socket = nullptr;
        QTimer *idle = nullptr;
        scpi::Framer framer;
        std::deque<scpi::Message> pending;
        qint64 pendingBytes = 0;
        ClientState state;
        bool gone = false; // disconnected: runs what it sent whole, then goes
    };

    void accept();
    void readFrom(Client *client);
    void schedule();
    void runNext();
    void drop(Client *client);
    bool canRun(const Client *client) const;
    void updateMetrics();

    std::string path;
    ServeSettings settings;
    Metrics *metrics;
    std::unique_ptr<BoardMetrics> series;
    BoardLink link;
    Instrument commands;
    QTcpServer *tcp = nullptr;
    QTimer *pollTimer = nullptr;
    std::vector<std::unique_ptr<Client>> clients;
    size_t nextClient = 0; // round robin
    bool scheduled = false;
    quint16 listeningPort = 0;
    QString listenError;
};

} // namespace server
