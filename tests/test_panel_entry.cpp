// The program as a whole: options, the one failure box for a missing board and
// for a board lost while polling, the "IVR not powered." path, the chosen board,
// the remembered window geometry and the pictured window (at 192 dpi too). Each
// case runs the panel's entry function with its own application object; a hook
// queued at the application's construction plays the user.
#include "app/mainwindow.h"
#include "app/run_panel.h"
#include "link/link_errors.h"
#include "stdout_capture.h"
#include "tests/support/fake_clock.h"
#include "widgets/status_indicator.h"
#include "window_test_support.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QPushButton>
#include <QSettings>
#include <QSlider>
#include <QTemporaryDir>
#include <QToolButton>
#include <QtTest>
#include <functional>
#include <memory>

namespace {
// Played once the application of the next run exists.
std::function<void()> scenario;

void startScenario() {
    QMetaObject::invokeMethod(
        QCoreApplication::instance(),
        [] {
            if (scenario)
                scenario();
        },
        Qt::QueuedConnection);
}

MainWindow *shownWindow() {
    for (QWidget *w : QApplication::topLevelWidgets()) {
        if (auto *window = qobject_cast<MainWindow *>(w); window && window->isVisible())
            return window;
    }
    return nullptr;
}

// The run's clock: the window's and the board's waits pass without sleeping.
FakeClock clock;

// Runs the polling timer of the shown window at every pass of the event loop
// (a tick always due), and calls `afterTick` with the count after each tick.
void pollFast(std::function<void(int)> afterTick) {
    QTimer *poll = shownWindow()->findChild<QTimer *>("pollTimer");
    poll->setInterval(0);
    auto ticks = std::make_shared<int>(0);
    QObject::connect(poll, &QTimer::timeout, poll, [ticks, afterTick] { afterTick(++*ticks); });
}

int run(QStringList args) {
    args.prepend("qm44xx-panel");
    std::vector<QByteArray> storage;
    std::vector<char *> argv;
    for (const QString &a : args)
        storage.push_back(a.toLocal8Bit());
    for (QByteArray &a : storage)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    int argc = int(args.size());
    return runPanel(argc, argv.data(), clock.clock());
}

// Runs the program as run() does with no display: neither X, nor Wayland, nor a
// Qt platform named (read when its application object is made).
int runWithoutDisplay(const QStringList &args) {
    const char *const names[] = {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"};
    QList<QByteArray> saved;
    for (const char *name : names) {
        saved << qgetenv(name);
        qunsetenv(name);
    }
    const int result = run(args);
    for (int i = 0; i < saved.size(); ++i) {
        if (!saved[i].isNull())
            qputenv(names[i], saved[i]);
    }
    return result;
}
} // namespace

class PanelEntryTest : public QObject {
    Q_OBJECT

    QList<SeenBox> boxes;
    bool windowSeen = false;
    QTemporaryDir settingsDir; // the runs' QSettings, away from the user's
    std::unique_ptr<ModalWatcher> watcher;

    // Watches the run's boxes, and whether a window was shown under one.
    void watch() {
        scenario = [this] {
            watcher = std::make_unique<ModalWatcher>([this](QWidget *box) {
                windowSeen = windowSeen || shownWindow();
                QMetaObject::invokeMethod(box, "reject", Qt::QueuedConnection);
            });
        };
    }
    void collect() {
        if (watcher)
            boxes = watcher->seen;
        watcher.reset();
    }

private Q_SLOTS:
    void initTestCase() {
        hermeticHidBus();
        qAddPreRoutine(startScenario);
        QVERIFY(settingsDir.isValid());
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settingsDir.path());
    }
    void init() {
        boxes.clear();
        windowSeen = false;
        QSettings(QStringLiteral("qm44xx"), QStringLiteral("qm44xx-panel")).clear();
    }
    void cleanup() {
        scenario = nullptr;
        stopSimulation();
    }

    void withoutABoardOnlyTheBoxIsShown() {
        watch();
        QString err = QString::fromStdString(captureStderr([] { QCOMPARE(run({}), 0); }));
        collect();
        QCOMPARE(said(boxes),
                 QStringList{"QM44xxC-EVAL: Unable to connect: Motherboard not found."});
        QVERIFY(!windowSeen);
        // The same on standard error, for a terminal or a log.
        QVERIFY2(
            err.split('\n').contains("qm44xx-panel: Unable to connect: Motherboard not found."),
            qPrintable(err));

        startSimulation("QM4434").refuseOpen(EACCES);
        watch();
        err = QString::fromStdString(captureStderr([] { QCOMPARE(run({}), 0); }));
        collect();
        QCOMPARE(said(boxes), QStringList{"QM44xxC-EVAL: Unable to connect: Error opening "
                                          "motherboard USB connection: 13."});
        // Standard error adds what 13 means and how a user gets the node.
        const QStringList lines = err.split('\n', Qt::SkipEmptyParts);
        QCOMPARE(lines.mid(lines.size() - 2),
                 QStringList({"qm44xx-panel: Unable to connect: Error opening motherboard USB "
                              "connection: 13.",
                              "qm44xx-panel: " + QString::fromStdString(linkErrorHint(
                                                     "Error opening motherboard USB connection: "
                                                     "13"))}));
        QVERIFY(lines.last().contains("70-qm44xx-bridge.rules"));
    }

