#pragma once
// The meter's USB cable, played on an emulated HID bus: the meter's bytes go
// out in 8-byte input reports (a count of meter bytes, 1 to 7, then the
// bytes), and between frames the cable sends reports that carry none. A bench
// of several meters is several cables on the one bus, each with its meter.
#include <cstdint>
#include <string>
#include <vector>

namespace metersim {

constexpr size_t kCableReportSize = 8;
constexpr size_t kCableBytesPerReport = kCableReportSize - 1;
constexpr int kMaxCables = 8;

// The reports that carry `bytes`, in order.
std::vector<std::vector<uint8_t>> CableReports(const std::vector<uint8_t>& bytes);
// A report that carries no meter bytes.
std::vector<uint8_t> EmptyCableReport();
// What the cable sends for one piece of the serial line: a run (lead byte,
// then the frame) goes out as the frame followed by the lead byte, since the
// lead byte follows the frame's end without a pause.
std::vector<uint8_t> CableBurst(const std::vector<uint8_t>& piece);

// What the cables play. The scenario, its pace and the count are the serial
// line's options too; every cable plays them, cable k (1 to `cables`) with
// the seed `seed + k - 1` and `count` frames of its own.
struct UsbOptions {
    std::string scenario = "steady";
    uint32_t seed = 1;
    int interval = 400;                // ms from one frame to the next
    int idleMs = 10;                   // ms between reports without meter bytes
    long long count = 0;               // frames; 0: until stopped (on USB, until the program ends)
    int cables = 1;                    // plugged in one after the other, cable 1 first
    int unplugCable = 1;               // the cable that --unplug-after and --replug-after move
    int unplugAfter = -1;              // s; -1: never
    int replugAfter = -1;              // s after the unplug; -1: never
    std::vector<std::string> program;  // what to run on the bus
};

// Plays the cables under a test bed, runs the program there, and returns its
// exit status once it ends. Needs umockdev's preload library (argv is used
// to start this program again with it when it is missing).
int RunUsb(const UsbOptions& options, char** argv);

}  // namespace metersim
