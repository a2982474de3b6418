// libFuzzer target: any sequence of input reports through the USB cable's
// report handler, its bursts and the frame decoder. Whatever the cable sends
// must end in frames decoded, frames dropped or a conversion error, never a
// crash, and the cable's state must stay bounded.
//
// Input: reports one after another, each as a length byte (its low six bits;
// 0 is a report without data) followed by that many bytes; the report ID is
// the top two bits of the length byte.
#include "support/DecodingCable.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static DecodingCable* cable = new DecodingCable;  // one cable for the run: state carries over, as on the line
    size_t at = 0;
    while (at < size) {
        const uint8_t head = data[at++];
        const size_t n = std::min<size_t>(head & 0x3F, size - at);
        cable->link.HidDataTormo(nullptr, uint8_t(head >> 6), data + at, uint16_t(n));
        at += n;
        if (cable->link.state.UsbBurstText.size() > 2 * UsbCableLink::kBurstBytes ||
            cable->link.HistoryListBox().rowCount() > UsbCableLink::kHistoryLines)
            std::abort();
    }
    return 0;
}
