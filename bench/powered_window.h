// The panel's window on the simulated board as a user leaves it while watching:
// shown, powered (a QM4434 identified), Auto Execute on and all three outputs
// enabled, with the polling timer stopped so that the benchmark ticks the clock
// itself. Telem logging is off until telem(true).
#pragma once

#include "app/mainwindow.h"
#include "sim/simulation.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QCoreApplication>
#include <QTimer>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>

class PoweredWindow {
public:
    // beforePower: runs on the window shown, before the power button is pressed
    // (to attach what listens to it).
    explicit PoweredWindow(const std::function<void(MainWindow &)> &beforePower = {}) {
        SimulatedBridge &bridge = startSimulation("QM4434");
        bridge.setRecording(false); // memory stays flat however long a run is
        window = std::make_unique<MainWindow>();
        window->show();
        if (beforePower)
            beforePower(*window);
        settle();
        button("pvin_on_btn")->click(); // identifies the chip and starts polling
        button("autoExecCB")->setChecked(true);
        for (const char *name : {"vr1enable", "vr2enable", "vr3enable"}) {
            QAbstractButton *enable = button(name);
            if (!enable->isEnabled())
                throw std::runtime_error(std::string(name) + " is not enabled");
            enable->setChecked(true); // committed at once
        }
        for (QTimer *timer : window->findChildren<QTimer *>(QString(), Qt::FindDirectChildrenOnly))
            timer->stop();
        settle();
    }
    ~PoweredWindow() {
        window.reset();
        stopSimulation();
    }

    MainWindow &operator*() { return *window; }
    MainWindow *operator->() { return window.get(); }

    // Telem on: the tick's traffic goes to the log (Active is on from the start).
    void telem(bool on) { button("telemButton")->setChecked(on); }
    QAbstractItemModel *log() { return list()->model(); }
    QAbstractItemView *list() {
        return window->findChild<QAbstractItemView *>(QStringLiteral("listView"));
    }
    void clearLog() {
        QMetaObject::invokeMethod(window.get(), "clearMsgs");
        settle();
    }
    static void settle() {
        for (int i = 0; i < 3; ++i)
            QCoreApplication::processEvents();
    }

private:
    QAbstractButton *button(const char *name) {
        auto *b = window->findChild<QAbstractButton *>(QString::fromLatin1(name));
        if (!b)
            throw std::runtime_error(std::string("no button ") + name);
        return b;
    }
    std::unique_ptr<MainWindow> window;
};
