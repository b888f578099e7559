// The program as a whole: options, the one failure box for a missing board and
// for a board lost while polling, the "IVR not powered." path, and a normal
// exit. Each case runs the panel's entry function with its own application
// object; a hook queued at the application's construction plays the user.
#include "app/mainwindow.h"
#include "app/run_panel.h"
#include "window_test_support.h"

#include <QAction>
#include <QElapsedTimer>
#include <QPushButton>
#include <QtTest>
#include <functional>

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
    return runPanel(argc, argv.data());
}
} // namespace

class PanelEntryTest : public QObject {
    Q_OBJECT

    QList<SeenBox> boxes;
    bool windowSeen = false;
    std::unique_ptr<ModalWatcher> watcher;

    // Watches the run's boxes; `onBox` may act on each one before it is closed.
    void watch(std::function<void(QWidget *)> onBox = {}) {
        scenario = [this, onBox] {
            watcher = std::make_unique<ModalWatcher>([this, onBox](QWidget *box) {
                windowSeen = windowSeen || shownWindow();
                if (onBox)
                    onBox(box);
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
    }
    void init() {
        boxes.clear();
        windowSeen = false;
    }
    void cleanup() {
        scenario = nullptr;
        stopSimulation();
    }

    void withoutABoardOnlyTheBoxIsShown() {
        watch();
        QCOMPARE(run({}), 0);
        collect();
        QCOMPARE(boxes.size(), 1);
        QCOMPARE(boxes[0].title, QString("QM44xxC-EVAL"));
        QCOMPARE(boxes[0].text, QString("Unable to connect: Motherboard not found."));
        QVERIFY(!windowSeen);

        startSimulation("QM4434").refuseOpen(EACCES);
        watch();
        QCOMPARE(run({}), 0);
        collect();
        QCOMPARE(boxes.size(), 1);
        QCOMPARE(boxes[0].text,
                 QString("Unable to connect: Error opening motherboard USB connection: 13."));
    }

    void badOptionsAndNoDisplay() {
        QCOMPARE(run({"--simulate=QM9999"}), 1);
        const QByteArray platform = qgetenv("QT_QPA_PLATFORM");
        const QByteArray display = qgetenv("DISPLAY");
        qunsetenv("QT_QPA_PLATFORM");
        qunsetenv("DISPLAY");
        qunsetenv("WAYLAND_DISPLAY");
        const int result = run({"--simulate"});
        qputenv("QT_QPA_PLATFORM", platform);
        if (!display.isEmpty())
            qputenv("DISPLAY", display);
        QCOMPARE(result, 1);
        QVERIFY(!simulation()); // nothing was started
    }

    void aBoardLostWhilePollingEndsWithTheBoxInTime_data() {
        QTest::addColumn<bool>("stall");
        QTest::addColumn<QString>("text");
        QTest::newRow("unplugged") << false << "Unable to connect: Error during USB write: 19.";
        QTest::newRow("stalled") << true << "Unable to connect: Error during USB read: 110.";
    }
    void aBoardLostWhilePollingEndsWithTheBoxInTime() {
        QFETCH(bool, stall);
        QFETCH(QString, text);
        SimulatedBridge &bridge = startSimulation("QM4434");
        QElapsedTimer lost;
        qint64 toBox = -1;
        scenario = [&] {
            watcher = std::make_unique<ModalWatcher>([&](QWidget *box) {
                toBox = lost.elapsed();
                QMetaObject::invokeMethod(box, "reject", Qt::QueuedConnection);
            });
            QTimer::singleShot(0, [&] {
                QTest::mouseClick(shownWindow()->findChild<QPushButton *>("pvin_on_btn"),
                                  Qt::LeftButton);
                // Polling now; let a few ticks pass, then lose the board.
                QTimer::singleShot(600, [&] {
                    stall ? bridge.stall(true) : bridge.unplug();
                    lost.start();
                });
            });
        };
        QCOMPARE(run({"--simulate"}), 0);
        collect();
        QCOMPARE(boxes.size(), 1);
        QCOMPARE(boxes[0].text, text);
        QVERIFY2(toBox >= 0 && toBox < 2000, qPrintable(QString::number(toBox)));
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
        QCOMPARE(boxes.size(), 1);
        QCOMPARE(boxes[0].title, QString("QM44xxC-DEMO"));
        QCOMPARE(boxes[0].text, QString("IVR not powered."));
        // Probes and refresh reads, then EN low and PVIN off: nothing is written,
        // least of all to the fallback's address 0x00, the general call.
        QCOMPARE(busWrites(bridge), QStringList());
        const QStringList heads = reportHeads(bridge);
        QCOMPARE(heads.first(), QString("30 01 01"));
        QCOMPARE(heads.mid(heads.size() - 2), (QStringList{"30 01 00", "20 01 00"}));
        QCOMPARE(heads.size(), 1 + 6 + 8 + 2);
        QVERIFY(!bridge.pvin());
    }

    void exitEndsNormally() {
        QVERIFY(!simulation());
        scenario = [] {
            QTimer::singleShot(
                0, [] { shownWindow()->findChild<QAction *>("actionExit")->trigger(); });
        };
        QCOMPARE(run({"--simulate=QM4411"}), 0);
        QVERIFY(simulation()); // started by --simulate
        QCOMPARE(reportHeads(*simulation()), (QStringList{"30 01 00", "20 01 00"}));
    }
};

QTEST_APPLESS_MAIN(PanelEntryTest)
#include "test_panel_entry.moc"
