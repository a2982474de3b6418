#pragma once
// The bytes of one reading as the meter sends them over the serial cable.
#include <cstdint>
#include <vector>

// A 14-byte run: lead byte, sign, four digits, spare, point code, four status
// bytes, bar, 0x0D (the 13 bytes after the lead byte are the frame).
inline std::vector<uint8_t> MeterRun(char sign = '+', const char* digits = "0123", char point = '0',
                                     uint8_t s1 = 0, uint8_t s2 = 0, uint8_t s3 = 0, uint8_t s4 = 0,
                                     uint8_t bar = 0, uint8_t lead = 0x0A)
{
    return {lead, uint8_t(sign), uint8_t(digits[0]), uint8_t(digits[1]), uint8_t(digits[2]),
            uint8_t(digits[3]), 0x20, uint8_t(point), s1, s2, s3, s4, bar, 0x0D};
}
