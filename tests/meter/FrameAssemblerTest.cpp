#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <stdexcept>
#include <vector>

#include "meter/FrameAssembler.h"
#include "support/MeterRun.h"

namespace {

using Bytes = std::vector<uint8_t>;

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
    c.Feed(MeterRun('+', "0123", '2'));
    ASSERT_EQ(c.frames.size(), 1u);
    EXPECT_EQ(c.frames[0], "2B30313233203200000000000D");
    EXPECT_EQ(c.a.FrameText, c.frames[0]);
    EXPECT_TRUE(c.a.HexAccumulator.empty());
}

TEST(FrameAssembler, AnySplitGivesTheSameFrames)
{
    const Bytes stream = Cat({MeterRun('+', "0123"), MeterRun('-', "4567"), MeterRun('+', "8901", '2', 0x0D), MeterRun('+', "2345", '2', 0, 0, 0, 0, 0x0D)});
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
    c.Feed(MeterRun('+', "0130", '2', 0, 0, 0, 0, 0x0D));
    ASSERT_EQ(c.frames.size(), 1u);
    EXPECT_EQ(c.frames[0], "2B30313330203200000000"
                           "0D"
                           "0D");

    Collector d;
    const Bytes run = MeterRun('+', "0130", '2', 0x0D, 0, 0, 0, 0x0D);
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

TEST(FrameAssembler, EndByteAtAnotherPlaceCutsAsPlainFramingDoes)
{
    Bytes lostByte = MeterRun('+', "1111");
    lostByte.erase(lostByte.begin() + 9);  // a status byte lost: 13 bytes, 0x0D at the 13th
    Bytes digit = MeterRun('+', "3333");
    digit[4] = 0x0D;  // noise in a digit
    Bytes point = MeterRun('+', "4444");
    point[7] = 0x0D;  // noise in the point code
    struct Case {
        const char* name;
        Bytes broken;
    } cases[] = {
        {"OneByteLost", lostByte},
        {"EndByteInADigit", digit},
        {"EndByteInThePointCode", point},
        {"ShortRunEndingInAStatusPosition", Bytes{0x0A, '+', '1', '2', '3', '4', 0x20, '0', 0x0D}},
    };
    for (const Case& k : cases) {
        Collector c;
        c.Feed(Cat({MeterRun('+', "0000"), k.broken, MeterRun('+', "2222"), MeterRun('-', "5555")}));
        ASSERT_EQ(c.frames.size(), 3u) << k.name;
        EXPECT_EQ(c.frames[1].substr(0, 10), "2B32323232") << k.name;
        EXPECT_EQ(c.frames[2].substr(0, 10), "2D35353535") << k.name;
    }
}

namespace {

// Plain framing, the rule every frame found must still be found by: cut at every
// 0x0D; a run of exactly 14 bytes whose second byte is a sign is a frame.
// Gives the index of each frame's end byte.
std::vector<size_t> PlainFrameEnds(const Bytes& s)
{
    std::vector<size_t> ends;
    size_t start = 0;
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] != 0x0D) continue;
        if (i - start + 1 == 14 && (s[start + 1] == '+' || s[start + 1] == '-')) ends.push_back(i);
        start = i + 1;
    }
    return ends;
}

std::string Hex(const Bytes& s, size_t from, size_t count)
{
    static const char digits[] = "0123456789ABCDEF";
    std::string t;
    for (size_t i = from; i < from + count; ++i) {
        t.push_back(digits[s[i] >> 4]);
        t.push_back(digits[s[i] & 15]);
    }
    return t;
}

