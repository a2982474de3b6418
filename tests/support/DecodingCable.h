#pragma once
// The USB cable component with only the frame decoder behind it, for
// benchmarks and fuzz targets that hand it input reports directly: no HID
// devices, silent dialogs, buttons down and up as a connected cable has them,
// and the profile whose handler decodes each burst. Header-only, so it needs
// no test framework.
#include "meter/FrameDecoder.h"
#include "link/hid/UsbCableLink.h"
#include "support/NullSeams.h"

#include <cstdint>
#include <string>

struct DecodingCable {
    NoHidBackend hid;
    SilentDialogs dialogs;
    THidDeviceController controller{hid};
    ScaleSet scale = ScaleSet::Set6();
    int64_t decoded = 0;  // bursts handed to the decoder
    UsbCableLink link{controller, dialogs, Hooks()};

private:
    UsbCableLink::Hooks Hooks()
    {
        UsbCableLink::Hooks h = UsbCableLink::Hooks::withoutWindow();
        h.decode = [this](const std::string& frameText) {
            // A frame with letters where digits belong is reported, not decoded.
            if (const DecodedFrame d = DecodeFrame(frameText, scale); !d.Failed())
                scale = d.scale;
            ++decoded;
        };
        h.guard = [](const std::function<void()>& f) { f(); };
        return h;
    }
};
