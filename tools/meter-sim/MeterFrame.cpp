#include "MeterFrame.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace metersim {

Display Reading(int count, int point, uint32_t flags)
{
    Display d;
    d.negative = count < 0;
    d.magnitude = std::min(std::abs(count), 9999);
    d.point = point;
    d.flags = flags;
    d.bar = std::min(41, d.magnitude * 41 / 6000);
    return d;
}

Display Overload(bool negative, int point, uint32_t flags)
{
    Display d;
    d.negative = negative;
    d.overload = true;
    d.point = point;
    d.flags = flags;
    d.bar = 41;
    return d;
}

std::array<uint8_t, kFrameSize> EncodeFrame(const Display& d)
{
    static constexpr uint8_t kPointCode[] = {'0', '1', '2', '4'};
    std::array<uint8_t, kFrameSize> f{};
    f[0] = d.negative ? 0x2D : 0x2B;
    if (d.overload) {
        // Blank, "0", "L", blank.
        f[1] = 0x3F;
        f[2] = 0x30;
        f[3] = 0x3A;
        f[4] = 0x3F;
    } else {
        int m = std::clamp(d.magnitude, 0, 9999);
        for (int i = 4; i >= 1; --i) {
            f[size_t(i)] = uint8_t('0' + m % 10);
            m /= 10;
        }
    }
    f[5] = 0x20;
    f[6] = kPointCode[std::clamp(d.point, 0, 3)];
    f[7] = uint8_t(d.flags >> 24);
    f[8] = uint8_t(d.flags >> 16);
    f[9] = uint8_t(d.flags >> 8);
    f[10] = uint8_t(d.flags);
    f[11] = uint8_t(std::clamp(d.bar, 0, 41) | (d.negative ? 0x80 : 0));
    f[12] = 0x0D;
    return f;
}

std::array<uint8_t, kRunSize> EncodeRun(const Display& d)
{
    std::array<uint8_t, kRunSize> run{};
    run[0] = kLeadByte;
    const auto frame = EncodeFrame(d);
    std::copy(frame.begin(), frame.end(), run.begin() + 1);
    return run;
}

