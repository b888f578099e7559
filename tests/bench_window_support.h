// The real window on the simulated board (the support's SimulatedPanel) with
// the bench menus attached, on the panel's clock, which moves only when the test
// says: a tick advances it by the polling interval and runs the window's
// timerLoop, as the timer would.
#pragma once

#include "app/bench_menus.h"
#include "tests/support/simulated_panel.h"
#include "window_test_support.h"

#include <QAction>
#include <QPushButton>
#include <QtTest>

class BenchWindow {
public:
    explicit BenchWindow(const char *model) : panel(model, false) {
        panel.clock().set(QDateTime(QDate(2026, 3, 2), QTime(9, 30), Qt::UTC));
        menus = new BenchMenus(window, panel.clock().clock());
        window->show();
    }

    // The power button; the poll timer is stopped again, the test ticks itself.
    void pressPower() {
        QTest::mouseClick(widget<QPushButton>(window, "pvin_on_btn"), Qt::LeftButton);
        panel.stopPolling();
    }
    void tick(int count = 1) {
        for (int i = 0; i < count; ++i) {
            panel.clock().advance(MainWindow::POLL_INTERVAL_MS);
            QVERIFY(QMetaObject::invokeMethod(window, "timerLoop"));
        }
    }
    QAction *action(const char *name) { return widget<QAction>(window, name); }
    FakeClock &clock() { return panel.clock(); }
    QTimer *pollTimer() { return panel.pollTimer(); }

    SimulatedPanel panel;
    SimulatedBridge *bridge = &panel.bridge();
    MainWindow *window = &panel.window();
    BenchMenus *menus = nullptr;
};
