#include "link/clock.h"

#include <QThread>

Clock systemClock() {
    Clock clock;
    clock.now = [] { return QDateTime::currentDateTimeUtc(); };
    clock.sleep = [](long ms) {
        if (ms > 0)
            QThread::msleep(static_cast<unsigned long>(ms));
    };
    return clock;
}
