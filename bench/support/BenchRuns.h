#pragma once
// The meter runs the benchmarks feed, the same over the serial line and the
// USB cable: 14 bytes each (lead byte, sign, four digits, spare, point code,
// four status bytes, bar, 0x0D), the sign alternating and the digits going
// round five readings, an overload among them.
#include <cstdint>
#include <vector>

inline std::vector<uint8_t> BenchRun(int i)
{
    const char* digits[] = {"0123", "4567", "5999", "0001", "?0:?"};
    const char* d = digits[i % 5];
    return {0x0A, uint8_t(i & 1 ? '-' : '+'), uint8_t(d[0]), uint8_t(d[1]), uint8_t(d[2]), uint8_t(d[3]),
            0x20, '2', 0x20, 0x00, 0x40, 0x80, uint8_t(i % 42), 0x0D};
}
