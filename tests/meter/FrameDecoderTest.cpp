#include <gtest/gtest.h>

#include "meter/FrameDecoder.h"
#include "meter/Convert.h"

namespace {

// Builds the hex text of a 13-byte frame.
std::string Frame(char sign, const char digits[4], char point, uint8_t s1 = 0, uint8_t s2 = 0,
                  uint8_t s3 = 0, uint8_t s4 = 0)
{
    const uint8_t bytes[13] = {uint8_t(sign), uint8_t(digits[0]), uint8_t(digits[1]),
                               uint8_t(digits[2]), uint8_t(digits[3]), 0x20, uint8_t(point),
                               s1, s2, s3, s4, 0x00, 0x0D};
    static const char hex[] = "0123456789ABCDEF";
    std::string t;
    for (uint8_t b : bytes) {
        t += hex[b >> 4];
        t += hex[b & 15];
    }
    return t;
}

std::string FlagList(const Reading& r)
{
    std::string s;
    for (int f = 0; f < kFlagCount; ++f)
        if (r.Flags[Flag(f)]) s += std::string(s.empty() ? "" : ",") + FlagName(Flag(f));
    return s;
}

struct DecodeCase {
    const char* name;
    std::string text;
    ScaleSet before;
    std::string value;
    float count;
    std::string unit, coupling, range;
    int point;
    int32_t needle, chart;
};

class DecodeTable : public ::testing::TestWithParam<DecodeCase> {};

TEST_P(DecodeTable, Decodes)
{
    const DecodeCase& c = GetParam();
    const DecodedFrame d = DecodeFrame(c.text, c.before);
    EXPECT_EQ(d.reading.ValueText, c.value);
    EXPECT_EQ(d.reading.CountValue, c.count);
    EXPECT_EQ(d.reading.UnitText, c.unit);
    EXPECT_EQ(d.reading.CouplingText, c.coupling);
    EXPECT_EQ(d.reading.RangeModeText, c.range);
    EXPECT_EQ(d.reading.PointPos, c.point);
    EXPECT_EQ(d.needlePosition, c.needle);
    EXPECT_EQ(d.chartValue, c.chart);
}

const ScaleSet k6 = ScaleSet::Set6();
const ScaleSet k10 = ScaleSet::Set10();

INSTANTIATE_TEST_SUITE_P(
    Frames, DecodeTable,
    ::testing::Values(
        DecodeCase{"Plain", "2B30313233203200000000000D", k6, "01.23", 123, "", "", "MANU", 2, 612, 123},
        DecodeCase{"AutoMilliVolt", Frame('+', "0123", '2', 0x20, 0, 0x40, 0x80), k6, "01.23", 123, "mV", "", "AUTO", 2, 612, 123},
        DecodeCase{"Negative", Frame('-', "1234", '1'), k6, "-1.234", -1234, "", "", "MANU", 1, 477, -1234},
        DecodeCase{"NegativeLeadingZero", Frame('-', "0123", '0'), k6, "-0123", -123, "", "", "MANU", 0, 588, -123},
        DecodeCase{"PointCode4", Frame('+', "1234", '4'), k6, "123.4", 1234, "", "", "MANU", 3, 723, 1234},
        DecodeCase{"PointCode3IsNone", Frame('+', "1234", '3'), k6, "1234", 1234, "", "", "MANU", 0, 723, 1234},
        DecodeCase{"PointCode9IsNone", Frame('+', "1234", '9'), k6, "1234", 1234, "", "", "MANU", 0, 723, 1234},
        DecodeCase{"OverloadPositive", Frame('+', "?0:?", '2'), k6, "0.L", 6001, "", "", "MANU", 2, 1200, 6000},
        DecodeCase{"OverloadNegative", Frame('-', "?0:?", '2'), k6, "0.L", -6001, "", "", "MANU", 2, 0, -6000},
        DecodeCase{"OverloadAfterHz", Frame('+', "?0:?", '0'), k10, "0L", 1001, "", "", "MANU", 0, 1200, 6000},
        DecodeCase{"OverloadHz", Frame('+', "?0:?", '1', 0, 0, 0, 0x08), k6, ".0L", 6001, "Hz", "", "MANU", 1, 2000, 1000},
        DecodeCase{"AcAndDcGivesDc", Frame('+', "0000", '0', 0x18), k6, "0000", 0, "", "DC", "MANU", 0, 600, 0},
        DecodeCase{"AcOnly", Frame('+', "0000", '0', 0x08, 0, 0, 0x80), k6, "0000", 0, "V", "AC", "MANU", 0, 600, 0},
        DecodeCase{"PercentSet", Frame('+', "0500", '0', 0, 0, 0x02), k6, "0500", 500, "%", "", "MANU", 0, 150, 500}),
    [](const ::testing::TestParamInfo<DecodeCase>& i) { return std::string(i.param.name); });

// Each unit rule, in the order that lets later rules overwrite earlier ones.
struct UnitCase {
    const char* name;
    uint8_t s2, s3, s4;
    const char* unit;
};

class UnitTable : public ::testing::TestWithParam<UnitCase> {};

TEST_P(UnitTable, UnitText)
{
    const UnitCase& c = GetParam();
    Reading r;
    DecodeSymbols(Frame('+', "0000", '0', 0, c.s2, c.s3, c.s4), r);
    EXPECT_EQ(r.UnitText, c.unit);
}

// Status byte 2 bit 1 nano; byte 3: 7 micro, 6 milli, 5 kilo, 4 mega, 1 percent;
// byte 4: 7 volt, 6 ampere, 5 ohm, 3 hertz, 2 farad, 1 celsius, 0 fahrenheit.
INSTANTIATE_TEST_SUITE_P(
    Units, UnitTable,
    ::testing::Values(UnitCase{"None", 0, 0, 0, ""}, UnitCase{"V", 0, 0, 0x80, "V"},
                      UnitCase{"A", 0, 0, 0x40, "A"}, UnitCase{"Ohm", 0, 0, 0x20, "*"},
                      UnitCase{"F", 0, 0, 0x04, "F"}, UnitCase{"Celsius", 0, 0, 0x02, "#"},
                      UnitCase{"Fahrenheit", 0, 0, 0x01, "?"}, UnitCase{"Hz", 0, 0, 0x08, "Hz"},
                      UnitCase{"Percent", 0, 0x02, 0, "%"}, UnitCase{"nV", 0x02, 0, 0x80, "nV"},
                      UnitCase{"mV", 0, 0x40, 0x80, "mV"}, UnitCase{"uV", 0, 0x80, 0x80, "uV"},
                      UnitCase{"nA", 0x02, 0, 0x40, "nA"}, UnitCase{"mA", 0, 0x40, 0x40, "mA"},
                      UnitCase{"uA", 0, 0x80, 0x40, "uA"}, UnitCase{"nF", 0x02, 0, 0x04, "nF"},
                      UnitCase{"mF", 0, 0x40, 0x04, "mF"}, UnitCase{"uF", 0, 0x80, 0x04, "uF"},
                      UnitCase{"kOhm", 0, 0x20, 0x20, "k*"}, UnitCase{"MOhm", 0, 0x10, 0x20, "M*"},
                      UnitCase{"KiloAndMegaOhm", 0, 0x30, 0x20, "M*"},
                      UnitCase{"KiloHertzStaysHz", 0, 0x20, 0x08, "Hz"},
                      UnitCase{"VoltAndHertzGivesHz", 0, 0, 0x88, "Hz"},
                      UnitCase{"HertzAndPercentGivesPercent", 0, 0x02, 0x08, "%"},
                      UnitCase{"MilliAndMicroVolt", 0, 0xC0, 0x80, "uV"},
                      UnitCase{"MilliWithoutUnit", 0, 0x40, 0, ""}),
    [](const ::testing::TestParamInfo<UnitCase>& i) { return std::string(i.param.name); });

TEST(FrameDecoder, EveryFlagAtItsBit)
{
    Reading r;
    DecodeSymbols(Frame('+', "0000", '0', 0x3E, 0x36, 0xFE, 0xEF), r);
    EXPECT_EQ(FlagList(r),
              "Auto,Dc,Ac,Rel,Hold,MaxMode,MinMode,Battery,Nano,Micro,Milli,Kilo,Mega,Beep,Diode,"
              "Percent,Volt,Ampere,Ohm,Hertz,Farad,Celsius,Fahrenheit");
    // The unused bits set nothing.
    DecodeSymbols(Frame('+', "0000", '0', 0xC1, 0xC9, 0x01, 0x10), r);
    EXPECT_EQ(FlagList(r), "");
}

TEST(FrameDecoder, OverloadDigitsAndScaleSets)
{
    DecodedFrame d = DecodeFrame(Frame('+', "?0:?", '2'), k6);
    EXPECT_EQ(d.reading.Digit1 + "|" + d.reading.Digit2 + "|" + d.reading.Digit3 + "|" + d.reading.Digit4, "|0|@|");
    EXPECT_TRUE(d.reading.IsOverload());
    EXPECT_EQ(d.barPosition, 60);

    d = DecodeFrame(Frame('+', "0500", '0', 0, 0, 0x02), k6);  // "%"
    EXPECT_EQ(d.scale, ScaleSet::Set1());
    EXPECT_EQ(d.barMaximum, 10);
    EXPECT_EQ(d.barPosition, 5);
    d = DecodeFrame(Frame('+', "?0:?", '0', 0, 0, 0x02), d.scale);
    EXPECT_EQ(d.barPosition, 10);  // the overload position 100 is held at the bar's maximum
    EXPECT_EQ(d.reading.CountValue, 101);
    d = DecodeFrame(Frame('+', "0500", '0', 0, 0, 0, 0x80), d.scale);  // "V"
    EXPECT_EQ(d.scale, ScaleSet::Set6());
    EXPECT_EQ(d.barMaximum, 60);
}

TEST(FrameDecoder, BarPositions)
{
    struct {
        const char* digits;
        int position;
    } cases[] = {{"0531", 5}, {"5999", 59}, {"0012", 1}, {"0199", 1}, {"0200", 2}};
    for (const auto& c : cases)
        EXPECT_EQ(DecodeFrame(Frame('-', c.digits, '0'), k6).barPosition, c.position) << c.digits;
}

TEST(FrameDecoder, ConversionFailures)
{
    // A letter as point code fails before the flags; the digits are already there.
    Reading r;
    try {
        DecodeSymbols(Frame('+', "1234", ':', 0x20), r);  // point byte 0x3A
        FAIL();
    } catch (const EConvertError& e) {
        EXPECT_STREQ(e.what(), "'A' is not a valid integer value");
    }
    EXPECT_EQ(r.Digit1, "1");
    EXPECT_FALSE(r.Flags[Flag::Auto]);

    // A letter among the digits of a normal reading fails the count.
    r = {};
    DecodeSymbols(Frame('-', "12:4", '0'), r);
    try {
        DecodeValue(r, 6000);
        FAIL();
    } catch (const EConvertError& e) {
        EXPECT_STREQ(e.what(), "'-12A4' is not a valid integer value");
    }
    EXPECT_EQ(r.ValueText, "-12A4");

    // An overload converts no digits, so only its point code can fail.
    EXPECT_NO_THROW(DecodeFrame(Frame('+', "?:::", '0'), k6));
}

TEST(FrameDecoder, AFailedFrameKeepsWhatWasDecodedBeforeItsFailure)
{
    // The reading of the frame before: what a failure does not reach stays.
    Reading before;
    before.SignText = "-";
    before.ValueText = "9.999";
    before.CountValue = 9999;
    before.UnitText = "Hz";
    before.Flags.set(Flag::Hold);
    struct Case {
        const char* name;
        std::string text;
        FrameFailure failure;
        const char* error;
        std::string digits, sign, value;
        float count;
    };
    const Case cases[] = {
        {"letter as point code", Frame('+', "1234", ':', 0x20), FrameFailure::Symbols,
         "'A' is not a valid integer value", "1234", "-", "9.999", 9999},
        {"letter among the digits", Frame('+', "12:4", '0', 0x20), FrameFailure::Value,
         "'12A4' is not a valid integer value", "12A4", "", "12A4", 9999},
    };
    for (const Case& c : cases) {
        const DecodedFrame d = DecodeFrame(c.text, ScaleSet::Set10(), before);
        EXPECT_EQ(d.failure, c.failure) << c.name;
        EXPECT_TRUE(d.Failed()) << c.name;
        try {
            d.ThrowIfFailed();
            ADD_FAILURE() << c.name;
        } catch (const EConvertError& e) {
            EXPECT_STREQ(e.what(), c.error) << c.name;
        }
        const Reading& r = d.reading;
        EXPECT_EQ(r.Digit1 + r.Digit2 + r.Digit3 + r.Digit4, c.digits) << c.name;
        EXPECT_EQ(r.SignText, c.sign) << c.name;
        EXPECT_EQ(r.ValueText, c.value) << c.name;
        EXPECT_EQ(r.CountValue, c.count) << c.name;
        EXPECT_EQ(r.UnitText, "") << c.name;  // cleared before the point code
        EXPECT_FALSE(r.Flags[Flag::Hold]) << c.name;
    }

    // A frame decoded whole writes every field, whatever came before.
    const DecodedFrame whole = DecodeFrame(Frame('+', "0500", '0', 0x20), k6, before);
    EXPECT_FALSE(whole.Failed());
    EXPECT_FALSE(whole.error);
    EXPECT_NO_THROW(whole.ThrowIfFailed());
    EXPECT_EQ(whole.reading.SignText, "");
    EXPECT_EQ(whole.reading.ValueText, "0500");
    EXPECT_EQ(whole.reading.CountValue, 500);
    EXPECT_FALSE(whole.reading.Flags[Flag::Hold]);
}

}  // namespace
