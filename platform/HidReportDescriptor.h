#pragma once
// Reads a HID report descriptor far enough to learn how long the input and
// feature reports are and whether they carry report IDs.
#include <cstddef>
#include <cstdint>

struct HidReportLayout {
    // Longest report of each kind in bytes, without the report ID byte.
    size_t InputBytes = 0;
    size_t FeatureBytes = 0;
    bool UsesReportIds = false;
};

// Reports longer than this are not accepted by the kernel; longer sums are cut.
constexpr size_t kHidMaxReportBytes = 4096;

// Never fails: a truncated or malformed descriptor counts what it declared up
// to the damage.
HidReportLayout ParseHidReportDescriptor(const uint8_t* descriptor, size_t size);
