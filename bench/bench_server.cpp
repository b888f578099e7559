// qm44xx-server's software time: a SCPI query answered over loopback TCP
// against the same query run in-process, commands per second with 16 clients
// on one board, and a Prometheus scrape of 8 boards. The boards are simulated
// (no USB time) and served as the program serves them: each BoardServer on a
// thread of its own, its SCPI port on 127.0.0.1 at a port the system picks.
// The clients are plain blocking sockets in the benchmark's thread. Times are
// wall-clock (the server's work is on other threads); the counters cpu_us_*
// are the whole process's CPU time (client, server threads, and the kernel's
// work in their system calls) per operation, which other load on the machine
// does not inflate.
#include "bench_support.h"
#include "server/board_server.h"
#include "server/instrument.h"
#include "server/metrics.h"
#include "sim/simulation.h"
#include "tests/support/served_board.h"

#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <chrono>
#include <map>
#include <memory>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace {

using server::BoardServer;

const char *const MODELS[] = {"QM4434", "QM4422", "QM4411", "QM4433", "QM4423"};

// Simulated boards, each served on its own thread.
class ServedBoards {
public:
    ServedBoards(int count, int maxClients, server::Metrics *metrics) {
        for (int i = 0; i < count; ++i) {
            SimulatedBridge &bridge =
                i == 0 ? startSimulation(MODELS[0]) : addSimulation(MODELS[i % 5]);
            bridge.setRecording(false);
            server::ServeSettings settings;
            settings.maxClients = maxClients;
            settings.version = "0.0.0";
            // The power-up waits cost no time: the figures are the software's.
            boards.push_back(
                std::make_unique<ServedBoard>(simulationPath(bridge), settings, metrics));
        }
    }
    ~ServedBoards() {
        boards.clear();
        stopSimulation();
    }
    quint16 port(int board) const { return boards[size_t(board)]->server->port(); }
    // One poll of each board now, on its thread, as its timer would.
    void poll() {
        for (const std::unique_ptr<ServedBoard> &served : boards)
            QMetaObject::invokeMethod(served->server, "poll", Qt::BlockingQueuedConnection);
    }

private:
    std::vector<std::unique_ptr<ServedBoard>> boards;
};

// A blocking TCP connection to 127.0.0.1 that sends lines and reads lines.
class Connection {
public:
    explicit Connection(int port) {
        fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        const int one = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(uint16_t(port));
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (::connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0)
            qFatal("cannot connect to port %d", port);
    }
    ~Connection() { ::close(fd); }
    Connection(const Connection &) = delete;
    Connection &operator=(const Connection &) = delete;

    int socket() const { return fd; }
    void send(const std::string &text) {
        size_t sent = 0;
        while (sent < text.size()) {
            const ssize_t n = ::send(fd, text.data() + sent, text.size() - sent, MSG_NOSIGNAL);
            if (n <= 0)
                qFatal("send failed");
            sent += size_t(n);
        }
    }
    // Takes what has arrived (blocking until something has); false at the end
    // of the stream.
    bool receive() {
        char chunk[65536];
        const ssize_t n = ::recv(fd, chunk, sizeof chunk, 0);
        if (n <= 0)
            return false;
        buffer.append(chunk, size_t(n));
        return true;
    }
    // The next complete line, if one has arrived.
    bool takeLine(std::string &line) {
        const size_t end = buffer.find('\n');
        if (end == std::string::npos)
            return false;
        line.assign(buffer, 0, end);
        buffer.erase(0, end + 1);
        return true;
    }
    std::string line() {
        std::string text;
        while (!takeLine(text)) {
            if (!receive())
                qFatal("the server closed the connection");
        }
        return text;
    }
    std::string query(const std::string &text) {
        send(text + "\n");
        return line();
    }
    std::string everything() {
        while (receive()) {
        }
        return buffer;
    }

private:
    int fd = -1;
    std::string buffer;
};

// The board every query runs on: powered, VR1 enabled at 0.9 V.
const char *const SETUP = "POWer ON;:SOURce1:VOLTage 0.9;:OUTPut1 ON";

// The queries compared, by the benchmarks' argument: one exchange with the
// board (a telemetry read), and none (a setting from the register cache).
const char *const QUERIES[] = {"MEASure:VOLTage1?", "SOURce1:VOLTage?"};
const char *const ANSWERS[] = {"0.8981", "0.8981"};

