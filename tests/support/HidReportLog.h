#pragma once
// The input reports and read errors a device's reader hands over, written
// down in the order they come.
#include "link/hid/HidDevice.h"

#include <cstdint>
#include <vector>

struct HidReport {
    uint8_t id;
    std::vector<uint8_t> data;
    bool operator==(const HidReport&) const = default;
};

struct HidReportLog {
    std::vector<HidReport> reports;
    std::vector<uint32_t> errors;

    // A data handler that adds each report to `reports`.
    THidDataEvent Collect()
    {
        return THidDataEvent(
            [this](THidDevice*, uint8_t id, const uint8_t* data, uint16_t size) {
                reports.push_back({id, std::vector<uint8_t>(data, data + size)});
            },
            &reports);
    }
    // An error handler that adds each error to `errors`.
    THidDataErrorEvent CollectErrors()
    {
        return THidDataErrorEvent([this](THidDevice*, uint32_t e) { errors.push_back(e); }, &errors);
    }
};