    // --help and --version answer on standard output, without a display and
    // before anything starts; anything the panel does not know, once Qt has
    // taken its own options, gives the usage on standard error and exit code 1,
    // as an unknown model and a missing display do, nothing started.
    void commandLineConventions() {
        QCOMPARE(run({"--simulate=QM9999"}), 1);
        QCOMPARE(runWithoutDisplay({"--simulate"}), 1);
        QVERIFY(!simulation());
        int result = -1;
        QString out = QString::fromStdString(captureStdout([&] {
            result = runWithoutDisplay({"--help", "--simulate"});
        }));
        QCOMPARE(result, 0);
        QVERIFY2(out.startsWith("Usage: qm44xx-panel [options]\n"), qPrintable(out));
        QCOMPARE(QString::fromStdString(captureStdout([&] { result = run({"-h"}); })), out);
        for (const char *option : {"--version", "-v"}) {
            out = QString::fromStdString(
                captureStdout([&] { result = runWithoutDisplay({option}); }));
            QCOMPARE(result, 0);
            QCOMPARE(out, QString("qm44xx-panel " QM_VERSION "\n"));
        }
        QVERIFY(!simulation());

        struct Bad {
            QStringList args;
            QString said;
        };
        const QList<Bad> bad = {
            {{"--simulate", "--bogus"}, "qm44xx-panel: Unknown option 'bogus'."},
            {{"-platform", "offscreen", "-x"}, "qm44xx-panel: Unknown option 'x'."},
            {{"--simulate", "stray"}, "qm44xx-panel: Unexpected argument 'stray'."},
            {{"--exit-when-shown=1"}, "qm44xx-panel: Unexpected value after '--exit-when-shown'."}};
        for (const Bad &b : bad) {
            const QString err =
                QString::fromStdString(captureStderr([&] { result = run(b.args); }));
            QCOMPARE(result, 1);
            QVERIFY2(err.contains(b.said + "\n\nUsage: qm44xx-panel [options]\n"), qPrintable(err));
            QVERIFY(!simulation());
        }

        // Qt's own options still reach Qt, among the panel's own; a single-dash
        // word is never read as one-letter options (-reverse is no -v).
        QString platform;
        QString desktopFile;
        scenario = [&] {
            platform = QGuiApplication::platformName();
            desktopFile = QGuiApplication::desktopFileName();
        };
        out = QString::fromStdString(captureStdout([&] {
            result =
                run({"-platform", "minimal", "--simulate=QM4422", "-reverse", "--exit-when-shown"});
        }));
        QCOMPARE(result, 0);
        QVERIFY2(!out.contains("qm44xx-panel " QM_VERSION), qPrintable(out));
        QCOMPARE(platform, QString("minimal"));
        QCOMPARE(desktopFile, QString("io.github.qm44xx.panel"));
        QCOMPARE(QString::fromStdString(simulation()->chip().model().chip_name), QString("QM4422"));
    }

