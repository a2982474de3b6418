#pragma once
// A clock that tells the time it is set to: a fixed time for tests that only
// need one, and a settable one for tests that move the time between readings.
// Header-only, so it needs no test framework.
#include <QTime>

#include "platform/Clock.h"

class FakeClock final : public IClock {
public:
    explicit FakeClock(QTime time = QTime(12, 34, 56)) : now(time) {}
    QTime timeOfDay() override { return now; }

    QTime now;  // what timeOfDay() tells
};
