#include "display/LimitAlarm.h"

#include "meter/Reading.h"
#include "meter/Convert.h"

float ReadLimit(std::string_view text)
{
    if (text.empty() || text == "-" || text == "+")
        return 0.0f;
    return float(StrToInt(text));
}

bool LimitAlarm(const LimitState& s, float CountValue, bool SetMaxBChecked, bool SetMinBChecked)
{
    return (SetMaxBChecked && CountValue > s.MaxLimit) || (SetMinBChecked && CountValue < s.MinLimit);
}

bool TrackMaxMin(LimitState& s, const Reading& r, int32_t FullScale)
{
    const bool rangeChanged = r.UnitText != s.LastUnitText || r.PointPos != s.LastPointPos;
    if (rangeChanged) {
        s.LastUnitText = r.UnitText;
        s.MaxReading = float(1 - int64_t(FullScale));
        s.MinReading = float(int64_t(FullScale) - 1);
        s.MaxReadingEmpty = true;
        s.MinReadingEmpty = true;
    } else {
        // The bounds 1-F / F-1 come from the previous range's full scale, which can be
        // smaller than the new range's (after "%" or "Hz"): a reading beyond them would then
        // never reach the empty extreme, and MIN or MAX would keep showing a reading of the
        // old range beside the new unit. So an ordinary reading always fills an empty
        // extreme. An overload only marks the end it lies at.
        const bool ordinary = !r.IsOverload();
        if (r.CountValue >= s.MaxReading || (ordinary && s.MaxReadingEmpty)) {
            s.MaxReadingText = r.ValueText;
            s.MaxReading = r.CountValue;
            s.MaxReadingEmpty = false;
        }
        if (r.CountValue <= s.MinReading || (ordinary && s.MinReadingEmpty)) {
            s.MinReadingText = r.ValueText;
            s.MinReading = r.CountValue;
            s.MinReadingEmpty = false;
        }
    }
    s.LastPointPos = r.PointPos;
    return rangeChanged;
}

bool SetmaxKeyAccepts(QChar c)
{
    const char16_t u = c.unicode();
    return (u >= u'0' && u <= u'9') || u == u'\b' || u == u'+' || u == u'-';
}
