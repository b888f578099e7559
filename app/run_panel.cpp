#include "app/run_panel.h"

#include "app/bench_menus.h"
#include "app/mainwindow.h"
#include "app/panel_application.h"
#include "app/panel_options.h"
#include "link/link_errors.h"
#include "sim/simulation.h"

#include <QEvent>
#include <QMessageBox>
#include <QSettings>
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
    const QString message = QStringLiteral("Unable to connect: %1.").arg(text);
    // Also for a terminal or a log: the box may be closed unread, or never seen.
    std::fprintf(stderr, "qm44xx-panel: %s\n", message.toLocal8Bit().constData());
    // What an error number means, and for a node only root may open, the rule
    // that gives it to the user: the box keeps the link's own text.
    const std::string hint = linkErrorHint(text.toStdString());
    if (!hint.empty())
        std::fprintf(stderr, "qm44xx-panel: %s\n", hint.c_str());
    std::fflush(stderr);
    QMessageBox::critical(nullptr, QStringLiteral("QM44xxC-EVAL"), message, QMessageBox::Ok,
                          QMessageBox::NoButton);
}

const QString GEOMETRY_KEY = QStringLiteral("window/geometry");

void restoreWindowGeometry(QWidget &window) {
    const QByteArray saved = QSettings().value(GEOMETRY_KEY).toByteArray();
    if (!saved.isEmpty())
        window.restoreGeometry(saved);
}

void saveWindowGeometry(const QWidget &window) {
    QSettings().setValue(GEOMETRY_KEY, window.saveGeometry());
}

QStringList argumentList(int argc, char **argv) {
    QStringList list;
    for (int i = 0; i < argc; ++i)
        list << QString::fromLocal8Bit(argv[i]);
    return list;
}

void printTo(FILE *stream, const QString &text) {
    std::fputs(text.toLocal8Bit().constData(), stream);
    std::fflush(stream);
}

} // namespace

int runPanel(int &argc, char **argv, const Clock &clock) {
    PanelApplication::describeProgram();
    PanelCommandLine commandLine;
    PanelOptions options;
    QString error;

    // First reading, before anything starts: --help and --version need no
    // display, and a bad model fails at once. Qt's own options are still there.
    if (!commandLine.read(argumentList(argc, argv), options, error, true)) {
        printTo(stderr, QStringLiteral("qm44xx-panel: %1\n").arg(error));
        return 1;
    }
    if (options.help || options.version) {
        QCoreApplication application(argc, argv); // the help names the program as started
        printTo(stdout, options.help ? commandLine.helpText()
                                     : PanelCommandLine::versionText() + QLatin1Char('\n'));
        return 0;
    }
    if (!displayAvailable(argc, argv)) {
        std::fprintf(stderr, "qm44xx-panel: no display found: run it on a desktop, under xvfb-run "
                             "(Debian package xvfb), or with QT_QPA_PLATFORM=offscreen\n");
        return 1;
    }

    // Sizes in device-independent pixels: at 192 dpi the window is drawn twice
    // as large, and the Program group, whose children are placed by hand, fits.
    QCoreApplication::setAttribute(Qt::AA_EnableHighDpiScaling);
    PanelApplication app(argc, argv);
    // Second reading: the application has taken Qt's options, so anything left
    // that is not the panel's own is a mistake.
    if (!commandLine.read(app.arguments(), options, error)) {
        printTo(stderr,
                QStringLiteral("qm44xx-panel: %1\n\n%2").arg(error, commandLine.helpText()));
        return 1;
    }

    // The board: the one named with --device, else the first bridge found (a
    // simulated one ahead of any real one).
    for (size_t i = 0; i < options.models.size(); ++i) {
        if (i == 0)
            startSimulation(options.models[i]);
        else
            addSimulation(options.models[i]);
    }

    ExitWhenPainted exitWhenPainted; // outlives the window it watches
    std::unique_ptr<MainWindow> window;
    QString failure;
    try {
        window.reset(new MainWindow(options.device));
        window->setClock(clock);
        new BenchMenus(window.get(), clock); // owned by the window
        if (options.exitWhenShown)
            window->installEventFilter(&exitWhenPainted);
        restoreWindowGeometry(*window);
        window->show();
        const int result = app.exec();
        if (!app.failed()) {
            saveWindowGeometry(*window);
            return result;
        }
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
