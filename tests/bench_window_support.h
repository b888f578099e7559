// The real window on the simulated board with the bench menus attached and a
// clock that moves only when the test says: a tick advances it by the polling
// interval and runs the window's timerLoop, as the timer would.
#pragma once

#include "app/bench_menus.h"
#include "app/mainwindow.h"
#include "link/motherboard.h"
#include "window_test_support.h"

#include <QAbstractItemView>
#include <QAction>
#include <QPushButton>
#include <QTimer>
#include <QtTest>
#include <memory>

class BenchWindow {
public:
    explicit BenchWindow(const char *model)
        : start(QDate(2026, 3, 2), QTime(9, 30), Qt::UTC), now(start) {
        bridge = &startSimulation(model);
        window = std::make_unique<MainWindow>();
        Clock clock;
        clock.now = [this] { return now; };
        clock.sleep = [this](long ms) { now = now.addMSecs(ms); };
        window->motherBoard()->setClock(clock);
        menus = new BenchMenus(window.get(), clock);
        window->show();
    }
    ~BenchWindow() {
        window.reset();
        stopSimulation();
    }

    // The power button; the poll timer is stopped again, the test ticks itself.
    void pressPower() {
        QTest::mouseClick(widget<QPushButton>(window.get(), "pvin_on_btn"), Qt::LeftButton);
        pollTimer()->stop();
    }
    QTimer *pollTimer() {
        return window->findChildren<QTimer *>(QString(), Qt::FindDirectChildrenOnly).value(0);
    }
    void tick(int count = 1) {
        for (int i = 0; i < count; ++i) {
            now = now.addMSecs(MainWindow::POLL_INTERVAL_MS);
            QVERIFY(QMetaObject::invokeMethod(window.get(), "timerLoop"));
        }
    }
    QAction *action(const char *name) { return widget<QAction>(window.get(), name); }

    QDateTime start;
    QDateTime now;
    SimulatedBridge *bridge = nullptr;
    std::unique_ptr<MainWindow> window;
    BenchMenus *menus = nullptr;
};

inline QStringList logRows(MainWindow &w) {
    QAbstractItemModel *model = widget<QAbstractItemView>(&w, "listView")->model();
    QStringList rows;
    for (int r = 0; r < model->rowCount(); ++r)
        rows << model->index(r, 0).data().toString();
    return rows;
}
