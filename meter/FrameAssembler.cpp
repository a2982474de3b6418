#include "meter/FrameAssembler.h"

namespace {
constexpr char kHex[] = "0123456789ABCDEF";
// Bytes kept of a run: one more than a valid run, so an over-long run still
// reads as over-long when it is cut.
constexpr size_t kKeptChars = 2 * (FrameAssembler::kRunBytes + 1);

uint8_t HexValue(char c)
{
    return uint8_t(c <= '9' ? c - '0' : c - 'A' + 10);
}
}  // namespace

bool FrameAssembler::IsValidFrameText(std::string_view t)
{
    if (t.size() < 26) return false;
    const bool sign = t[0] == '2' && (t[1] == 'B' || t[1] == 'D');
    return sign && t[24] == '0' && t[25] == 'D';
}

bool FrameAssembler::SignSecond() const
{
    return HexAccumulator.size() >= 4 && HexAccumulator[2] == '2' &&
           (HexAccumulator[3] == 'B' || HexAccumulator[3] == 'D');
}

void FrameAssembler::CutRun()
{
    heldEnd_ = 0;
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

void FrameAssembler::CutAtHeldEnd()
{
    // The run is no frame: cut it at its first held 0x0D (a run of 9 to 13
    // bytes, rejected) and frame the bytes after that end again.
    const std::string rest = HexAccumulator.substr(2 * heldEnd_);
    HexAccumulator.resize(2 * heldEnd_);
    CutRun();
    for (size_t i = 0; i + 1 < rest.size(); i += 2)
        Take(uint8_t(HexValue(rest[i]) << 4 | HexValue(rest[i + 1])));
}

void FrameAssembler::Take(uint8_t b)
{
    if (HexAccumulator.size() < kKeptChars) {
        HexAccumulator.push_back(kHex[b >> 4]);
        HexAccumulator.push_back(kHex[b & 15]);
    }
    const size_t runBytes = HexAccumulator.size() / 2;
    if (heldEnd_ != 0) {
        // Until the 14th byte every byte, 0x0D or not, may still be frame data.
        if (runBytes < kRunBytes)
            return;
        if (b == 0x0D)
            CutRun();  // a frame whose status or bar bytes hold 0x0D
        else
            CutAtHeldEnd();
        return;
    }
    if (b != 0x0D)
        return;
    if (runBytes >= kFirstDataEnd && runBytes <= kLastDataEnd && SignSecond()) {
        heldEnd_ = runBytes;
        return;
    }
    CutRun();
}

void FrameAssembler::RECEIVE_COM_Data(const uint8_t* DataPtr, int32_t DataSize)
{
    if (HexAccumulator.capacity() < kKeptChars)
        HexAccumulator.reserve(kKeptChars);
    for (int32_t i = 0; i < DataSize; ++i)
        Take(DataPtr[i]);
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
