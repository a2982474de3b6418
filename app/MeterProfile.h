#pragma once
// The meter profile: chosen at build time by the hidden check boxes of the
// window, it sets the caption, the serial receive routine, the serial speed and
// the dial layout code.
#include <QString>
#include <array>

enum class ProfileFlag { IFEvrin,
                         IFQuelt,
                         IFOstra,
                         IFHarvo,
                         IFLintra,
                         IFTormo,
                         IFBramo,
                         IFDessa,
                         IFElvik,
                         IFAvrel,
                         IFNusko,
                         Count };
constexpr int kProfileFlagCount = int(ProfileFlag::Count);

const char* ProfileFlagName(ProfileFlag f);

enum class ReceiveRoutine { None,
                            Plain,
                            Nibble };

struct MeterProfile {
    QString caption;
    ReceiveRoutine routine = ReceiveRoutine::None;
    bool speed19200 = false;       // otherwise the stored speed (2400) stays
    QString fullScaleCode;         // empty when no flag sets one
    bool firstDigitThree = false;  // the LCD's first digit starts as "3"
};

// Applies the checked flags in their fixed order; a later flag overrides an
// earlier one's caption, routine and code, but not a 19200 speed.
MeterProfile ResolveProfile(const std::array<bool, kProfileFlagCount>& checked);
