#pragma once
// Cuts the meter's byte stream into frames and hands each valid frame text on.
//
// Plain framing: every byte is kept as two upper-case hex characters until an
// end byte 0x0D closes the run. A run is accepted when it is exactly 14 bytes:
// one byte of any value (in a continuous stream the byte after the previous
// end byte), the sign 0x2B or 0x2D, eleven bytes and 0x0D. The frame text is
// the 13 bytes after the first one.
//
// The four status bytes and the bar byte (run bytes 9 to 13) may themselves be
// 0x0D. Such a byte, in a run whose second byte is a sign, is held as a possible
// end instead of cutting the run at once:
// - when the run then ends with 0x0D at exactly its 14th byte, the run is a
//   frame and is accepted;
// - otherwise the run is cut at the first held 0x0D, exactly where plain framing
//   cuts it, and the bytes after that 0x0D are framed again from the start of a
//   new run.
// So every frame that plain framing finds is still found, and the only frames
// added are 14-byte runs whose inner 0x0D bytes all sit at status or bar
// positions. A noisy line that puts 0x0D into a digit or the point code cuts
// the run there, as plain framing does.
//
// A run longer than 14 bytes can never be valid, so only its first 15 bytes are
// kept: a stream without end bytes cannot grow the accumulator.
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

class FrameAssembler {
public:
    // Called for every valid frame with FrameText set. An exception thrown by
    // it abandons the rest of the delivery and keeps the run accumulated, so
    // the next run is rejected as too long.
    std::function<void(const std::string& frameText)> onFrame;

    // Plain receive routine.
    void RECEIVE_COM_Data(const uint8_t* DataPtr, int32_t DataSize);
    // Nibble receive routine: collects frames that end at a byte 0xE0..0xEF,
    // one hex character (the low digit) per byte, and decodes nothing.
    void HBrevoRData(const uint8_t* DataPtr, int32_t DataSize);

    // The frame text of the last run cut (valid or not).
    std::string FrameText;
    // The hex text of the bytes received since the last end byte (bounded).
    std::string HexAccumulator;

    // "2B0D" or "2D0D" from characters 1-2 and 25-26.
    static bool IsValidFrameText(std::string_view text);

    static constexpr size_t kRunBytes = 14;
    // Run bytes (counting the leading byte as 1) where a 0x0D may be data.
    static constexpr size_t kFirstDataEnd = 9;
    static constexpr size_t kLastDataEnd = 13;

private:
    void Take(uint8_t b);
    void CutRun();
    void CutAtHeldEnd();
    bool SignSecond() const;

    bool afterFailure_ = false;
    // Run byte of the first 0x0D held as a possible end; 0 when none is held.
    size_t heldEnd_ = 0;
};
