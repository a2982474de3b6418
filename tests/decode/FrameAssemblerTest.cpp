#include <gtest/gtest.h>

#include <stdexcept>
#include <vector>

#include "link/serial/FrameAssembler.h"

namespace {

using Bytes = std::vector<uint8_t>;

// One 14-byte run: a lead byte and the 13-byte frame.
Bytes MeterRun(char sign = '+', const char* digits = "0123", uint8_t s1 = 0, uint8_t bar = 0, uint8_t lead = 0x0A)
{
    return {lead, uint8_t(sign), uint8_t(digits[0]), uint8_t(digits[1]), uint8_t(digits[2]),
            uint8_t(digits[3]), 0x20, '2', s1, 0, 0, 0, bar, 0x0D};
}

Bytes Cat(std::initializer_list<Bytes> parts)
{
    Bytes out;
    for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

struct Collector {
    FrameAssembler a;
    std::vector<std::string> frames;
    Collector()
    {
        a.onFrame = [this](const std::string& t) { frames.push_back(t); };
    }
    void Feed(const Bytes& b) { a.RECEIVE_COM_Data(b.data(), int32_t(b.size())); }
};

TEST(FrameAssembler, AcceptsA14ByteRun)
{
    Collector c;
    c.Feed(MeterRun());
    ASSERT_EQ(c.frames.size(), 1u);
    EXPECT_EQ(c.frames[0], "2B30313233203200000000000D");
    EXPECT_EQ(c.a.FrameText, c.frames[0]);
    EXPECT_TRUE(c.a.HexAccumulator.empty());
}

TEST(FrameAssembler, AnySplitGivesTheSameFrames)
{
    const Bytes stream = Cat({MeterRun('+', "0123"), MeterRun('-', "4567"), MeterRun('+', "8901", 0x0D), MeterRun('+', "2345", 0, 0x0D)});
    Collector whole;
    whole.Feed(stream);
    ASSERT_EQ(whole.frames.size(), 4u);
    for (size_t cut1 = 0; cut1 <= stream.size(); ++cut1) {
        for (size_t cut2 = cut1; cut2 <= stream.size(); cut2 += 3) {
            Collector c;
            c.Feed(Bytes(stream.begin(), stream.begin() + cut1));
            c.Feed(Bytes(stream.begin() + cut1, stream.begin() + cut2));
            c.Feed(Bytes(stream.begin() + cut2, stream.end()));
            ASSERT_EQ(c.frames, whole.frames) << cut1 << "," << cut2;
        }
    }
}

TEST(FrameAssembler, RejectedRuns)
{
    struct Case {
        const char* name;
        Bytes stream;
        size_t frames;
    };
    const Bytes run = MeterRun();
    const Case cases[] = {
        // The very first run, starting with its sign, lacks the lead byte.
        {"FirstRunWithoutLead", Bytes(run.begin() + 1, run.end()), 0},
        {"FifteenBytes", Cat({Bytes{0x55}, MeterRun()}), 0},
        {"SpaceInsteadOfSign", MeterRun(' '), 0},
        {"MinusAccepted", MeterRun('-'), 1},
        {"TwoRunsInOneDelivery", Cat({MeterRun('+', "0001"), MeterRun('-', "0002")}), 2},
    };
    for (const auto& c : cases) {
        Collector col;
        col.Feed(c.stream);
        EXPECT_EQ(col.frames.size(), c.frames) << c.name;
    }
}

TEST(FrameAssembler, EndByteInsideAFrameIsData)
{
    // The bar-graph byte 13 (0x0D) and the status byte 0x0D (AC and REL in a manual range).
    Collector c;
    c.Feed(MeterRun('+', "0130", 0, 0x0D));
    ASSERT_EQ(c.frames.size(), 1u);
    EXPECT_EQ(c.frames[0], "2B30313330203200000000" "0D" "0D");

    Collector d;
    const Bytes run = MeterRun('+', "0130", 0x0D, 0x0D);
    d.Feed(run);
    ASSERT_EQ(d.frames.size(), 1u);
    EXPECT_EQ(d.frames[0].substr(14, 2), "0D");
    // Split between the two 0x0D data bytes and the end byte.
    for (size_t cut : {9u, 10u, 12u, 13u}) {
        Collector e;
        e.Feed(Bytes(run.begin(), run.begin() + cut));
        e.Feed(Bytes(run.begin() + cut, run.end()));
        EXPECT_EQ(e.frames, d.frames) << cut;
    }
}

TEST(FrameAssembler, BrokenRunBeginningWithASignCostsTheNextFrame)
{
    // A broken run "lead, +, 1, 2" whose 0x0D was lost: the sign keeps the run
    // open, so the next frame's bytes join it and that frame is lost too. The
    // frame after it decodes again.
    Collector c;
    c.Feed(Cat({MeterRun(), Bytes{0x0A, '+', '1', '2'}, MeterRun('+', "1111"), MeterRun('+', "2222")}));
    ASSERT_EQ(c.frames.size(), 2u);
    EXPECT_EQ(c.frames[1].substr(2, 8), "32323232");
}

TEST(FrameAssembler, MemoryStaysBoundedWithoutEndBytes)
{
    Collector c;
    const Bytes junk(100000, 0x55);
    c.Feed(junk);
    EXPECT_LE(c.a.HexAccumulator.size(), 30u);
    c.Feed(MeterRun());  // the over-long run ends here and is rejected
    EXPECT_TRUE(c.frames.empty());
    c.Feed(MeterRun());
    EXPECT_EQ(c.frames.size(), 1u);
}

TEST(FrameAssembler, FailedFrameLosesTheNextRunThenRecovers)
{
    FrameAssembler a;
    std::vector<std::string> seen;
    a.onFrame = [&](const std::string& t) {
        seen.push_back(t);
        if (t.substr(2, 2) == "3A") throw std::runtime_error("bad");
    };
    const Bytes bad = MeterRun('+', ":000");
    const Bytes delivery = Cat({bad, MeterRun('+', "1111")});
    EXPECT_THROW(a.RECEIVE_COM_Data(delivery.data(), int32_t(delivery.size())), std::runtime_error);
    ASSERT_EQ(seen.size(), 1u);  // the rest of that delivery was dropped
    EXPECT_FALSE(a.HexAccumulator.empty());

    const Bytes next = Cat({MeterRun('+', "2222"), MeterRun('+', "3333")});
    a.RECEIVE_COM_Data(next.data(), int32_t(next.size()));
    ASSERT_EQ(seen.size(), 2u);  // "2222" is lost, "3333" decodes
    EXPECT_EQ(seen[1].substr(2, 8), "33333333");
}

TEST(FrameAssembler, NibbleFramingCollectsWithoutDecoding)
{
    FrameAssembler a;
    int calls = 0;
    a.onFrame = [&](const std::string&) { ++calls; };
    const Bytes b = {0x11, 0x22, 0x3F, 0xE4, 0x15};
    a.HBrevoRData(b.data(), int32_t(b.size()));
    EXPECT_EQ(a.FrameText, "12F4");
    EXPECT_EQ(a.HexAccumulator, "5");
    EXPECT_EQ(calls, 0);
}

}  // namespace
