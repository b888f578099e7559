#include "app/run_panel.h"

#include "app/bench_menus.h"
#include "app/mainwindow.h"
#include "app/panel_application.h"
#include "sim/simulation.h"

#include <QEvent>
#include <QMessageBox>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace {

bool hasPlatformOption(int argc, char **argv) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "-platform") == 0 || std::strcmp(argv[i], "--platform") == 0)
            return true;
    }
    return false;
}

bool displayAvailable(int argc, char **argv) {
    auto set = [](const char *name) {
        const char *value = std::getenv(name);
        return value && *value;
    };
    return set("DISPLAY") || set("WAYLAND_DISPLAY") || set("QT_QPA_PLATFORM") ||
           hasPlatformOption(argc, argv);
}

// --exit-when-shown: leaves the event loop once the window has been painted for
// the first time (for measuring start-up); nothing else changes.
constexpr const char *EXIT_WHEN_SHOWN = "--exit-when-shown";

class ExitWhenPainted : public QObject {
public:
    bool eventFilter(QObject *watched, QEvent *event) override {
        if (event->type() == QEvent::Paint && !done) {
            done = true; // after this paint has been drawn and flushed
            QMetaObject::invokeMethod(QCoreApplication::instance(), &QCoreApplication::quit,
                                      Qt::QueuedConnection);
        }
        return QObject::eventFilter(watched, event);
    }

private:
    bool done = false;
};

void showFailure(const QString &text) {
    QMessageBox::critical(nullptr, QStringLiteral("QM44xxC-EVAL"),
                          QStringLiteral("Unable to connect: %1.").arg(text), QMessageBox::Ok,
                          QMessageBox::NoButton);
}

} // namespace

int runPanel(int &argc, char **argv) {
    std::string model, error;
    bool simulate = false;
    bool exitWhenShown = false;
    for (int i = 1; i < argc; ++i) {
        simulate = parseSimulateArgument(argv[i], model, error) || simulate;
        exitWhenShown = exitWhenShown || std::strcmp(argv[i], EXIT_WHEN_SHOWN) == 0;
    }
    if (!error.empty()) {
        std::fprintf(stderr, "qm44xx-panel: %s\n", error.c_str());
        return 1;
    }
    if (!displayAvailable(argc, argv)) {
        std::fprintf(stderr, "qm44xx-panel: no display found: run it on a desktop, under xvfb-run "
                             "(Debian package xvfb), or with QT_QPA_PLATFORM=offscreen\n");
        return 1;
    }
    if (simulate)
        startSimulation(model);

    PanelApplication app(argc, argv);
    ExitWhenPainted exitWhenPainted; // outlives the window it watches
    std::unique_ptr<MainWindow> window;
    QString failure;
    try {
        window.reset(new MainWindow());
        new BenchMenus(window.get()); // owned by the window
        if (exitWhenShown)
            window->installEventFilter(&exitWhenPainted);
        window->show();
        const int result = app.exec();
        if (!app.failed())
            return result;
        failure = app.failure();
    } catch (const std::string &text) {
        failure = QString::fromUtf8(text.data(), int(text.size()));
    }
    // The window stays as the failure left it, but polls no more.
    if (window) {
        for (QTimer *timer : window->findChildren<QTimer *>())
            timer->stop();
    }
    showFailure(failure);
    return 0;
}