namespace {

std::vector<uint8_t> RunBytes(const Display& d)
{
    const auto run = EncodeRun(d);
    return {run.begin(), run.end()};
}

// The same reading, over and over.
class Steady final : public Scenario {
public:
    std::vector<uint8_t> Next() override { return RunBytes(Reading(5012, 1, flag::Auto | flag::Dc | flag::Volt)); }
};

// An auto-ranging DC voltmeter whose input climbs from 0.1 mV to 1000 V in
// steps of 5 % and falls back, with the sign changing every round trip. The
// steps are fine enough to meet every bar length, 13 segments (a bar byte of
// 0x0D, the end byte's value) included, in every range.
class Sweep final : public Scenario {
public:
    std::vector<uint8_t> Next() override
    {
        const double volts = 1e-4 * std::pow(1.05, step_);
        const uint32_t dc = flag::Auto | flag::Dc | flag::Volt;
        Display d;
        struct Range {
            double scale;
            int point;
            uint32_t flags;
        };
        static constexpr Range kRanges[] = {{1e4, 3, flag::Milli}, {1e3, 1, 0}, {1e2, 2, 0}, {1e1, 3, 0}};
        bool placed = false;
        for (const Range& r : kRanges) {
            const long count = std::lround(volts * r.scale);
            if (count <= 5999) {
                d = Reading(int(count) * sign_, r.point, dc | r.flags);
                placed = true;
                break;
            }
        }
        if (!placed)
            d = Reading(int(std::min(1000L, std::lround(volts))) * sign_, 0, dc);

        step_ += up_ ? 1 : -1;
        if (step_ >= kTopStep)
            up_ = false;
        if (step_ <= 0) {
            up_ = true;
            sign_ = -sign_;
        }
        return RunBytes(d);
    }

private:
    // 1e-4 V * 1.05^331 is just above 1000 V.
    static constexpr int kTopStep = 331;
    int step_ = 0;
    bool up_ = true;
    int sign_ = 1;
};

// Cycles through every function as a meter shows it.
class Units final : public Scenario {
public:
    std::vector<uint8_t> Next() override
    {
        using namespace flag;
        static const Display kShown[] = {
            Reading(5012, 1, Auto | Dc | Volt),         // 5.012 V DC
            Reading(2304, 3, Auto | Ac | Volt),         // 230.4 V AC
            Reading(-1234, 3, Dc | Milli | Volt),       // -123.4 mV DC, manual range
            Reading(125, 3, Auto | Ac | Milli | Volt),  // 012.5 mV AC
            Reading(1234, 1, Dc | Ampere),              // 1.234 A DC, manual range
            Reading(5500, 1, Ac | Ampere),              // 5.500 A AC, manual range
            Reading(4567, 2, Auto | Dc | Milli | Ampere),
            Reading(1234, 2, Auto | Ac | Milli | Ampere),
            Reading(3456, 3, Auto | Dc | Micro | Ampere),
            Reading(1000, 3, Auto | Ac | Micro | Ampere),
            Reading(2205, 3, Auto | Ohm),            // 220.5 ohm
            Reading(4700, 1, Auto | Kilo | Ohm),     // 4.700 kohm
            Reading(1000, 2, Mega | Ohm),            // 10.00 Mohm, manual range
            Reading(3, 3, Beep | Ohm),               // continuity
            Reading(612, 1, Diode | Volt),           // diode drop 0.612 V
            Reading(4700, 2, Auto | Nano | Farad),   // 47.00 nF
            Reading(1000, 1, Auto | Micro | Farad),  // 1.000 uF
            Reading(23, 0, Celsius),                 // 23 degrees C
            Reading(73, 0, Fahrenheit),              // 73 degrees F
            Reading(5000, 2, Auto | Hertz),          // 50.00 Hz
            Reading(1000, 1, Auto | Kilo | Hertz),   // 1.000 kHz
            Reading(500, 3, Percent),                // 50.0 % duty cycle
            Reading(5012, 1, Auto | Dc | Volt | Hold),
            Reading(-12, 1, Dc | Volt | Rel),
            Reading(5999, 1, Dc | Volt | Max),
            Reading(-5999, 1, Dc | Volt | Min),
            Reading(1500, 1, Auto | Dc | Volt | Battery),
        };
        const Display& d = kShown[next_++ % std::size(kShown)];
        return RunBytes(d);
    }

private:
    size_t next_ = 0;
};

// Overloads of either sign in several ranges, then a normal reading.
class Overloads final : public Scenario {
public:
    std::vector<uint8_t> Next() override
    {
        using namespace flag;
        static const Display kShown[] = {
            Overload(false, 2, Auto | Mega | Ohm),  // open input: 0.L Mohm
            Overload(false, 3, Auto | Ohm),
            Overload(false, 1, Auto | Dc | Volt),
            Overload(true, 1, Auto | Dc | Volt),
            Overload(false, 0, Dc | Volt),
            Overload(true, 2, Auto | Dc | Milli | Ampere),
            Overload(false, 1, Diode | Volt),  // open diode
            Overload(false, 2, Auto | Kilo | Hertz),
            Reading(1234, 1, Auto | Dc | Volt),
        };
        return RunBytes(kShown[next_++ % std::size(kShown)]);
    }

private:
    size_t next_ = 0;
};

// Valid runs mixed with garbage and broken runs, from a seeded generator so
// that a failure can be played again.
class Noise final : public Scenario {
public:
    explicit Noise(uint32_t seed) : state_(seed ? seed : 1) {}

    std::vector<uint8_t> Next() override
    {
        const int count = int(Random(11999)) - 5999;
        std::vector<uint8_t> run = RunBytes(Reading(count, 1, flag::Auto | flag::Dc | flag::Volt));
        switch (Random(10)) {
        case 5: {  // garbage
            std::vector<uint8_t> junk(1 + Random(20));
            for (uint8_t& b : junk)
                b = uint8_t(Random(256));
            return junk;
        }
        case 6:  // cut short
            run.resize(2 + Random(10));
            run.push_back(0x0D);
            return run;
        case 7:  // one byte too many
            run.insert(run.end() - 1, 0x20);
            return run;
        case 8:  // no sign
            run[1] = 0x20;
            return run;
        case 9:  // lead byte lost
            run.erase(run.begin());
            return run;
        default:
            return run;
        }
    }

private:
    uint32_t Random(uint32_t bound)
    {
        // xorshift32
        state_ ^= state_ << 13;
        state_ ^= state_ >> 17;
        state_ ^= state_ << 5;
        return state_ % bound;
    }
    uint32_t state_;
};

}  // namespace

std::vector<std::string> ScenarioNames()
{
    return {"steady", "sweep", "units", "overload", "noise"};
}

std::unique_ptr<Scenario> MakeScenario(const std::string& name, uint32_t seed)
{
    if (name == "steady")
        return std::make_unique<Steady>();
    if (name == "sweep")
        return std::make_unique<Sweep>();
    if (name == "units")
        return std::make_unique<Units>();
    if (name == "overload")
        return std::make_unique<Overloads>();
    if (name == "noise")
        return std::make_unique<Noise>(seed);
    return nullptr;
}

}  // namespace metersim
