#include "UsbCable.h"
#include "CableSchedule.h"

#include "EmulatedHidBus.h"
#include "MeterFrame.h"
#include "StopSignals.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>

namespace metersim {

namespace {

long long NowMs()
{
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return t.tv_sec * 1000LL + t.tv_nsec / 1000000;
}

pid_t Start(const std::vector<std::string>& program)
{
    std::vector<char*> args;
    std::vector<std::string> store = program;
    for (std::string& a : store)
        args.push_back(a.data());
    args.push_back(nullptr);
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::execvp(args[0], args.data());
        std::fprintf(stderr, "meter-sim: cannot start %s: %s\n", args[0], std::strerror(errno));
        ::_exit(127);
    }
    if (pid < 0)
        throw std::runtime_error(std::string("cannot start the program: ") + std::strerror(errno));
    return pid;
}

// One cable on the bus and the meter behind it. The cable keeps no serial
// number, as the real one has none (a "USB to Serial" device with one is not
// the meter's cable to the program); cables are told apart by their USB port.
struct Cable {
    int number = 1;  // 1 ... cables, in the order they are first plugged in
    std::unique_ptr<Scenario> scenario;
    int id = 0;  // on the bus, while plugged
    bool plugged = false;
    long long nextFrame = 0;
    long long nextIdle = 0;
    long long unpluggedAt = -1;
    long long sent = 0;
    size_t featuresSeen = 0;
};

// "USB cable" with one cable on the bus, "USB cable 2" with several.
std::string CableName(const Cable& cable, int cables)
{
    return cables > 1 ? "USB cable " + std::to_string(cable.number) : std::string("USB cable");
}

void Plug(EmulatedHidBus& bus, Cable& cable, int cables)
{
    cable.id = bus.Plug({});
    bus.SetQueueLimit(cable.id, 64);  // a hidraw node keeps 64 reports
    cable.plugged = true;
    cable.featuresSeen = 0;
    std::printf("meter-sim: %s \"USB to Serial\" plugged in as %s\n", CableName(cable, cables).c_str(),
                bus.Node(cable.id).c_str());
    std::fflush(stdout);
}

}  // namespace

std::vector<std::vector<uint8_t>> CableReports(const std::vector<uint8_t>& bytes)
{
    std::vector<std::vector<uint8_t>> reports;
    for (size_t at = 0; at < bytes.size(); at += kCableBytesPerReport) {
        const size_t n = std::min(kCableBytesPerReport, bytes.size() - at);
        std::vector<uint8_t> r(kCableReportSize, 0);
        r[0] = uint8_t(n);
        std::copy_n(bytes.begin() + long(at), n, r.begin() + 1);
        reports.push_back(std::move(r));
    }
    return reports;
}

std::vector<uint8_t> EmptyCableReport()
{
    return std::vector<uint8_t>(kCableReportSize, 0);
}

std::vector<uint8_t> CableBurst(const std::vector<uint8_t>& piece)
{
    if (piece.size() != kRunSize || piece[0] != kLeadByte)
        return piece;
    std::vector<uint8_t> burst(piece.begin() + 1, piece.end());
    burst.push_back(piece[0]);
    return burst;
}

