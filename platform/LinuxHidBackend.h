#pragma once
// HID on Linux: hidraw nodes found with libudev, their identity from sysfs,
// their report layout from the report descriptor, feature reports with
// HIDIOCSFEATURE, input reports read in poll() slices, and changes told by a
// udev monitor (and the kernel's own uevents where no udev daemon runs).
#include "platform/HidBackend.h"

#include <QTimer>
#include <memory>

struct udev;
struct udev_monitor;
class QSocketNotifier;

class LinuxHidBackend final : public IHidBackend {
public:
    LinuxHidBackend();
    ~LinuxHidBackend() override;
    LinuxHidBackend(const LinuxHidBackend&) = delete;
    LinuxHidBackend& operator=(const LinuxHidBackend&) = delete;

    bool Present() const override { return udev_ != nullptr; }
    std::vector<HidInterface> Enumerate() override;
    std::unique_ptr<IHidHandle> Open(const HidInterface& interface, HidOpenMode mode, int& error) override;
    void Watch(std::function<void()> onChange) override;

private:
    struct Monitor;
    void StopWatching();

    struct udev* udev_ = nullptr;
    std::vector<std::unique_ptr<Monitor>> monitors_;
    std::function<void()> onChange_;
    // Events that come together (one per monitor, several nodes of one
    // device) make one call, once they have settled.
    QTimer coalesce_;
};
