#include "platform/LinuxHidBackend.h"

#include "platform/HidReportDescriptor.h"
#include "platform/UniqueFd.h"

#include <QSocketNotifier>
#include <QString>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <optional>
#include <libudev.h>
#include <linux/hidraw.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace {

// The identity strings of a device as it was found in sysfs.
struct SysIdentity {
    bool known = false;
    HidAttributes attributes;
    std::optional<std::string> product, serial;
};

std::optional<std::string> Text(const char* value)
{
    return value ? std::optional<std::string>(value) : std::nullopt;
}

bool ParseHex(const char* text, uint32_t& value)
{
    if (!text || !*text)
        return false;
    char* end = nullptr;
    errno = 0;
    const unsigned long v = std::strtoul(text, &end, 16);
    if (errno != 0 || end == text)
        return false;
    value = uint32_t(v);
    return true;
}

// The USB device above a hidraw node gives the IDs and strings; on other
// buses the HID device's HID_ID, HID_NAME and HID_UNIQ do.
SysIdentity ReadIdentity(struct udev* u, const std::string& sysPath)
{
    SysIdentity id;
    if (!u)
        return id;
    udev_device* node = udev_device_new_from_syspath(u, sysPath.c_str());
    if (!node)
        return id;
    if (udev_device* usb = udev_device_get_parent_with_subsystem_devtype(node, "usb", "usb_device")) {
        uint32_t vid = 0, pid = 0, version = 0;
        if (ParseHex(udev_device_get_sysattr_value(usb, "idVendor"), vid) &&
            ParseHex(udev_device_get_sysattr_value(usb, "idProduct"), pid)) {
            ParseHex(udev_device_get_sysattr_value(usb, "bcdDevice"), version);
            id.known = true;
            id.attributes = {uint16_t(vid), uint16_t(pid), uint16_t(version)};
            id.product = Text(udev_device_get_sysattr_value(usb, "product"));
            id.serial = Text(udev_device_get_sysattr_value(usb, "serial"));
        }
    }
    if (!id.known) {
        if (udev_device* hid = udev_device_get_parent_with_subsystem_devtype(node, "hid", nullptr)) {
            // HID_ID=0003:00001A86:0000E008 (bus, vendor, product)
            unsigned bus = 0, vid = 0, pid = 0;
            const char* hidId = udev_device_get_property_value(hid, "HID_ID");
            if (hidId && std::sscanf(hidId, "%x:%x:%x", &bus, &vid, &pid) == 3) {
                id.known = true;
                id.attributes = {uint16_t(vid), uint16_t(pid), 0};
                id.product = Text(udev_device_get_property_value(hid, "HID_NAME"));
                id.serial = Text(udev_device_get_property_value(hid, "HID_UNIQ"));
            }
        }
    }
    udev_device_unref(node);
    return id;
}

// A string as a HID string query returns it: UTF-16, at most 253 units (the
// query's buffer holds 254 with the terminating zero). Empty strings count as
// none.
bool ToHidString(const std::optional<std::string>& utf8, std::u16string& text)
{
    if (!utf8 || utf8->empty())
        return false;
    text = QString::fromUtf8(utf8->data(), qsizetype(utf8->size())).left(253).toStdU16String();
    return true;
}

class LinuxHidHandle final : public IHidHandle {
public:
    LinuxHidHandle(SysIdentity identity, UniqueFd fd, UniqueFd wakeFd, bool usesReportIds)
        : identity_(std::move(identity)),
          fd_(std::move(fd)),
          wakeFd_(std::move(wakeFd)),
          usesReportIds_(usesReportIds)
    {
    }

    bool GetAttributes(HidAttributes& attributes) override
    {
        if (!identity_.known)
            return Fail(ENODEV);
        attributes = identity_.attributes;
        return true;
    }
    bool GetProductString(std::u16string& text) override
    {
        return ToHidString(identity_.product, text) || Fail(ENOENT);
    }
    bool GetSerialNumberString(std::u16string& text) override
    {
        return ToHidString(identity_.serial, text) || Fail(ENOENT);
    }
    bool GetIndexedString(int index, std::u16string& text) override
    {
        // sysfs shows the strings the kernel read in the device's first
        // language, but not the language list itself. String descriptor 0 is
        // given as US English (0x0409), the language nearly every device lists
        // first; what matters is that it is there and is no serial number.
        if (index != 0 || !identity_.known)
            return Fail(EINVAL);
        text = std::u16string(1, char16_t(0x0409));
        return true;
    }
    bool GetReportCaps(HidReportCaps& caps) override
    {
        HidReportLayout layout;
        if (!ReadLayout(fd_.get(), layout))
            return Fail(errno);
        caps.InputReportByteLength = uint16_t(layout.InputBytes ? layout.InputBytes + 1 : 0);
        caps.FeatureReportByteLength = uint16_t(layout.FeatureBytes ? layout.FeatureBytes + 1 : 0);
        caps.UsesReportIds = layout.UsesReportIds;
        return true;
    }
    bool SetFeature(const uint8_t* data, size_t size) override
    {
        if (fd_.get() < 0)
            return Fail(EBADF);
        if (size == 0 || size > kHidMaxReportBytes + 1)
            return Fail(EINVAL);
        // The ioctl may write into the buffer; it gets a copy.
        std::vector<uint8_t> buffer(data, data + size);
        if (::ioctl(fd_.get(), HIDIOCSFEATURE(size), buffer.data()) < 0)
            return Fail(errno);
        return true;
    }

