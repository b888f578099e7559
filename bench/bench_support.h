// Shared by the benchmark programs: clean-ups that must run while the
// QApplication still exists (windows kept across benchmark runs), the event
// loop's work after a change, and the process's CPU time.
#pragma once

#include <QCoreApplication>
#include <ctime>
#include <functional>

// Runs f after the last benchmark, before the application object goes.
void atBenchmarksEnd(std::function<void()> f);

// The event loop's work that a change leaves: the view's delayed layout, then the
// repaint it asks for (one pass of processEvents may end before the second).
inline void runEventLoop() {
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();
}

// The whole process's CPU time (every thread, and the kernel's work in its
// system calls), in seconds.
inline double cpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) + 1e-9 * double(t.tv_nsec);
}
