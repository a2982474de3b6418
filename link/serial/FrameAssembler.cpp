#include "link/serial/FrameAssembler.h"

namespace {
constexpr char kHex[] = "0123456789ABCDEF";
// Bytes kept of a run: one more than a valid run, so an over-long run still
// reads as over-long when it is cut.
constexpr size_t kKeptChars = 2 * (FrameAssembler::kRunBytes + 1);
}

bool FrameAssembler::IsValidFrameText(std::string_view t)
{
    if (t.size() < 26) return false;
    const bool sign = t[0] == '2' && (t[1] == 'B' || t[1] == 'D');
    return sign && t[24] == '0' && t[25] == 'D';
}

void FrameAssembler::CutRun()
{
    FrameText.assign(HexAccumulator.size() > 2 ? std::string_view(HexAccumulator).substr(2, 26)
                                               : std::string_view());
    if (afterFailure_) {
        // The run that follows a failed frame still holds that frame's bytes
        // at its start: it is over-long and rejected, then decoding goes on.
        afterFailure_ = false;
    } else if (IsValidFrameText(FrameText) && onFrame) {
        try {
            onFrame(FrameText);
        } catch (...) {
            // The rest of the delivery is dropped and the run stays accumulated.
            afterFailure_ = true;
            throw;
        }
    }
    HexAccumulator.clear();
}

void FrameAssembler::RECEIVE_COM_Data(const uint8_t* DataPtr, int32_t DataSize)
{
    if (HexAccumulator.capacity() < kKeptChars)
        HexAccumulator.reserve(kKeptChars);
    for (int32_t i = 0; i < DataSize; ++i) {
        const uint8_t b = DataPtr[i];
        if (HexAccumulator.size() < kKeptChars) {
            HexAccumulator.push_back(kHex[b >> 4]);
            HexAccumulator.push_back(kHex[b & 15]);
        }
        if (b != 0x0D)
            continue;
        // A 0x0D inside a frame that has begun with its sign is frame data.
        const size_t runBytes = HexAccumulator.size() / 2;
        const bool signSecond = runBytes >= 2 && HexAccumulator[2] == '2' &&
                                (HexAccumulator[3] == 'B' || HexAccumulator[3] == 'D');
        if (runBytes < kRunBytes && signSecond)
            continue;
        CutRun();
    }
}

void FrameAssembler::HBrevoRData(const uint8_t* DataPtr, int32_t DataSize)
{
    for (int32_t i = 0; i < DataSize; ++i) {
        const uint8_t b = DataPtr[i];
        // Frames of this framing are short; keep a generous bound all the same.
        if (HexAccumulator.size() < 4096)
            HexAccumulator.push_back(kHex[b & 15]);
        if ((b >> 4) == 0xE) {
            FrameText = HexAccumulator;
            HexAccumulator.clear();
        }
    }
}
