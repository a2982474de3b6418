#pragma once
// The measuring range the displays work with: installed from the meter profile at
// start-up and replaced by the decoder for every frame according to its unit.
#include <cstdint>
#include <string>

struct ScaleSet {
    std::string FullScaleCode;   // which dial layout: "6", "34", "4", "10", "1" (empty: none)
    int32_t FullScale = 0;       // full-scale count; an overload counts one more
    int32_t ScaleZero = 0;       // scale position of a zero reading
    int32_t BarOverload = 0;     // bar position shown for an overload
    int32_t ScaleDivisions = 0;  // divisions of the dial; positions run 0 .. 10 * ScaleDivisions

    bool operator==(const ScaleSet&) const = default;

    static ScaleSet Set6() { return {"6", 6000, 600, 60, 120}; }
    static ScaleSet Set34() { return {"34", 3400, 340, 34, 68}; }
    static ScaleSet Set10() { return {"10", 1000, 1000, 1000, 200}; }
    static ScaleSet Set1() { return {"1", 100, 100, 100, 20}; }
};
