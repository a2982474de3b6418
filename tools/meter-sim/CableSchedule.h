#pragma once
// When the USB cable's loop wakes next: at least every 50 ms to look at the
// program and the plug script and, while the cable is plugged, for the next
// report without meter bytes and for the meter's next frame while frames are
// left to send. Times in ms.
#include <algorithm>

namespace metersim {

inline long long CableWakeAt(long long now, long long nextFrame, long long nextIdle, bool plugged, bool framesLeft)
{
    long long wake = now + 50;
    if (!plugged)
        return wake;
    wake = std::min(wake, nextIdle);
    if (framesLeft)
        wake = std::min(wake, nextFrame);
    return wake;
}

}  // namespace metersim
