#pragma once
// Cuts the meter's byte stream into frames and hands each valid frame text on.
//
// Plain framing: every byte is kept as two upper-case hex characters until an
// end byte 0x0D closes the run. A run is accepted when it is exactly 14 bytes:
// one byte of any value (in a continuous stream the byte after the previous
// end byte), the sign 0x2B or 0x2D, eleven bytes and 0x0D. The frame text is
// the 13 bytes after the first one.
//
// A 0x0D inside a frame (the bar-graph byte of 13 segments, or a status byte)
// does not end the run while the run is shorter than 14 bytes and its second
// byte is a sign.
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

private:
    void CutRun();
    bool afterFailure_ = false;
};
