// Report lengths and report IDs read from report descriptors, damaged ones
// included.
#include <gtest/gtest.h>

#include "platform/HidReportDescriptor.h"

#include <vector>

namespace {

TEST(HidReportDescriptor, LengthsAndReportIds)
{
    using Bytes = std::vector<uint8_t>;
    const Bytes head{0x06, 0x00, 0xFF, 0x09, 0x01, 0xA1, 0x01, 0x15, 0x00, 0x26, 0xFF, 0x00, 0x75, 0x08};
    auto with = [&](Bytes body) {
        Bytes d = head;
        d.insert(d.end(), body.begin(), body.end());
        d.push_back(0xC0);
        return d;
    };
    const struct {
        const char* name;
        Bytes descriptor;
        size_t input, feature;
        bool ids;
    } cases[] = {
        {"the cable: 8 bytes in, 9 bytes feature", with({0x95, 0x08, 0x81, 0x02, 0x95, 0x09, 0xB1, 0x02}), 8, 9, false},
        {"two numbered inputs: the longer counts",
         with({0x85, 0x01, 0x95, 0x04, 0x81, 0x02, 0x85, 0x02, 0x95, 0x10, 0x81, 0x02}), 16, 0, true},
        {"bits add up per report, rounded to bytes",
         with({0x75, 0x01, 0x95, 0x03, 0x81, 0x02, 0x75, 0x05, 0x95, 0x01, 0x81, 0x03, 0x75, 0x08, 0x95, 0x02, 0x81,
               0x02}),
         3, 0, false},
        {"push and pop restore the sizes",
         with({0xA4, 0x75, 0x10, 0x95, 0x02, 0x81, 0x02, 0xB4, 0x95, 0x01, 0x81, 0x02}), 5, 0, false},
        {"outputs do not count", with({0x95, 0x40, 0x91, 0x02, 0x95, 0x02, 0x81, 0x02}), 2, 0, false},
        {"a long item is skipped", with({0xFE, 0x02, 0x10, 0xAA, 0xBB, 0x95, 0x04, 0x81, 0x02}), 4, 0, false},
        {"a huge count stops at the kernel's limit", with({0x95, 0xFF, 0x96, 0xFF, 0xFF, 0x81, 0x02}),
         kHidMaxReportBytes, 0, false},
        {"truncated inside an item", Bytes{0x75, 0x08, 0x95, 0x04, 0x81, 0x02, 0x96, 0x01}, 4, 0, false},
        {"a truncated long item", Bytes{0x95, 0x01, 0x81, 0x02, 0xFE}, 0, 0, false},
        {"empty", Bytes{}, 0, 0, false},
    };
    for (const auto& c : cases) {
        const HidReportLayout l = ParseHidReportDescriptor(c.descriptor.data(), c.descriptor.size());
        EXPECT_EQ(l.InputBytes, c.input) << c.name;
        EXPECT_EQ(l.FeatureBytes, c.feature) << c.name;
        EXPECT_EQ(l.UsesReportIds, c.ids) << c.name;
    }
}

}  // namespace