    HidReadResult Read(uint8_t* buffer, size_t capacity, int timeoutMs) override
    {
        if (fd_.get() < 0 || wakeFd_.get() < 0 || capacity < 2)
            return {HidReadStatus::Failed, 0, EINVAL};
        // Right after a report, the next one may already wait.
        if (hot_) {
            const HidReadResult r = ReadNow(buffer, capacity);
            if (r.Status != HidReadStatus::Timeout)
                return r;
        }
        pollfd fds[2] = {{fd_.get(), POLLIN, 0}, {wakeFd_.get(), POLLIN, 0}};
        const int n = ::poll(fds, 2, timeoutMs);
        if (n < 0 && errno != EINTR)
            return {HidReadStatus::Failed, 0, errno};
        if (n > 0 && (fds[1].revents & POLLIN)) {
            uint64_t count = 0;
            [[maybe_unused]] const ssize_t drained = ::read(wakeFd_.get(), &count, sizeof count);
            return {HidReadStatus::Interrupted, 0, 0};
        }
        // Also after a slice in which poll() saw nothing: an emulated node may
        // never report itself readable. On a real device this costs one call
        // per slice.
        return ReadNow(buffer, capacity);
    }
    void Interrupt() override
    {
        if (wakeFd_.get() >= 0) {
            const uint64_t one = 1;
            [[maybe_unused]] const ssize_t written = ::write(wakeFd_.get(), &one, sizeof one);
        }
    }
    int LastError() const override { return lastError_; }

    static bool ReadLayout(int fd, HidReportLayout& layout)
    {
        if (fd < 0) {
            errno = EBADF;
            return false;
        }
        int size = 0;
        if (::ioctl(fd, HIDIOCGRDESCSIZE, &size) < 0)
            return false;
        auto descriptor = std::make_unique<hidraw_report_descriptor>();
        std::memset(descriptor.get(), 0, sizeof *descriptor);
        descriptor->size = uint32_t(std::clamp(size, 0, HID_MAX_DESCRIPTOR_SIZE));
        if (::ioctl(fd, HIDIOCGRDESC, descriptor.get()) < 0)
            return false;
        layout = ParseHidReportDescriptor(descriptor->value, std::min<size_t>(descriptor->size, HID_MAX_DESCRIPTOR_SIZE));
        return true;
    }

private:
    bool Fail(int err)
    {
        lastError_ = err;
        return false;
    }

    HidReadResult ReadNow(uint8_t* buffer, size_t capacity)
    {
        // Without report IDs the report's bytes start at once; the caller
        // still gets the ID byte first, as 0.
        uint8_t* into = usesReportIds_ ? buffer : buffer + 1;
        const size_t room = usesReportIds_ ? capacity : capacity - 1;
        ssize_t n;
        do
            n = ::read(fd_.get(), into, room);
        while (n < 0 && errno == EINTR);
        if (n < 0) {
            hot_ = false;
            if (errno == EAGAIN || errno == EWOULDBLOCK)
                return {HidReadStatus::Timeout, 0, 0};
            return {HidReadStatus::Failed, 0, errno};
        }
        if (n == 0) {  // a hidraw node never gives an empty report: it is gone
            hot_ = false;
            return {HidReadStatus::Failed, 0, ENODEV};
        }
        hot_ = true;
        if (!usesReportIds_) {
            buffer[0] = 0;
            ++n;
        }
        return {HidReadStatus::Report, size_t(n), 0};
    }

    SysIdentity identity_;
    UniqueFd fd_;
    UniqueFd wakeFd_;  // an eventfd that ends a read in progress; a reading handle's only
    bool usesReportIds_ = false;
    bool hot_ = false;  // the last read gave a report; used by the reading thread only
    int lastError_ = 0;
};

}  // namespace

struct LinuxHidBackend::Monitor {
    udev_monitor* monitor = nullptr;
    std::unique_ptr<QSocketNotifier> notifier;
    ~Monitor()
    {
        notifier.reset();
        if (monitor)
            udev_monitor_unref(monitor);
    }
};

