// The benchmarks' main: a QApplication on Qt's offscreen platform (unless
// QT_QPA_PLATFORM names another), so the window's benchmarks need no display;
// only the simulated board is on the HID bus. Then Google Benchmark runs whatever
// benchmarks the linked sources registered.
#include "bench_support.h"
#include "link/hid_backend.h"

#include <QApplication>
#include <benchmark/benchmark.h>
#include <vector>

namespace {
std::vector<std::function<void()>> &cleanUps() {
    static std::vector<std::function<void()>> list;
    return list;
}

// Qt's offscreen platform says that it cannot pass size hints on, once per
// window shown, and QStandardPaths that XDG_RUNTIME_DIR is unset: not about the
// code measured, so kept out of the figures' way. Everything else is printed.
QtMessageHandler defaultHandler = nullptr;
void quietHandler(QtMsgType type, const QMessageLogContext &context, const QString &message) {
    if (message.contains(QLatin1String("propagateSizeHints")) ||
        message.contains(QLatin1String("XDG_RUNTIME_DIR")))
        return;
    defaultHandler(type, context, message);
}
} // namespace

void atBenchmarksEnd(std::function<void()> f) {
    cleanUps().push_back(std::move(f));
}

int main(int argc, char **argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    defaultHandler = qInstallMessageHandler(quietHandler);
    QApplication app(argc, argv);
    hid::removePlatformBackend();
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    for (auto it = cleanUps().rbegin(); it != cleanUps().rend(); ++it)
        (*it)();
    cleanUps().clear();
    benchmark::Shutdown();
    return 0;
}