// The process's CPU time per in-process query, by argument, for the ratio.
std::map<int64_t, double> &inProcessMicroseconds() {
    static std::map<int64_t, double> figures;
    return figures;
}

// Wall-clock and process CPU time from its construction, per operation.
class Stopwatch {
public:
    Stopwatch() : wallStart(std::chrono::steady_clock::now()), cpuStart(processCpu()) {}
    double wallMicroseconds(double operations) const {
        const std::chrono::duration<double, std::micro> elapsed =
            std::chrono::steady_clock::now() - wallStart;
        return operations > 0 ? elapsed.count() / operations : 0;
    }
    double cpuMicroseconds(double operations) const {
        return operations > 0 ? (processCpu() - cpuStart) / operations : 0;
    }

private:
    static double processCpu() { return cpuSeconds() * 1e6; } // microseconds
    std::chrono::steady_clock::time_point wallStart;
    double cpuStart;
};

// The query run by the board's Instrument in this thread: parsing, checking,
// the exchange with the board and the answer text, without sockets, framing
// or the hop to the board's thread.
void scpiQueryInProcess(benchmark::State &state) {
    SimulatedBridge &bridge = startSimulation(MODELS[0]);
    bridge.setRecording(false);
    {
        server::BoardLink link(simulationPath(bridge), "SIM");
        link.setClock(noWait());
        server::Instrument instrument(link, false, "0.0.0");
        server::ClientState client;
        instrument.execute(client, SETUP);
        const std::string query = QUERIES[state.range(0)];
        const std::string answer = std::string(ANSWERS[state.range(0)]) + "\n";
        if (instrument.execute(client, query) != answer)
            state.SkipWithError("unexpected answer");
        const Stopwatch watch;
        for (auto _ : state)
            benchmark::DoNotOptimize(instrument.execute(client, query));
        const double cpu = watch.cpuMicroseconds(double(state.iterations()));
        inProcessMicroseconds()[state.range(0)] = cpu;
        state.counters["cpu_us_per_query"] = cpu;
    }
    stopSimulation();
}

// The same query from a client over loopback TCP: send the line, wait for the
// answer line. Counter x_vs_in_process: cpu_us_per_query over
// scpiQueryInProcess's (same run).
void scpiQueryLoopback(benchmark::State &state) {
    ServedBoards boards(1, 8, nullptr);
    Connection client(boards.port(0));
    client.query(std::string(SETUP) + ";*OPC?");
    const std::string query = QUERIES[state.range(0)];
    if (client.query(query) != ANSWERS[state.range(0)])
        state.SkipWithError("unexpected answer");
    const Stopwatch watch;
    for (auto _ : state)
        benchmark::DoNotOptimize(client.query(query));
    const double cpu = watch.cpuMicroseconds(double(state.iterations()));
    state.counters["cpu_us_per_query"] = cpu;
    const auto inProcess = inProcessMicroseconds().find(state.range(0));
    if (inProcess != inProcessMicroseconds().end() && inProcess->second > 0)
        state.counters["x_vs_in_process"] = cpu / inProcess->second;
}

