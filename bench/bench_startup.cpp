// Start-up to the window shown on the simulated board, in milliseconds of wall
// time:
//  - panelProcess: the real program, `qm44xx-panel --simulate --exit-when-shown`
//    on Qt's offscreen platform, from starting the process until it has painted
//    its window once and ended (loading Qt, the application object, the window,
//    the simulated board, the first paint, and the exit);
//  - windowShown: in this process, where Qt is loaded and warm: a MainWindow made,
//    shown and painted once, then closed.
#include "app/mainwindow.h"
#include "sim/simulation.h"

#include <QCoreApplication>
#include <QEvent>
#include <QProcess>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>
#include <chrono>

namespace {

void panelProcess(benchmark::State &state) {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    // The window's remembered geometry goes here, not into the user's settings.
    QTemporaryDir settings;
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), settings.path());
    for (auto _ : state) {
        QProcess panel;
        panel.setProcessEnvironment(environment);
        panel.start(QStringLiteral(QM_PANEL_PROGRAM),
                    {QStringLiteral("--simulate"), QStringLiteral("--exit-when-shown")});
        if (!panel.waitForFinished(20000) || panel.exitStatus() != QProcess::NormalExit ||
            panel.exitCode() != 0) {
            const QByteArray said = panel.readAllStandardError();
            state.SkipWithError(("the panel did not start and end cleanly: " + said).constData());
            break;
        }
    }
}

class FirstPaint : public QObject {
public:
    bool painted = false;
    bool eventFilter(QObject *watched, QEvent *event) override {
        painted = painted || event->type() == QEvent::Paint;
        return QObject::eventFilter(watched, event);
    }
};

void windowShown(benchmark::State &state) {
    startSimulation("QM4434");
    for (auto _ : state) {
        FirstPaint paint;
        MainWindow window;
        window.installEventFilter(&paint);
        window.show();
        const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (!paint.painted && std::chrono::steady_clock::now() < giveUp)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        if (!paint.painted) {
            state.SkipWithError("the window was never painted");
            break;
        }
        window.removeEventFilter(&paint);
    }
    stopSimulation();
}

} // namespace

BENCHMARK(panelProcess)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(20);
BENCHMARK(windowShown)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(1.0);
