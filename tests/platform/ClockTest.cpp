#include "platform/Clock.h"

#include <QTest>
#include <QTimeZone>
#include <cstdlib>
#include <ctime>
#include <gtest/gtest.h>
#include <optional>
#include <string>

namespace {

// Runs with the process's time zone set to `zone`, and puts the one before back.
class InTimeZone {
public:
    explicit InTimeZone(const char* zone)
    {
        if (const char* tz = std::getenv("TZ"))
            previous_ = tz;
        set(zone);
    }
    ~InTimeZone()
    {
        if (previous_)
            set(previous_->c_str());
        else {
            ::unsetenv("TZ");
            ::tzset();
        }
    }
    static void set(const char* zone)
    {
        ::setenv("TZ", zone, 1);
        ::tzset();
    }

private:
    std::optional<std::string> previous_;
};

TEST(SystemClock, NowIsTheLocalTimeAndFollowsAChangeOfTimeZoneWithinASecond)
{
    SystemClock clock;
    const auto agrees = [&](int offset) {
        const QDateTime before = QDateTime::currentDateTime();
        const QDateTime now = clock.now();
        const QDateTime after = QDateTime::currentDateTime();
        EXPECT_EQ(now.offsetFromUtc(), offset);
        EXPECT_LE(before.toMSecsSinceEpoch(), now.toMSecsSinceEpoch());
        EXPECT_LE(now.toMSecsSinceEpoch(), after.toMSecsSinceEpoch());
        // The time of day the log records is the local one.
        EXPECT_LE(std::abs(now.time().msecsTo(before.time())), 1000) << now.toString(Qt::ISODateWithMs).toStdString();
    };
    InTimeZone india("Asia/Kolkata");  // no summer time
    agrees(19800);
    agrees(19800);
    InTimeZone::set("Pacific/Chatham");  // +12:45, or +13:45 in its summer
    QTest::qWait(1100);
    agrees(QDateTime::currentDateTime().offsetFromUtc());
    EXPECT_GE(clock.now().offsetFromUtc(), 12 * 3600 + 45 * 60);
}

}  // namespace