int RunUsb(const UsbOptions& o, char** argv)
{
    if (o.program.empty())
        throw std::runtime_error("--usb needs a program to run: meter-sim --usb -- PROGRAM [ARGS]");
    if (!EmulatedHidBus::PreloadActive()) {
        // The emulated bus is seen only through umockdev's preload library,
        // by this program as by the one it starts.
        std::string preload = EmulatedHidBus::PreloadLibrary();
        if (const char* old = std::getenv("LD_PRELOAD"); old && *old)
            preload += std::string(":") + old;
        ::setenv("LD_PRELOAD", preload.c_str(), 1);
        ::execv("/proc/self/exe", argv);
        throw std::runtime_error(std::string("cannot restart with umockdev's preload library: ") + std::strerror(errno));
    }
    if (o.cables < 1 || o.cables > kMaxCables)
        throw std::runtime_error("--cables must be 1 to " + std::to_string(kMaxCables));
    if (o.unplugCable < 1 || o.unplugCable > o.cables)
        throw std::runtime_error("--unplug-cable must be 1 to " + std::to_string(o.cables));
    // Cable k plays seed + k - 1. The noise scenario plays seed 0 as seed 1,
    // so counting starts from 1 there, or the first two cables would agree.
    const uint32_t seed = o.seed ? o.seed : 1;
    std::vector<Cable> cables(size_t(o.cables));
    for (int k = 0; k < o.cables; ++k) {
        cables[size_t(k)].number = k + 1;
        cables[size_t(k)].scenario = MakeScenario(o.scenario, seed + uint32_t(k));
        if (!cables[size_t(k)].scenario)
            throw std::runtime_error("unknown scenario '" + o.scenario + "'");
    }

    CatchStopSignals();

    EmulatedHidBus bus;
    for (Cable& cable : cables)
        Plug(bus, cable, o.cables);
    Cable& moved = cables[size_t(o.unplugCable - 1)];  // by --unplug-after and --replug-after
    const pid_t child = Start(o.program);

    const long long start = NowMs();
    for (Cable& cable : cables)
        cable.nextFrame = cable.nextIdle = start;

    int status = 0;
    for (;;) {
        if (StopAsked()) {
            ::kill(child, SIGTERM);  // the program ends, and this loop with it
            ClearStopAsked();
        }
        const pid_t r = ::waitpid(child, &status, WNOHANG);
        if (r == child || (r < 0 && errno != EINTR))
            break;
        const long long now = NowMs();
        if (moved.plugged && o.unplugAfter >= 0 && moved.unpluggedAt < 0 && now - start >= o.unplugAfter * 1000LL) {
            bus.Unplug(moved.id);
            moved.plugged = false;
            moved.unpluggedAt = now;
            std::printf("meter-sim: %s unplugged\n", CableName(moved, o.cables).c_str());
            std::fflush(stdout);
        }
        if (!moved.plugged && o.replugAfter >= 0 && moved.unpluggedAt >= 0 &&
            now - moved.unpluggedAt >= o.replugAfter * 1000LL) {
            Plug(bus, moved, o.cables);
            moved.nextFrame = moved.nextIdle = now;
        }
        long long wake = now + 50;  // as CableWakeAt's for any cable
        for (Cable& cable : cables) {
            const auto framesLeft = [&] { return o.count == 0 || cable.sent < o.count; };
            if (cable.plugged) {
                const auto features = bus.Features(cable.id);
                for (; cable.featuresSeen < features.size(); ++cable.featuresSeen) {
                    const auto& f = features[cable.featuresSeen];
                    if (f.size() >= 5) {
                        const unsigned speed = f[1] | f[2] << 8 | f[3] << 16 | unsigned(f[4]) << 24;
                        if (o.cables > 1)
                            std::printf("meter-sim: the program set cable %d to %u bit/s\n", cable.number, speed);
                        else
                            std::printf("meter-sim: the program set the cable to %u bit/s\n", speed);
                        std::fflush(stdout);
                    }
                }
                if (now >= cable.nextFrame && framesLeft()) {
                    bus.Queue(cable.id, CableReports(CableBurst(cable.scenario->Next())));
                    ++cable.sent;
                    cable.nextFrame = std::max(cable.nextFrame + o.interval, now);
                    cable.nextIdle = now + o.idleMs;  // the frame's reports come first
                } else if (now >= cable.nextIdle) {
                    bus.Queue(cable.id, {EmptyCableReport()});
                    cable.nextIdle = std::max(cable.nextIdle + o.idleMs, now);
                }
            }
            // Once --count frames are sent, or while the cable is unplugged,
            // its next frame's and report's times stand still: waking for them
            // would spin.
            wake = std::min(wake, CableWakeAt(now, cable.nextFrame, cable.nextIdle, cable.plugged, framesLeft()));
        }
        if (wake > now) {
            const timespec pause{time_t((wake - now) / 1000), long((wake - now) % 1000) * 1000000L};
            nanosleep(&pause, nullptr);
        }
    }
    if (WIFEXITED(status))
        return WEXITSTATUS(status);
    return 128 + (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
}

}  // namespace metersim
