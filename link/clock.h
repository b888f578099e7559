// The time and the waits of the programs, replaceable so that tests run the
// power-up waits and the polling pace without sleeping.
#pragma once

#include <QDateTime>
#include <functional>

struct Clock {
    std::function<QDateTime()> now;     // UTC
    std::function<void(long ms)> sleep; // blocks the calling thread
};

// The real clock: QDateTime::currentDateTimeUtc and QThread::msleep.
Clock systemClock();
