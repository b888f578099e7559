// A clock that does not wait: a sleep moves its time on at once and is
// recorded, so tests and benchmarks run the power-up waits without sleeping and
// can still see which waits were asked for.
#pragma once

#include "link/clock.h"

#include <memory>
#include <vector>

class FakeClock {
public:
    explicit FakeClock(const QDateTime &start = QDateTime(QDate(2026, 1, 1), QTime(0, 0), Qt::UTC))
        : state(std::make_shared<State>()) {
        state->now = start;
    }

    // The clock to hand to the code under test; it shares this one's time, and
    // stays valid after this object is gone.
    Clock clock() const {
        const std::shared_ptr<State> shared = state;
        Clock result;
        result.now = [shared] { return shared->now; };
        result.sleep = [shared](long ms) {
            shared->waits.push_back(ms);
            shared->now = shared->now.addMSecs(ms);
        };
        return result;
    }

    QDateTime now() const { return state->now; }
    // Time moved as a test needs it: on, or back to replay a moment.
    void advance(long ms) { state->now = state->now.addMSecs(ms); }
    void set(const QDateTime &time) { state->now = time; }
    // The waits asked for so far, in milliseconds, in order.
    std::vector<long> waits() const { return state->waits; }

private:
    struct State {
        QDateTime now;
        std::vector<long> waits;
    };
    std::shared_ptr<State> state;
};
