#pragma once
// The connection indicator: lit by every decoded frame, put out on the third
// 100 ms tick after the last one, so it shows for 200 to 300 ms per frame.
// The same tick watches the USB link for silence.
#include <cstdint>

class ConnectionIndicator {
public:
    static constexpr int32_t kUsbSilentReports = 1900;

    int32_t LinkTicks = 0;
    bool LinkShown = false;  // true: CONok shown; false: CONokN shown

    void FrameDecoded()
    {
        LinkShown = true;
        LinkTicks = 0;
    }

    // One tick. Returns true on the tick that checks the link (every third
    // tick after a reset); the caller then runs the USB check and LinkLost().
    bool Advance()
    {
        if (LinkTicks != 2) {
            ++LinkTicks;
            return false;
        }
        return true;
    }

    void LinkLost()
    {
        LinkShown = false;
        LinkTicks = 0;
    }

    // True (and the count reset) when the USB cable has sent this many
    // reports without meter bytes.
    static bool UsbSilent(int32_t& usbIdleReports)
    {
        if (usbIdleReports < kUsbSilentReports) return false;
        usbIdleReports = 0;
        return true;
    }
};
