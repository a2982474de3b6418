#include "app/MeterProfile.h"

const char* ProfileFlagName(ProfileFlag f)
{
    static constexpr const char* kNames[] = {"IFEvrin", "IFQuelt", "IFOstra", "IFHarvo",
                                             "IFLintra", "IFTormo", "IFBramo", "IFDessa",
                                             "IFElvik", "IFAvrel", "IFNusko"};
    return kNames[int(f)];
}

MeterProfile ResolveProfile(const std::array<bool, kProfileFlagCount>& checked)
{
    MeterProfile p;
    auto on = [&](ProfileFlag f) { return checked[size_t(f)]; };
    if (on(ProfileFlag::IFEvrin)) {
        p.caption = "Pymar Interface Program _Ver: 2.00";
        p.routine = ReceiveRoutine::Nibble;
        p.firstDigitThree = true;
    }
    if (on(ProfileFlag::IFQuelt)) {
        p.caption = "Quelt USB Interface Program _Ver: 1.00";
        p.routine = ReceiveRoutine::Plain;
    }
    if (on(ProfileFlag::IFOstra)) {
        p.caption = "Ostra Interface Program _Ver: 2.06";
        p.routine = ReceiveRoutine::Plain;
        p.fullScaleCode = "34";
    }
    if (on(ProfileFlag::IFHarvo)) {
        p.caption = "Harvo USB Interface Program _Ver: 1.00";
        p.routine = ReceiveRoutine::Plain;
        p.speed19200 = true;
        p.fullScaleCode = "4";
    }
    if (on(ProfileFlag::IFLintra)) {
        p.caption = "Lintra USB Interface Program _Ver: 1.00";
        p.routine = ReceiveRoutine::Plain;
        p.speed19200 = true;
        p.fullScaleCode = "4";
    }
    if (on(ProfileFlag::IFTormo)) {
        p.caption = "Dessa Interface Program _Ver: 1.00";
        p.routine = ReceiveRoutine::Plain;
        p.fullScaleCode = "6";
    }
    return p;
}
