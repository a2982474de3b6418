#pragma once
// The computer clock's time of day.
#include <QTime>

class IClock {
public:
    virtual ~IClock() = default;
    virtual QTime timeOfDay() = 0;
};

class SystemClock final : public IClock {
public:
    QTime timeOfDay() override { return QTime::currentTime(); }
};