    // Faults of the link and the chip, injected at each stage of a session. Each
    // ends with the box within two seconds of the fault, or, where the link still
    // carries the exchange, with no box at all.
    void faultMatrix_data() {
        QTest::addColumn<QString>("stage");
        QTest::addColumn<QString>("fault");
        QTest::addColumn<QString>("box");
        auto row = [](const char *stage, const char *fault, const QString &box) {
            QTest::addRow("%s, %s", stage, fault) << stage << fault << box;
        };
        const QString write19 = "Unable to connect: Error during USB write: 19.";
        const QString read110 = "Unable to connect: Error during USB read: 110.";
        row("power-on", "unplug", "Unable to connect: Error during USB read: 19.");
        row("power-on", "stall", read110);
        row("polling", "unplug", write19);
        row("polling", "stall", read110);
        row("polling", "short", "Unable to connect: Error during USB read: 5.");
        row("polling", "empty", read110);
        row("polling", "silent", "");
        row("commit", "unplug", write19);
        row("commit", "stall", read110);
        row("close", "unplug", write19);
        row("close", "stall", "");
    }
    void faultMatrix() {
        QFETCH(QString, stage);
        QFETCH(QString, fault);
        QFETCH(QString, box);
        SimulatedBridge &bridge = startSimulation("QM4434");
        // A stalled bridge's time-out comes at once; what a real one would have
        // made the panel wait until its box is counted instead.
        bridge.setTimeoutWait(false);
        long waitedBefore = 0, toBox = -1;
        QString overTemperature;
        scenario = [&] {
            watcher = std::make_unique<ModalWatcher>([&](QWidget *shown) {
                toBox = bridge.timeoutWaitedMs() - waitedBefore;
                QMetaObject::invokeMethod(shown, "reject", Qt::QueuedConnection);
            });
            QTimer::singleShot(0, [&] {
                MainWindow *w = shownWindow();
                auto *power = w->findChild<QPushButton *>("pvin_on_btn");
                if (stage == "power-on") {
                    // EN goes out; the first probe's report is the last to get through.
                    fault == "unplug" ? bridge.unplugAfterReports(2) : bridge.stallAfterReports(2);
                    QTest::mouseClick(power, Qt::LeftButton);
                    return;
                }
                QTest::mouseClick(power, Qt::LeftButton);
                // Two good ticks, then the fault; a silent chip is looked at one
                // tick later.
                pollFast([&, w](int tick) {
                    if (tick == 2) {
                        waitedBefore = bridge.timeoutWaitedMs();
                        injectFault(bridge, fault);
                        if (stage == "commit")
                            w->findChild<QSlider *>("horizontalSlider_5")->setValue(100);
                        if (stage == "close")
                            w->findChild<QAction *>("actionExit")->trigger();
                    } else if (tick == 3 && fault == "silent") {
                        overTemperature = shown(w->findChild<StatusIndicator *>("oTemp"));
                        w->close();
                    }
                });
            });
        };
        QCOMPARE(run({}), 0);
        collect();
        QCOMPARE(said(boxes), box.isEmpty() ? QStringList() : QStringList{"QM44xxC-EVAL: " + box});
        if (!box.isEmpty()) // one time-out at most, never a retry
            QCOMPARE(toBox, fault == "stall" ? 1000L : 0L);
        // A silent chip reads 0xFF everywhere: shown as it answers, every flag raised.
        if (fault == "silent")
            QCOMPARE(overTemperature, QString("FAIL"));
    }

    // After a failure the window stays as it was under the box, but its polling
    // has stopped: nothing more reaches the board, though the link works again.
    void pollingStopsUnderTheErrorBox() {
        SimulatedBridge &bridge = startSimulation("QM4434");
        long reportsAtBox = -1;
        long reportsLater = -1;
        scenario = [&] {
            watcher = std::make_unique<ModalWatcher>([&](QWidget *shown) {
                reportsAtBox = bridge.reportCount();
                for (int i = 0; i < 5; ++i) // ticks would be due at every pass
                    QCoreApplication::processEvents();
                reportsLater = bridge.reportCount();
                QMetaObject::invokeMethod(shown, "reject", Qt::QueuedConnection);
            });
            QTimer::singleShot(0, [&] {
                QTest::mouseClick(shownWindow()->findChild<QPushButton *>("pvin_on_btn"),
                                  Qt::LeftButton);
                pollFast([&](int tick) {
                    if (tick == 1) // one answer too short, the next ones whole
                        bridge.replaceNextAnswer({0x00, 0x00});
                });
            });
        };
        QCOMPARE(run({}), 0);
        collect();
        QCOMPARE(said(boxes),
                 QStringList{"QM44xxC-EVAL: Unable to connect: Error during USB read: 5."});
        QVERIFY(reportsAtBox > 0);
        QCOMPARE(reportsLater, reportsAtBox);
    }

    void noChipAnsweringClosesAfterTheBoxAndSendsNothingMore() {
        SimulatedBridge &bridge = startSimulation("QM4434");
        watch();
        scenario = [&, watchBoxes = scenario] {
            watchBoxes();
            QTimer::singleShot(0, [&] {
                // A first power cycle leaves the sliders on the chip's targets;
                // then the chip stops answering and the power button is pressed.
                auto *power = shownWindow()->findChild<QPushButton *>("pvin_on_btn");
                QTest::mouseClick(power, Qt::LeftButton);
                QTest::mouseClick(power, Qt::LeftButton);
                bridge.setChipSilent(true);
                bridge.clearTraffic();
                QTest::mouseClick(power, Qt::LeftButton);
            });
        };
        QCOMPARE(run({}), 0);
        collect();
        QCOMPARE(said(boxes), QStringList{"QM44xxC-DEMO: IVR not powered."});
        // The six probes, then EN low and PVIN off: nothing is written, and no
        // settings are read from the fallback's address 0x00, the general call.
        QCOMPARE(busWrites(bridge), QStringList());
        const QStringList heads = reportHeads(bridge);
        QCOMPARE(heads.first(), QString("30 01 01"));
        QCOMPARE(heads.mid(heads.size() - 2), (QStringList{"30 01 00", "20 01 00"}));
        QCOMPARE(heads.size(), 1 + 6 + 2);
        QVERIFY(!bridge.pvin());
    }

