#pragma once
// The computer clock: the time of day, and the local date and time.
#include <QDateTime>
#include <QTime>

class IClock {
public:
    virtual ~IClock() = default;
    virtual QTime timeOfDay() = 0;
    // The local date and time to the millisecond. A clock that knows only
    // the time of day puts it on today's date.
    virtual QDateTime now() { return QDateTime(QDate::currentDate(), timeOfDay()); }
};

class SystemClock final : public IClock {
public:
    QTime timeOfDay() override { return QTime::currentTime(); }
    QDateTime now() override { return QDateTime::currentDateTime(); }
};
