// libFuzzer target: any byte stream, cut into deliveries of any sizes,
// through the serial receive routines (plain and nibble framing) and the
// frame decoder. Never a crash; the accumulated text stays bounded.
//
// Input: the first byte seeds the delivery sizes (1 to 32 bytes each), the
// rest is the stream.
#include "meter/FrameDecoder.h"
#include "meter/FrameAssembler.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    uint32_t seed = data[0] * 2654435761u + 1;
    ++data;
    --size;

    FrameAssembler plain;
    FrameAssembler nibble;
    ScaleSet scale = ScaleSet::Set6();
    plain.onFrame = [&](const std::string& text) {
        if (!FrameAssembler::IsValidFrameText(text))
            std::abort();  // only valid frames are handed on
        const DecodedFrame d = DecodeFrame(text, scale);
        if (d.Failed() != bool(d.error))
            std::abort();  // a failure always carries its error
        if (!d.Failed())
            scale = d.scale;
    };
    size_t at = 0;
    while (at < size) {
        seed = seed * 1103515245u + 12345u;
        const size_t n = std::min<size_t>(1 + (seed >> 16) % 32, size - at);
        plain.RECEIVE_COM_Data(data + at, int32_t(n));
        nibble.HBrevoRData(data + at, int32_t(n));
        at += n;
        // A stream without end bytes must not grow the accumulators.
        if (plain.HexAccumulator.size() > 4096 || nibble.HexAccumulator.size() > 4096)
            std::abort();
    }
    return 0;
}
