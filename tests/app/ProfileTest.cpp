#include "WindowFixture.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>

namespace {

using Flags = std::array<bool, kProfileFlagCount>;

Flags Only(std::initializer_list<ProfileFlag> on)
{
    Flags f{};
    for (ProfileFlag p : on) f[size_t(p)] = true;
    return f;
}

struct ProfileCase {
    const char* name;
    Flags flags;
    const char* caption;
    ReceiveRoutine routine;
    TComPortBaudRate speed;
    ScaleSet scale;
    const char *setmax, *setmin, *minText, *maxText, *firstDigit;
    float maxLimit, minLimit;
};

class ProfileTable : public ::testing::TestWithParam<ProfileCase> {};

TEST_P(ProfileTable, StartUpFollowsTheProfile)
{
    const ProfileCase& c = GetParam();
    WindowFixture f(c.flags);
    TFCOMM& w = *f.w;
    EXPECT_TRUE(f.dialogs.errors.isEmpty()) << f.dialogs.errors.join("|").toStdString();
    EXPECT_EQ(w.windowTitle(), c.caption);
    EXPECT_EQ(Parts(w).attachedRoutine, c.routine);
    EXPECT_EQ(Parts(w).COMM2.ComPortSpeed(), c.speed);
    EXPECT_EQ(Parts(w).COMM2.ComPort(), pnCOM1);
    EXPECT_EQ(Parts(w).COMM2.ComPortPollingDelay(), 100);
    EXPECT_EQ(Parts(w).scale, c.scale);
    EXPECT_EQ(Parts(w).ui->Setmax->text(), c.setmax);
    EXPECT_EQ(Parts(w).ui->SetMin->text(), c.setmin);
    EXPECT_EQ(Parts(w).ui->MinText->text(), c.minText);
    EXPECT_EQ(Parts(w).ui->MaxText->text(), c.maxText);
    EXPECT_EQ(Parts(w).ui->LcdDa->text(), c.firstDigit);
    EXPECT_EQ(Parts(w).limits.MaxLimit, c.maxLimit);
    EXPECT_EQ(Parts(w).limits.MinLimit, c.minLimit);
    EXPECT_EQ(Parts(w).limits.LastUnitText, "113");
    EXPECT_TRUE(Parts(w).chart.FollowLastPage);
    // The chart holds its sample point, shows the area series, and its
    // vertical axis spans the start-up set.
    EXPECT_EQ(Parts(w).chart.pointCount(), 1);
    EXPECT_EQ(Parts(w).chart.shownSeries(), TrendChart::kAreaSeries);
    EXPECT_EQ(Parts(w).chart.axisMaximum(), c.scale.FullScale);
    EXPECT_EQ(Parts(w).chart.axisMinimum(), -c.scale.FullScale);
}

const ScaleSet kNone{};
const ScaleSet k4{"4", 0, 0, 0, 0};

INSTANTIATE_TEST_SUITE_P(
    Profiles, ProfileTable,
    ::testing::Values(
        ProfileCase{"Stored", Only({ProfileFlag::IFTormo}), "Dessa Interface Program _Ver: 1.00",
                    ReceiveRoutine::Plain, br2400, ScaleSet::Set6(), "6000", "-6000", "6001", "-6001", "5", 6000, -6000},
        ProfileCase{"NoFlag", Only({}), "", ReceiveRoutine::None, br2400, kNone, "4000", "-4000", "-4001",
                    "4001", "5", 0, 0},
        ProfileCase{"Evrin", Only({ProfileFlag::IFEvrin}), "Pymar Interface Program _Ver: 2.00",
                    ReceiveRoutine::Nibble, br2400, kNone, "4000", "-4000", "-4001", "4001", "3", 0, 0},
        ProfileCase{"Quelt", Only({ProfileFlag::IFQuelt}), "Quelt USB Interface Program _Ver: 1.00",
                    ReceiveRoutine::Plain, br2400, kNone, "4000", "-4000", "-4001", "4001", "5", 0, 0},
        ProfileCase{"Ostra", Only({ProfileFlag::IFOstra}), "Ostra Interface Program _Ver: 2.06",
                    ReceiveRoutine::Plain, br2400, ScaleSet::Set34(), "3400", "-3400", "3401", "-3401", "5", 3400, -3400},
        ProfileCase{"Harvo", Only({ProfileFlag::IFHarvo}), "Harvo USB Interface Program _Ver: 1.00",
                    ReceiveRoutine::Plain, br19200, k4, "4000", "-4000", "-4001", "4001", "5", 0, 0},
        ProfileCase{"Lintra", Only({ProfileFlag::IFLintra}), "Lintra USB Interface Program _Ver: 1.00",
                    ReceiveRoutine::Plain, br19200, k4, "4000", "-4000", "-4001", "4001", "5", 0, 0},
        ProfileCase{"HarvoAndTormo", Only({ProfileFlag::IFHarvo, ProfileFlag::IFTormo}),
                    "Dessa Interface Program _Ver: 1.00", ReceiveRoutine::Plain, br19200, ScaleSet::Set6(),
                    "6000", "-6000", "6001", "-6001", "5", 6000, -6000},
        ProfileCase{"EvrinAndTormo", Only({ProfileFlag::IFEvrin, ProfileFlag::IFTormo}),
                    "Dessa Interface Program _Ver: 1.00", ReceiveRoutine::Plain, br2400, ScaleSet::Set6(),
                    "6000", "-6000", "6001", "-6001", "3", 6000, -6000},
        ProfileCase{"UnreadFlagsChangeNothing",
                    Only({ProfileFlag::IFBramo, ProfileFlag::IFDessa, ProfileFlag::IFElvik, ProfileFlag::IFAvrel,
                          ProfileFlag::IFNusko}),
                    "", ReceiveRoutine::None, br2400, kNone, "4000", "-4000", "-4001", "4001", "5", 0, 0}),
    [](const ::testing::TestParamInfo<ProfileCase>& i) { return std::string(i.param.name); });

TEST(Profile, StoredWindowChecksOnlyTormo)
{
    WindowFixture f;
    for (int i = 0; i < kProfileFlagCount; ++i) {
        auto* box = f.w->findChild<QCheckBox*>(ProfileFlagName(ProfileFlag(i)));
        ASSERT_NE(box, nullptr) << ProfileFlagName(ProfileFlag(i));
        EXPECT_EQ(box->isChecked(), ProfileFlag(i) == ProfileFlag::IFTormo);
        EXPECT_FALSE(box->isVisibleTo(f.w.get()));
    }
}

TEST(Profile, NoFlagDropsReceivedBytes)
{
    WindowFixture f(Flags{});
    f.Feed(MeterRun('+', "1234"));
    f.Feed(MeterRun('+', "1234"));
    EXPECT_EQ(Parts(*f.w).reading.ValueText, "");
    EXPECT_TRUE(Parts(*f.w).assembler.HexAccumulator.empty());
}

TEST(Profile, NibbleProfileCollectsButDoesNotDecode)
{
    WindowFixture f(Only({ProfileFlag::IFEvrin}));
    f.Feed({0x11, 0x22, 0xE3});
    EXPECT_EQ(Parts(*f.w).assembler.FrameText, "123");
    EXPECT_EQ(Parts(*f.w).ui->LcdDa->text(), "3");
}

}  // namespace
