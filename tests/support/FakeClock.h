#pragma once
// A clock that stands still until told otherwise: a fixed time for tests that
// only need one, set or moved on by tests that move the time between readings.
// A bare time of day lies on 10 December 2026. Header-only, so it needs no
// test framework.
#include <QDateTime>
#include <QTime>
#include <utility>

#include "platform/Clock.h"

class FakeClock final : public IClock {
public:
    explicit FakeClock(QTime time = QTime(12, 34, 56)) : now_(QDate(2026, 12, 10), time) {}
    explicit FakeClock(QDateTime now) : now_(std::move(now)) {}
    void set(QDateTime now) { now_ = std::move(now); }
    void advance(int ms) { now_ = now_.addMSecs(ms); }
    QTime timeOfDay() override { return now_.time(); }
    QDateTime now() override { return now_; }

private:
    QDateTime now_;
};
