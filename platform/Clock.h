#pragma once
// The computer clock: the time of day, and the local date and time.
#include <QDateTime>
#include <QTime>
#include <QTimeZone>

class IClock {
public:
    virtual ~IClock() = default;
    virtual QTime timeOfDay() = 0;
    // The local date and time to the millisecond. A clock that knows only
    // the time of day puts it on today's date.
    virtual QDateTime now() { return QDateTime(QDate::currentDate(), timeOfDay()); }
};

// The computer's clock. The local time's offset from UTC is looked up (the
// C library reads the time zone file's status for that) at most once a
// second and again at each change of offset, such as the start of summer
// time, not for every reading: a change of the system's time zone shows
// within a second.
class SystemClock final : public IClock {
public:
    QTime timeOfDay() override { return QTime::currentTime(); }
    QDateTime now() override;

private:
    qint64 checkedAt_ = 0;   // when offset_ was looked up, ms since the epoch
    qint64 validUntil_ = 0;  // offset_ holds from checkedAt_ up to here
    int offset_ = 0;         // seconds ahead of UTC
    // Where the offset changes next. Looked up once: the offset itself comes
    // from the C library's local time at every look-up, which sees a new
    // system time zone.
    QTimeZone zone_ = QTimeZone::systemTimeZone();
};
