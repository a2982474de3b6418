#include "platform/HidReportDescriptor.h"

#include <algorithm>
#include <array>

namespace {

// The global items that size reports.
struct Globals {
    uint32_t reportSize = 0;
    uint32_t reportCount = 0;
    uint8_t reportId = 0;
};

enum Kind { Input,
            Feature,
            KindCount };

constexpr uint64_t kBitCap = uint64_t(kHidMaxReportBytes) * 8;

}  // namespace

HidReportLayout ParseHidReportDescriptor(const uint8_t* d, size_t n)
{
    // Bits per report ID and kind.
    std::array<std::array<uint64_t, 256>, KindCount> bits{};
    Globals g;
    std::array<Globals, 8> stack{};
    size_t depth = 0;
    HidReportLayout layout;

    size_t i = 0;
    while (i < n) {
        const uint8_t prefix = d[i];
        if (prefix == 0xFE) {  // long item: size byte, tag byte, data
            if (i + 1 >= n)
                break;
            i += 3 + size_t(d[i + 1]);
            continue;
        }
        static constexpr size_t kSizes[] = {0, 1, 2, 4};
        const size_t size = kSizes[prefix & 3];
        if (i + 1 + size > n)
            break;
        uint32_t value = 0;
        for (size_t k = 0; k < size; ++k)
            value |= uint32_t(d[i + 1 + k]) << (8 * k);
        const int type = (prefix >> 2) & 3;
        const int tag = prefix >> 4;
        if (type == 0) {  // main
            int kind = -1;
            if (tag == 0x8) kind = Input;
            else if (tag == 0xB) kind = Feature;
            if (kind >= 0) {
                uint64_t& b = bits[size_t(kind)][g.reportId];
                b = std::min(kBitCap, b + uint64_t(g.reportSize) * g.reportCount);
            }
        } else if (type == 1) {  // global
            switch (tag) {
            case 0x7: g.reportSize = value; break;
            case 0x8:
                g.reportId = uint8_t(value);
                layout.UsesReportIds = true;
                break;
            case 0x9: g.reportCount = value; break;
            case 0xA:  // push
                if (depth < stack.size())
                    stack[depth++] = g;
                break;
            case 0xB:  // pop
                if (depth > 0)
                    g = stack[--depth];
                break;
            default: break;
            }
        }
        i += 1 + size;
    }

    auto longest = [&](Kind kind) {
        uint64_t most = 0;
        for (uint64_t b : bits[size_t(kind)])
            most = std::max(most, b);
        return size_t((most + 7) / 8);
    };
    layout.InputBytes = longest(Input);
    layout.FeatureBytes = longest(Feature);
    return layout;
}
