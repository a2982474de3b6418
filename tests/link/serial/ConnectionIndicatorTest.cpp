#include <gtest/gtest.h>

#include "link/serial/ConnectionIndicator.h"

namespace {

// Drives the indicator with 100 ms ticks and a frame every `frameEvery` ms;
// returns for how many ms after the last frame the link stayed shown.
int ShownAfterLastFrame(int frameOffsetMs)
{
    ConnectionIndicator ind;
    // Ticks at 100, 200, ...; one frame arrives at frameOffsetMs.
    int shownUntil = -1;
    bool framed = false;
    for (int t = 0; t <= 1000; t += 10) {
        if (!framed && t == frameOffsetMs) {
            ind.FrameDecoded();
            framed = true;
        }
        if (t > 0 && t % 100 == 0 && ind.Advance()) ind.LinkLost();
        if (framed && ind.LinkShown) shownUntil = t;
    }
    return shownUntil - frameOffsetMs;
}

TEST(ConnectionIndicator, ShowsFor200To300Ms)
{
    for (int offset : {0, 10, 50, 90}) {
        const int shown = ShownAfterLastFrame(offset);
        EXPECT_GE(shown, 200) << offset;
        EXPECT_LT(shown, 300) << offset;
    }
}

TEST(ConnectionIndicator, FrameEvery100MsKeepsItShown)
{
    ConnectionIndicator ind;
    for (int tick = 0; tick < 50; ++tick) {
        ind.FrameDecoded();
        if (ind.Advance()) ind.LinkLost();
        EXPECT_TRUE(ind.LinkShown);
    }
}

TEST(ConnectionIndicator, UsbSilenceThreshold)
{
    int32_t idle = 1899;
    EXPECT_FALSE(ConnectionIndicator::UsbSilent(idle));
    EXPECT_EQ(idle, 1899);
    idle = 1900;
    EXPECT_TRUE(ConnectionIndicator::UsbSilent(idle));
    EXPECT_EQ(idle, 0);
    EXPECT_FALSE(ConnectionIndicator::UsbSilent(idle));
}

}  // namespace
