// The limit alarm, the MAX/MIN tracking and the limit edits' text rules.
#include "display/LimitAlarm.h"
#include "meter/Reading.h"
#include "meter/Convert.h"

#include <gtest/gtest.h>

#include <optional>

namespace {

TEST(ReadLimit, TextsOfTheLimitEdits)
{
    const std::pair<const char*, float> ok[] = {
        {"", 0},
        {"-", 0},
        {"+", 0},
        {"6000", 6000},
        {"-6000", -6000},
        {"+15", 15},
        {"007", 7},
        {"2147483647", 2147483647.0f},
        {"-2147483648", -2147483648.0f},
    };
    for (const auto& [text, value] : ok)
        EXPECT_EQ(ReadLimit(text), value) << '"' << text << '"';
}

TEST(ReadLimit, FailedConversionLeavesTheLimitAsItWas)
{
    for (const char* text : {"5-", "--3", "+-1", "2147483648", "-2147483649", "99999999999999999999", " 1"}) {
        SCOPED_TRACE(text);
        LimitState s;
        s.MaxLimit = 1500;
        try {
            s.MaxLimit = ReadLimit(text);
            ADD_FAILURE() << "no error";
        } catch (const EConvertError& e) {
            EXPECT_EQ(std::string(e.what()), std::string("'") + text + "' is not a valid integer value");
        }
        EXPECT_EQ(s.MaxLimit, 1500.0f);
    }
}

TEST(LimitAlarm, ComparisonsAreStrictAndStandAlone)
{
    struct Case {
        const char* name;
        float count, maxLimit, minLimit;
        bool maxOn, minOn, alarm;
    };
    const Case cases[] = {
        {"at the upper limit", 6000, 6000, -6000, true, true, false},
        {"positive overload", 6001, 6000, -6000, true, true, true},
        {"positive overload, upper off", 6001, 6000, -6000, false, true, false},
        {"at the lower limit", -6000, 6000, -6000, true, true, false},
        {"negative overload", -6001, 6000, -6000, true, true, true},
        {"negative overload, lower off", -6001, 6000, -6000, true, false, false},
        {"upper limit '-' (0), positive reading", 1, 0, -6000, true, false, true},
        {"upper limit '-' (0), zero reading", 0, 0, -6000, true, false, false},
        {"upper limit '-' (0), negative reading", -1, 0, -6000, true, false, false},
        {"lower above upper, low reading", -5000, 1000, 2000, true, true, true},
        {"lower above upper, between", 1500, 1000, 2000, true, true, true},
        {"lower above upper, high reading", 5000, 1000, 2000, true, true, true},
        {"counts, not values: 1.501 over 1500", 1501, 1500, -6000, true, false, true},
        {"both off", 99999, 0, 0, false, false, false},
    };
    for (const Case& c : cases) {
        LimitState s;
        s.MaxLimit = c.maxLimit;
        s.MinLimit = c.minLimit;
        EXPECT_EQ(LimitAlarm(s, c.count, c.maxOn, c.minOn), c.alarm) << c.name;
    }
}

// One reading of a script and what MAX and MIN show after it.
struct Step {
    const char* value;  // ValueText; "0L" forms are overloads
    float count;
    const char* unit;
    int point;
    int32_t fullScale;  // in force when the frame arrives
    bool rangeChanged;
    const char* maxText;
    const char* minText;
};

Reading MakeReading(const Step& s)
{
    Reading r;
    r.ValueText = s.value;
    r.CountValue = s.count;
    r.UnitText = s.unit;
    r.PointPos = s.point;
    if (std::string(s.value).find('L') != std::string::npos)
        r.Digit3 = "@";
    return r;
}

void RunScript(LimitState& s, std::initializer_list<Step> steps)
{
    int n = 0;
    for (const Step& step : steps) {
        SCOPED_TRACE(testing::Message() << "reading " << ++n << " " << step.value);
        EXPECT_EQ(TrackMaxMin(s, MakeReading(step), step.fullScale), step.rangeChanged);
        EXPECT_EQ(s.MaxReadingText, step.maxText);
        EXPECT_EQ(s.MinReadingText, step.minText);
    }
}

TEST(TrackMaxMin, RangeChangesByPointAndFirstReadingAfterStartUp)
{
    LimitState s;
    RunScript(s, {
                     {"1.234", 1234, "V", 1, 6000, true, "", ""},  // start-up: "113" is no unit
                     {"1.240", 1240, "V", 1, 6000, false, "1.240", "1.240"},
                     {"1.236", 1236, "V", 1, 6000, false, "1.240", "1.236"},
                     {"12.34", 1234, "V", 2, 6000, true, "1.240", "1.236"},  // point moved: not entered
                     {"12.50", 1250, "V", 2, 6000, false, "12.50", "12.50"},
                 });
    EXPECT_EQ(s.LastUnitText, "V");
    EXPECT_EQ(s.LastPointPos, 2);
}

TEST(TrackMaxMin, UnitChangeWithTheSamePointIsARangeChange)
{
    LimitState s;
    RunScript(s, {
                     {"1.000", 1000, "V", 1, 6000, true, "", ""},
                     {"1.100", 1100, "V", 1, 6000, false, "1.100", "1.100"},
                     {"1.200", 1200, "mV", 1, 6000, true, "1.100", "1.100"},
                     {"1.300", 1300, "mV", 1, 6000, false, "1.300", "1.300"},
                 });
    EXPECT_EQ(s.MaxReading, 1300.0f);
}

TEST(TrackMaxMin, TiesReplaceTheText)
{
    LimitState s;
    RunScript(s, {
                     {"0.000", 0, "V", 1, 6000, true, "", ""},
                     {"0.000", 0, "V", 1, 6000, false, "0.000", "0.000"},
                     {"-0.000", 0, "V", 1, 6000, false, "-0.000", "-0.000"},
                     {"0.001", 1, "V", 1, 6000, false, "0.001", "-0.000"},
                     {"0.001", 1, "V", 1, 6000, false, "0.001", "-0.000"},
                 });
}

TEST(TrackMaxMin, OverloadJustAfterAResetMarksOnlyItsOwnEnd)
{
    {
        LimitState s;
        RunScript(s, {
                         {"01.00", 100, "V", 2, 6000, true, "", ""},
                         {"0.L", 6001, "V", 2, 6000, false, "0.L", ""},
                         {"01.00", 100, "V", 2, 6000, false, "0.L", "01.00"},
                     });
        EXPECT_EQ(s.MaxReading, 6001.0f);
    }
    {
        LimitState s;
        RunScript(s, {
                         {"01.00", 100, "V", 2, 6000, true, "", ""},
                         {"0.L", -6001, "V", 2, 6000, false, "", "0.L"},
                         {"-01.00", -100, "V", 2, 6000, false, "-01.00", "0.L"},
                     });
    }
}

TEST(TrackMaxMin, ResetBoundsComeFromTheFullScaleInForce)
{
    LimitState s;
    TrackMaxMin(s, MakeReading({"1.000", 1000, "V", 1, 6000, true, "", ""}), 6000);
    EXPECT_EQ(s.MaxReading, -5999.0f);
    EXPECT_EQ(s.MinReading, 5999.0f);
    TrackMaxMin(s, MakeReading({"50.00", 5000, "Hz", 2, 6000, true, "", ""}), 1000);
    EXPECT_EQ(s.MaxReading, -999.0f);
    EXPECT_EQ(s.MinReading, 999.0f);
}

TEST(TrackMaxMin, ReadingsOfANewRangeBeyondTheOldFullScaleStillFillBothEnds)
{
    // From "%" (full scale 100) to volts: the reset happens with the old full scale, yet MIN
    // must not go on showing the "%" reading beside the new unit.
    LimitState s;
    RunScript(s, {
                     {"50.0", 500, "%", 3, 6000, true, "", ""},
                     {"50.0", 500, "%", 3, 100, false, "50.0", "50.0"},
                     {"1.500", 1500, "V", 1, 100, true, "50.0", "50.0"},
                     {"1.500", 1500, "V", 1, 6000, false, "1.500", "1.500"},
                     {"1.400", 1400, "V", 1, 6000, false, "1.500", "1.400"},
                     {"1.600", 1600, "V", 1, 6000, false, "1.600", "1.400"},
                 });
}

TEST(SetmaxKeyAccepts, DigitsSignsAndBackspaceOnly)
{
    for (char16_t c : {u'0', u'5', u'9', u'+', u'-', u'\b'})
        EXPECT_TRUE(SetmaxKeyAccepts(QChar(c))) << int(c);
    for (char16_t c : {u'a', u'.', u',', u' ', u'\r', u'\x16', u'e', u'\x7f', u'\x0660', u'\xff10'})
        EXPECT_FALSE(SetmaxKeyAccepts(QChar(c))) << int(c);
}

}  // namespace