// N clients on one board, all at once, each sending D commands in one write
// and waiting for their D answers before the next D (D = 1: a script that
// waits for each answer). One iteration: 100 commands from every client, a mix
// of settings and queries; items_per_second: commands.
void commandsManyClients(benchmark::State &state) {
    const int clients = int(state.range(0));
    const int depth = int(state.range(1));
    constexpr int PER_CLIENT = 100;
    // Each answers one line.
    const std::vector<std::string> mix = {
        "SOURce1:VOLTage:CODE 100;CODE?",        "MEASure:VOLTage1?", "*IDN?",
        "SOURce1:VOLTage:SLEW 7.8;SLEW?",        "MEASure:ALL?",      "STATus:FLAGs?",
        "SOURce1:VOLTage 0.9;:OUTPut1 ON;*OPC?", "SOURce1:VOLTage?"};
    ServedBoards boards(1, clients, nullptr);
    std::vector<std::unique_ptr<Connection>> connections;
    for (int i = 0; i < clients; ++i)
        connections.push_back(std::make_unique<Connection>(boards.port(0)));
    connections.front()->query(std::string(SETUP) + ";*OPC?");

    std::vector<pollfd> fds(static_cast<size_t>(clients));
    for (int i = 0; i < clients; ++i)
        fds[size_t(i)] = pollfd{connections[size_t(i)]->socket(), POLLIN, 0};
    long errors = 0;
    const Stopwatch watch;
    for (auto _ : state) {
        std::vector<int> sent(static_cast<size_t>(clients), 0);
        std::vector<int> answered(static_cast<size_t>(clients), 0);
        auto sendBatch = [&](int i) {
            std::string lines;
            for (int k = 0; k < depth; ++k)
                lines += mix[size_t(i + sent[size_t(i)]++) % mix.size()] + "\n";
            connections[size_t(i)]->send(lines);
        };
        for (int i = 0; i < clients; ++i)
            sendBatch(i);
        int done = 0;
        while (done < clients) {
            if (::poll(fds.data(), fds.size(), 10000) <= 0) {
                state.SkipWithError("no answer within 10 s");
                return;
            }
            for (int i = 0; i < clients; ++i) {
                if (!(fds[size_t(i)].revents & POLLIN))
                    continue;
                Connection &c = *connections[size_t(i)];
                if (!c.receive()) {
                    state.SkipWithError("a connection closed");
                    return;
                }
                std::string answer;
                while (c.takeLine(answer)) {
                    errors += answer.empty() || answer[0] == '-';
                    if (++answered[size_t(i)] == PER_CLIENT) {
                        ++done;
                    } else if (answered[size_t(i)] == sent[size_t(i)]) {
                        sendBatch(i);
                    }
                }
            }
        }
    }
    state.counters["cpu_us_per_command"] =
        watch.cpuMicroseconds(double(state.iterations() * clients * PER_CLIENT));
    for (const std::unique_ptr<Connection> &c : connections)
        errors += c->query("SYSTem:ERRor:COUNt?") != "0";
    if (errors)
        state.SkipWithError("a command failed");
    state.SetItemsProcessed(state.iterations() * clients * PER_CLIENT);
}

// One scrape of /metrics over HTTP (a new connection, as prometheus-cpp's
// exposer serves it) with N boards served, each powered and polled once so
// that every series has its value. gzip:1 asks for a compressed answer, as
// Prometheus does. Counters: the answer's bytes and its qm44xx_ series.
void scrape(benchmark::State &state) {
    const int count = int(state.range(0));
    const bool gzip = state.range(1) != 0;
    server::Metrics metrics;
    const int port = metrics.serve("127.0.0.1:0");
    ServedBoards boards(count, 8, &metrics);
    for (int i = 0; i < count; ++i)
        Connection(boards.port(i)).query(std::string(SETUP) + ";*OPC?");
    boards.poll();
    const std::string request = std::string("GET /metrics HTTP/1.1\r\nHost: 127.0.0.1\r\n") +
                                (gzip ? "Accept-Encoding: gzip\r\n" : "") +
                                "Connection: close\r\n\r\n";
    std::string answer;
    const Stopwatch watch;
    for (auto _ : state) {
        Connection client(port);
        client.send(request);
        answer = client.everything();
    }
    state.counters["cpu_us_per_scrape"] = watch.cpuMicroseconds(double(state.iterations()));
    long series = 0;
    if (!gzip) {
        for (size_t at = answer.find("\nqm44xx_"); at != std::string::npos;
             at = answer.find("\nqm44xx_", at + 1))
            ++series;
        if (answer.find("NaN") != std::string::npos)
            state.SkipWithError("a series without its value");
    }
    if (answer.rfind("HTTP/1.1 200", 0) != 0)
        state.SkipWithError("the scrape failed");
    state.counters["bytes"] = double(answer.size());
    if (!gzip)
        state.counters["series"] = double(series);
}

} // namespace

BENCHMARK(scpiQueryInProcess)->ArgName("cached")->Arg(0)->Arg(1)->UseRealTime();
BENCHMARK(scpiQueryLoopback)->ArgName("cached")->Arg(0)->Arg(1)->UseRealTime();
BENCHMARK(commandsManyClients)
    ->ArgNames({"clients", "depth"})
    ->Args({1, 1})
    ->Args({16, 1})
    ->Args({16, 10})
    ->UseRealTime();
BENCHMARK(scrape)
    ->ArgNames({"boards", "gzip"})
    ->Args({1, 0})
    ->Args({8, 0})
    ->Args({8, 1})
    ->UseRealTime();