LinuxHidBackend::LinuxHidBackend() : udev_(udev_new())
{
    // The kernel tells a removal before the device has left sysfs: a scan
    // right away could still find it. Events settle for a moment first.
    coalesce_.setSingleShot(true);
    coalesce_.setInterval(100);
    QObject::connect(&coalesce_, &QTimer::timeout, [this] {
        if (onChange_)
            onChange_();
    });
}

LinuxHidBackend::~LinuxHidBackend()
{
    StopWatching();
    if (udev_)
        udev_unref(udev_);
}

std::vector<HidInterface> LinuxHidBackend::Enumerate()
{
    std::vector<HidInterface> found;
    if (!udev_)
        return found;
    udev_enumerate* e = udev_enumerate_new(udev_);
    if (!e)
        return found;
    udev_enumerate_add_match_subsystem(e, "hidraw");
    if (udev_enumerate_scan_devices(e) >= 0) {
        udev_list_entry* entry;
        udev_list_entry_foreach(entry, udev_enumerate_get_list_entry(e))
        {
            const char* sysPath = udev_list_entry_get_name(entry);
            udev_device* d = udev_device_new_from_syspath(udev_, sysPath);
            if (!d)
                continue;
            const char* node = udev_device_get_devnode(d);
            if (node) {
                // The path names the plug-in: the HID device's name in it
                // carries a number the kernel counts up on every plug-in. The
                // node's number and the USB device number make sure of it.
                std::string instance = sysPath;
                char numbers[64];
                const dev_t devnum = udev_device_get_devnum(d);
                std::snprintf(numbers, sizeof numbers, "#%u:%u", major(devnum), minor(devnum));
                instance += numbers;
                if (udev_device* usb = udev_device_get_parent_with_subsystem_devtype(d, "usb", "usb_device"))
                    if (const char* n = udev_device_get_sysattr_value(usb, "devnum"))
                        instance += std::string("#") + n;
                found.push_back({instance, node, sysPath});
            }
            udev_device_unref(d);
        }
    }
    udev_enumerate_unref(e);
    return found;
}

std::unique_ptr<IHidHandle> LinuxHidBackend::Open(const HidInterface& interface, HidOpenMode mode, int& error)
{
    error = 0;
    if (!udev_) {
        error = ENOSYS;
        return nullptr;
    }
    UniqueFd fd;
    UniqueFd wakeFd;
    bool usesReportIds = false;
    switch (mode) {
    case HidOpenMode::Query:
        // Identity comes from sysfs, which needs no access to the node.
        if (::access(interface.SysPath.c_str(), F_OK) != 0 || ::access(interface.Path.c_str(), F_OK) != 0) {
            error = errno;
            return nullptr;
        }
        break;
    case HidOpenMode::ReadWrite:
        fd.reset(::open(interface.Path.c_str(), O_RDWR | O_CLOEXEC));
        if (fd.get() < 0) {
            error = errno;
            return nullptr;
        }
        break;
    case HidOpenMode::Read: {
        fd.reset(::open(interface.Path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
        if (fd.get() < 0) {
            error = errno;
            return nullptr;
        }
        HidReportLayout layout;
        if (!LinuxHidHandle::ReadLayout(fd.get(), layout)) {
            error = errno;
            return nullptr;
        }
        usesReportIds = layout.UsesReportIds;
        wakeFd.reset(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
        if (wakeFd.get() < 0) {
            error = errno;
            return nullptr;
        }
        break;
    }
    }
    return std::make_unique<LinuxHidHandle>(ReadIdentity(udev_, interface.SysPath), std::move(fd), std::move(wakeFd),
                                            usesReportIds);
}

void LinuxHidBackend::StopWatching()
{
    coalesce_.stop();
    monitors_.clear();
}

void LinuxHidBackend::Watch(std::function<void()> onChange)
{
    onChange_ = std::move(onChange);
    StopWatching();
    if (!onChange_ || !udev_)
        return;
    // udev's own events come once the daemon has set a node up (its access
    // rights included). Without a daemon they never come; the kernel's events
    // then tell the same.
    std::vector<const char*> groups{"udev"};
    if (::access("/run/udev/control", F_OK) != 0)
        groups.push_back("kernel");
    for (const char* group : groups) {
        auto m = std::make_unique<Monitor>();
        m->monitor = udev_monitor_new_from_netlink(udev_, group);
        if (!m->monitor)
            continue;
        udev_monitor_filter_add_match_subsystem_devtype(m->monitor, "hidraw", nullptr);
        if (udev_monitor_enable_receiving(m->monitor) < 0)
            continue;
        udev_monitor* raw = m->monitor;
        m->notifier = std::make_unique<QSocketNotifier>(udev_monitor_get_fd(raw), QSocketNotifier::Read);
        QObject::connect(m->notifier.get(), &QSocketNotifier::activated, [this, raw] {
            while (udev_device* d = udev_monitor_receive_device(raw))
                udev_device_unref(d);
            coalesce_.start();
        });
        monitors_.push_back(std::move(m));
    }
}