// A meter stream with the faults of a noisy line: frames with lost, repeated
// and changed bytes, 0x0D in every position, and garbage between frames.
Bytes NoisyStream(uint32_t seed)
{
    std::mt19937 rng(seed);
    auto pick = [&](uint32_t n) { return uint32_t(rng() % n); };
    Bytes s;
    for (int piece = 0; piece < 60; ++piece) {
        if (pick(6) == 0) {
            for (uint32_t k = pick(20); k > 0; --k) {
                const uint8_t choices[] = {0x0D, '+', '-', uint8_t(pick(256))};
                s.push_back(choices[pick(4)]);
            }
            continue;
        }
        auto status = [&] { return pick(3) == 0 ? uint8_t(0x0D) : uint8_t(pick(3) == 0 ? pick(256) : 0); };
        Bytes run = {0x0A, pick(2) ? uint8_t('+') : uint8_t('-'), uint8_t('0' + pick(10)), uint8_t('0' + pick(10)),
                     uint8_t('0' + pick(10)), uint8_t('0' + pick(10)), 0x20, uint8_t('0' + pick(5)),
                     status(), status(), status(), status(), status(), 0x0D};
        switch (pick(6)) {
        case 0: run.erase(run.begin() + pick(14)); break;
        case 1: {
            const size_t at = pick(14);
            run.insert(run.begin() + at, run[at]);
            break;
        }
        case 2: run[pick(14)] = uint8_t(pick(256)); break;
        case 3: run[pick(14)] = 0x0D; break;
        default: break;  // intact
        }
        s.insert(s.end(), run.begin(), run.end());
    }
    return s;
}

}  // namespace

TEST(FrameAssembler, FindsEveryFrameOfPlainFramingAndOnlyAddsFramesWithEndBytesAsData)
{
    size_t plainTotal = 0, addedTotal = 0;
    for (uint32_t seed = 1; seed <= 300; ++seed) {
        SCOPED_TRACE(seed);
        const Bytes s = NoisyStream(seed);

        // Byte by byte, so each frame is known by the index of its end byte.
        FrameAssembler a;
        std::vector<std::pair<size_t, std::string>> found;
        size_t at = 0;
        a.onFrame = [&](const std::string& t) { found.emplace_back(at, t); };
        for (at = 0; at < s.size(); ++at) a.RECEIVE_COM_Data(&s[at], 1);
        EXPECT_LE(a.HexAccumulator.size(), 30u);

        const std::vector<size_t> plain = PlainFrameEnds(s);
        size_t p = 0;
        for (const auto& [end, text] : found) {
            ASSERT_GE(end, 13u);
            EXPECT_EQ(text, Hex(s, end - 12, 13)) << end;
            if (p < plain.size() && plain[p] == end) {
                ++p;
                continue;
            }
            // An added frame: a 14-byte run whose inner 0x0D bytes are status or bar bytes.
            ++addedTotal;
            EXPECT_TRUE(s[end - 12] == '+' || s[end - 12] == '-') << end;
            bool endByteInside = false;
            for (size_t k = end - 13; k < end; ++k) {
                if (s[k] != 0x0D) continue;
                const size_t runByte = k - (end - 13) + 1;
                EXPECT_TRUE(runByte >= 9 && runByte <= 13) << end << " run byte " << runByte;
                endByteInside = true;
            }
            EXPECT_TRUE(endByteInside) << end;
        }
        EXPECT_EQ(p, plain.size()) << "a frame of plain framing was lost";
        plainTotal += plain.size();

        // Any split of the stream gives the same frames.
        Collector c;
        std::mt19937 rng(seed);
        for (size_t from = 0; from < s.size();) {
            const size_t n = std::min<size_t>(s.size() - from, 1 + rng() % 40);
            c.Feed(Bytes(s.begin() + long(from), s.begin() + long(from + n)));
            from += n;
        }
        ASSERT_EQ(c.frames.size(), found.size());
        for (size_t i = 0; i < found.size(); ++i) EXPECT_EQ(c.frames[i], found[i].second);
    }
    // The streams exercise both kinds of frame.
    EXPECT_GT(plainTotal, 1000u);
    EXPECT_GT(addedTotal, 100u);
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
