// The panel's window on the simulated board, for tests and benchmarks: the
// simulation started with a chip of the given model, the window built on it with
// a FakeClock (powering up does not wait) and shown. A stalled bridge reports its
// time-out at once instead of after a second. The simulation is process-wide, so
// one exists at a time; destroying it takes the window, then the board, away.
#pragma once

#include "app/mainwindow.h"
#include "sim/simulation.h"
#include "tests/support/fake_clock.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QCoreApplication>
#include <QStringList>
#include <QTimer>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>

class SimulatedPanel {
public:
    explicit SimulatedPanel(const std::string &model = DEFAULT_SIMULATED_MODEL, bool show = true)
        : simulated(startSimulation(model)) {
        simulated.setTimeoutWait(false);
        win = std::make_unique<MainWindow>();
        win->setClock(fakeClock.clock());
        if (show) {
            win->show();
            settle();
        }
    }
    ~SimulatedPanel() {
        win.reset();
        stopSimulation();
    }
    SimulatedPanel(const SimulatedPanel &) = delete;
    SimulatedPanel &operator=(const SimulatedPanel &) = delete;

    MainWindow &window() { return *win; }
    MainWindow &operator*() { return *win; }
    MainWindow *operator->() { return win.get(); }
    SimulatedBridge &bridge() { return simulated; }
    FakeClock &clock() { return fakeClock; }

    // The power button pressed: EN high, the chip identified, polling started.
    void powerOn() {
        child<QAbstractButton>("pvin_on_btn")->click();
        if (!child<QWidget>("loadButton")->isEnabled())
            throw std::runtime_error("no chip was identified at power-on");
    }
    // Execute on Change and the enable box of every enabled panel ticked, each
    // change committed at once.
    void enableOutputs() {
        child<QAbstractButton>("autoExecCB")->setChecked(true);
        for (const char *name : {"vr1enable", "vr2enable", "vr3enable"}) {
            auto *enable = child<QAbstractButton>(name);
            if (enable->isEnabled())
                enable->setChecked(true);
        }
    }
    // The window's polling timer: its timeout runs timerLoop.
    QTimer *pollTimer() { return child<QTimer>("pollTimer"); }
    // Polling stopped, so that the caller ticks (timerLoop) itself.
    void stopPolling() { pollTimer()->stop(); }

    // Telem on: the tick's traffic goes to the log (Active is on from the start).
    void telem(bool on) { child<QAbstractButton>("telemButton")->setChecked(on); }
    QAbstractItemView *list() { return child<QAbstractItemView>("listView"); }
    QAbstractItemModel *log() { return list()->model(); }
    QStringList logRows() {
        QStringList rows;
        for (int r = 0; r < log()->rowCount(); ++r)
            rows << log()->index(r, 0).data().toString();
        return rows;
    }
    void clearLog() {
        QMetaObject::invokeMethod(win.get(), "clearMsgs");
        settle();
    }

    // The event loop's pending work done (layouts, repaints).
    static void settle() {
        for (int i = 0; i < 3; ++i)
            QCoreApplication::processEvents();
    }

    template <typename T> T *child(const char *name) {
        T *found = win->findChild<T *>(QString::fromLatin1(name));
        if (!found)
            throw std::runtime_error(std::string("the window has no ") + name);
        return found;
    }

private:
    SimulatedBridge &simulated;
    FakeClock fakeClock;
    std::unique_ptr<MainWindow> win;
};

// The window as a user leaves it while watching: a QM4434 powered and
// identified, Execute on Change on and all three outputs enabled; Telem logging
// off until telem(true). Polling is stopped so that a benchmark ticks itself,
// and the bridge records no traffic, so memory stays flat however long a run is.
class PoweredWindow : public SimulatedPanel {
public:
    // beforePower: runs on the window shown, before the power button is pressed
    // (to attach what listens to it).
    explicit PoweredWindow(const std::function<void(MainWindow &)> &beforePower = {})
        : SimulatedPanel("QM4434") {
        bridge().setRecording(false);
        if (beforePower)
            beforePower(window());
        powerOn();
        enableOutputs();
        stopPolling();
        settle();
    }
};