    // --device opens the bridge at that path: here the second of two simulated
    // boards, which alone sees the power-up.
    void deviceChoosesTheBoard() {
        scenario = [] {
            QTimer::singleShot(0, [] {
                shownWindow()->findChild<QPushButton *>("pvin_on_btn")->click();
                shownWindow()->findChild<QAction *>("actionExit")->trigger();
            });
        };
        QCOMPARE(run({"--simulate=QM4434", "--simulate=QM4422", "--device", "sim:QM4422-2"}), 0);
        const std::vector<SimulatedBridge *> boards = simulations();
        QCOMPARE(int(boards.size()), 2);
        QCOMPARE(reportHeads(*boards[0]), QStringList());
        QCOMPARE(reportHeads(*boards[1]).first(), QString("30 01 01"));
    }

    // The window comes back where, and as large as, it was left.
    void windowGeometryIsRemembered() {
        QRect first, left, second;
        scenario = [&] {
            QTimer::singleShot(0, [&] {
                MainWindow *w = shownWindow();
                first = w->geometry();
                w->setGeometry(60, 50, 1100, 820);
                left = w->geometry();
                w->close();
            });
        };
        QCOMPARE(run({"--simulate"}), 0);
        scenario = [&] {
            QTimer::singleShot(0, [&] {
                second = shownWindow()->geometry();
                shownWindow()->close();
            });
        };
        QCOMPARE(run({"--simulate"}), 0);
        QCOMPARE(left.size(), QSize(1100, 820));
        QVERIFY(first.size() != left.size());
        QCOMPARE(second, left);
    }

    // The powered window as the README's pictures show it, VR3 over its target.
    // At 192 dpi it is drawn at twice the pixels, and the Program group, whose
    // children are placed by hand, shows them whole, inside it. Saved
    // to QM44XX_SCREENSHOT (QM44XX_SCREENSHOT_192 at 192 dpi) when set, else into
    // the build tree. Qt reads the font dpi once per process, so the run at 192
    // dpi is a process of its own (ctest's test_panel_entry_192dpi).
    void thePicturedWindow() {
        const bool doubled = qgetenv("QT_FONT_DPI") == "192";
        QImage image;
        QSize size;
        QStringList clipped;
        QString overVoltage;
        scenario = [&] {
            QTimer::singleShot(0, [&] {
                MainWindow *w = shownWindow();
                QTest::mouseClick(w->findChild<QPushButton *>("pvin_on_btn"), Qt::LeftButton);
                w->findChild<QCheckBox *>("vr1enable")->setChecked(true);
                w->findChild<QCheckBox *>("vr3enable")->setChecked(true);
                w->findChild<QSlider *>("horizontalSlider_7")->setValue(140);
                w->findChild<QComboBox *>("dvsRate1")->setCurrentIndex(5);
                simulation()->chip().setPageFault(3, true, false, false);
                QTest::mouseClick(w->findChild<QToolButton *>("telemButton"), Qt::LeftButton);
                pollFast([&, w](int tick) {
                    if (tick != 8) // the means then hold eight samples
                        return;
                    auto *program = w->findChild<QWidget *>("groupBox_4");
                    for (auto *child : program->findChildren<QAbstractButton *>()) {
                        if (!doubled)
                            break;
                        const QFontMetrics metrics = child->fontMetrics();
                        const bool whole =
                            program->contentsRect().contains(child->geometry()) &&
                            metrics.ascent() + metrics.descent() <= child->height() &&
                            metrics.horizontalAdvance(child->text()) < child->width();
                        if (!whole)
                            clipped << child->objectName();
                    }
                    overVoltage = shown(w->findChild<StatusIndicator *>("vr3ov"));
                    size = w->size();
                    image = w->grab().toImage();
                    w->close();
                });
            });
        };
        QCOMPARE(run({"--simulate"}), 0);
        QCOMPARE(clipped.join(","), QString());
        QCOMPARE(overVoltage, QString("WARN"));
        QCOMPARE(image.size(), doubled ? size * 2 : size);
        const char *variable = doubled ? "QM44XX_SCREENSHOT_192" : "QM44XX_SCREENSHOT";
        const QString path =
            qEnvironmentVariableIsSet(variable)
                ? qEnvironmentVariable(variable)
                : QDir::current().filePath(doubled ? "panel-192dpi.png" : "panel.png");
        QVERIFY(image.save(path));
    }
};

QTEST_APPLESS_MAIN(PanelEntryTest)
#include "test_panel_entry.moc"
