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

int Plug(EmulatedHidBus& bus)
{
    const int id = bus.Plug({});
    bus.SetQueueLimit(id, 64);  // a hidraw node keeps 64 reports
    std::printf("meter-sim: USB cable \"USB to Serial\" plugged in as %s\n", bus.Node(id).c_str());
    std::fflush(stdout);
    return id;
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
    auto scenario = MakeScenario(o.scenario, o.seed);
    if (!scenario)
        throw std::runtime_error("unknown scenario '" + o.scenario + "'");

    CatchStopSignals();

    EmulatedHidBus bus;
    int id = Plug(bus);
    bool plugged = true;
    const pid_t child = Start(o.program);

    const long long start = NowMs();
    long long nextFrame = start;
    long long nextIdle = start;
    long long unpluggedAt = -1;
    long long sent = 0;
    size_t featuresSeen = 0;
    int status = 0;
    const auto framesLeft = [&] { return o.count == 0 || sent < o.count; };
    for (;;) {
        if (StopAsked()) {
            ::kill(child, SIGTERM);  // the program ends, and this loop with it
            ClearStopAsked();
        }
        const pid_t r = ::waitpid(child, &status, WNOHANG);
        if (r == child || (r < 0 && errno != EINTR))
            break;
        const long long now = NowMs();
        if (plugged && o.unplugAfter >= 0 && unpluggedAt < 0 && now - start >= o.unplugAfter * 1000LL) {
            bus.Unplug(id);
            plugged = false;
            unpluggedAt = now;
            std::printf("meter-sim: USB cable unplugged\n");
            std::fflush(stdout);
        }
        if (!plugged && o.replugAfter >= 0 && unpluggedAt >= 0 && now - unpluggedAt >= o.replugAfter * 1000LL) {
            id = Plug(bus);
            plugged = true;
            nextFrame = nextIdle = now;
        }
        if (plugged) {
            const auto features = bus.Features(id);
            for (; featuresSeen < features.size(); ++featuresSeen) {
                const auto& f = features[featuresSeen];
                if (f.size() >= 5) {
                    const unsigned speed = f[1] | f[2] << 8 | f[3] << 16 | unsigned(f[4]) << 24;
                    std::printf("meter-sim: the program set the cable to %u bit/s\n", speed);
                    std::fflush(stdout);
                }
            }
            if (now >= nextFrame && framesLeft()) {
                bus.Queue(id, CableReports(CableBurst(scenario->Next())));
                ++sent;
                nextFrame = std::max(nextFrame + o.interval, now);
                nextIdle = now + o.idleMs;  // the frame's reports come first
            } else if (now >= nextIdle) {
                bus.Queue(id, {EmptyCableReport()});
                nextIdle = std::max(nextIdle + o.idleMs, now);
            }
        } else {
            featuresSeen = 0;
        }
        // Once --count frames are sent, or while the cable is unplugged, the
        // next frame's and report's times stand still: waking for them would spin.
        const long long wake = CableWakeAt(now, nextFrame, nextIdle, plugged, framesLeft());
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
