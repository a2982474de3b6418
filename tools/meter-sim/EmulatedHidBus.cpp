#include "EmulatedHidBus.h"

#include <umockdev.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <linux/hidraw.h>
#include <map>
#include <mutex>
#include <stdexcept>
#include <sys/ioctl.h>

namespace {

// One plugged device as its ioctl handler sees it (on umockdev's thread).
struct NodeState {
    std::vector<uint8_t> descriptor;
    std::mutex mutex;
    std::deque<std::vector<uint8_t>> reports;
    size_t limit = SIZE_MAX;
    std::vector<std::vector<uint8_t>> features;
    bool gone = false;
};

std::string Hex4(unsigned v)
{
    char b[8];
    std::snprintf(b, sizeof b, "%04X", v & 0xFFFF);
    return b;
}

// Attribute values are written as they stand; newlines would end the line.
std::string Escaped(const std::string& s)
{
    std::string out;
    for (char c : s)
        out += c == '\n' ? std::string("\\n") : c == '\\' ? std::string("\\\\")
                                                          : std::string(1, c);
    return out;
}

// The `size` bytes the ioctl's argument points to, in this process; null
// (and the ioctl failed with EFAULT) when they cannot be reached.
UMockdevIoctlData* Resolve(UMockdevIoctlClient* client, UMockdevIoctlData* arg, size_t size)
{
    GError* error = nullptr;
    UMockdevIoctlData* data = umockdev_ioctl_data_resolve(arg, 0, size, &error);
    if (!data) {
        g_clear_error(&error);
        umockdev_ioctl_client_complete(client, -1, EFAULT);
    }
    return data;
}

gboolean OnIoctl(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer data)
{
    NodeState& node = *static_cast<NodeState*>(data);
    const unsigned long request = umockdev_ioctl_client_get_request(client);
    UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
    std::lock_guard lock(node.mutex);
    if (node.gone) {
        umockdev_ioctl_client_complete(client, -1, ENODEV);
        return TRUE;
    }
    if (request == HIDIOCGRDESCSIZE) {
        UMockdevIoctlData* out = Resolve(client, arg, sizeof(int));
        if (!out)
            return TRUE;
        const int size = int(node.descriptor.size());
        std::memcpy(out->data, &size, sizeof size);
        umockdev_ioctl_client_complete(client, 0, 0);
        return TRUE;
    }
    if (request == HIDIOCGRDESC) {
        UMockdevIoctlData* out = Resolve(client, arg, sizeof(hidraw_report_descriptor));
        if (!out)
            return TRUE;
        auto* d = reinterpret_cast<hidraw_report_descriptor*>(out->data);
        if (d->size > node.descriptor.size()) {
            umockdev_ioctl_client_complete(client, -1, EINVAL);
            return TRUE;
        }
        std::memcpy(d->value, node.descriptor.data(), d->size);
        umockdev_ioctl_client_complete(client, 0, 0);
        return TRUE;
    }
    if (_IOC_TYPE(request) == 'H' && _IOC_NR(request) == _IOC_NR(HIDIOCSFEATURE(0))) {
        const size_t size = _IOC_SIZE(request);
        UMockdevIoctlData* in = Resolve(client, arg, size);
        if (!in)
            return TRUE;
        node.features.emplace_back(in->data, in->data + size);
        umockdev_ioctl_client_complete(client, long(size), 0);
        return TRUE;
    }
    umockdev_ioctl_client_complete(client, -1, ENOTTY);
    return TRUE;
}

gboolean OnRead(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer data)
{
    NodeState& node = *static_cast<NodeState*>(data);
    UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
    std::lock_guard lock(node.mutex);
    if (node.gone) {
        umockdev_ioctl_client_complete(client, -1, ENODEV);
        return TRUE;
    }
    if (node.reports.empty()) {
        umockdev_ioctl_client_complete(client, -1, EAGAIN);
        return TRUE;
    }
    const std::vector<uint8_t> report = std::move(node.reports.front());
    node.reports.pop_front();
    const size_t n = std::min<size_t>(arg->data_len, report.size());
    std::memcpy(arg->data, report.data(), n);
    umockdev_ioctl_client_complete(client, long(n), 0);
    return TRUE;
}

gboolean OnWrite(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer)
{
    umockdev_ioctl_client_complete(client, -1, EINVAL);  // output reports are not used
    return TRUE;
}

}  // namespace

struct EmulatedHidBus::Impl {
    UMockdevTestbed* testbed = nullptr;
    struct Plugged {
        std::string top;     // the USB (or HID) device at the top of its tree
        std::string hidraw;  // the hidraw node's sysfs path
        std::string node;    // /dev/hidrawN
        std::shared_ptr<NodeState> state;
        UMockdevIoctlBase* handler = nullptr;
    };
    std::map<int, Plugged> devices;
    std::vector<Plugged> retired;  // unplugged, still answering those who hold them open
    int next = 1;

    Plugged& At(int id)
    {
        auto it = devices.find(id);
        if (it == devices.end())
            throw std::out_of_range("no emulated device " + std::to_string(id));
        return it->second;
    }
};

std::vector<uint8_t> EmulatedHidBus::CableDescriptor()
{
    return {0x06, 0x00, 0xFF,                    // usage page (vendor)
            0x09, 0x01,                          // usage
            0xA1, 0x01,                          // collection (application)
            0x15, 0x00, 0x26, 0xFF, 0x00,        // logical 0..255
            0x75, 0x08,                          // report size 8
            0x95, 0x08, 0x09, 0x01, 0x81, 0x02,  // 8 bytes input
            0x95, 0x09, 0x09, 0x02, 0xB1, 0x02,  // 9 bytes feature
            0xC0};
}

std::vector<uint8_t> EmulatedHidBus::NumberedDescriptor()
{
    return {0x06, 0x00, 0xFF, 0x09, 0x01, 0xA1, 0x01, 0x15, 0x00, 0x26, 0xFF, 0x00, 0x75, 0x08,
            0x85, 0x01, 0x95, 0x04, 0x09, 0x01, 0x81, 0x02,  // report 1: 4 bytes
            0x85, 0x02, 0x95, 0x10, 0x09, 0x01, 0x81, 0x02,  // report 2: 16 bytes
            0xC0};
}

EmulatedHidBus::EmulatedHidBus() : impl_(std::make_unique<Impl>())
{
    impl_->testbed = umockdev_testbed_new();
}

EmulatedHidBus::~EmulatedHidBus()
{
    for (auto& [id, d] : impl_->devices)
        impl_->retired.push_back(std::move(d));
    for (Impl::Plugged& d : impl_->retired) {
        {
            std::lock_guard lock(d.state->mutex);
            d.state->gone = true;
        }
        umockdev_testbed_detach_ioctl(impl_->testbed, d.node.c_str(), nullptr);
        g_object_unref(d.handler);
    }
    g_object_unref(impl_->testbed);
}

const char* EmulatedHidBus::PreloadLibrary()
{
    return "libumockdev-preload.so.0";
}

bool EmulatedHidBus::PreloadActive()
{
    const char* preload = std::getenv("LD_PRELOAD");
    return preload && std::strstr(preload, "libumockdev-preload");
}

int EmulatedHidBus::Plug(const Device& device)
{
    const int id = impl_->next++;
    const std::string n = std::to_string(id);
    const std::string ids = Hex4(device.vendorId) + ":" + Hex4(device.productId);
    // The HID device's name carries a number counted up on every plug-in, as
    // the kernel does.
    const std::string bus = device.usb ? "0003" : "0005";
    const std::string hidName = bus + ":" + ids + "." + Hex4(unsigned(id));
    const std::string hidId = "E: HID_ID=" + bus + ":0000" + Hex4(device.vendorId) + ":0000" + Hex4(device.productId);
    std::string top, hid, text;
    if (device.usb) {
        top = "/devices/pci0000:00/0000:00:14.0/usb1/1-" + n;
        const std::string intf = top + "/1-" + n + ":1.0";
        hid = intf + "/" + hidName;
        char attrs[160];
        std::snprintf(attrs, sizeof attrs, "A: idVendor=%04x\nA: idProduct=%04x\nA: bcdDevice=%04x\nA: devnum=%d\n",
                      device.vendorId, device.productId, device.version, id + 1);
        text += "P: " + top + "\nE: SUBSYSTEM=usb\nE: DEVTYPE=usb_device\n" + attrs;
        if (!device.product.empty())
            text += "A: product=" + Escaped(device.product) + "\n";
        if (!device.serial.empty())
            text += "A: serial=" + Escaped(device.serial) + "\n";
        text += "\nP: " + intf + "\nE: SUBSYSTEM=usb\nE: DEVTYPE=usb_interface\n\n";
        text += "P: " + hid + "\nE: SUBSYSTEM=hid\n" + hidId + "\nE: HID_NAME=Maker " + Escaped(device.product) +
                "\n\n";
    } else {
        top = "/devices/virtual/misc/uhid/" + hidName;
        hid = top;
        text += "P: " + hid + "\nE: SUBSYSTEM=hid\n" + hidId + "\nE: HID_NAME=" + Escaped(device.product) + "\n";
        if (!device.serial.empty())
            text += "E: HID_UNIQ=" + Escaped(device.serial) + "\n";
        text += "\n";
    }
    const std::string raw = "hidraw" + std::to_string(id - 1);
    const std::string hidraw = hid + "/hidraw/" + raw;
    text += "P: " + hidraw + "\nN: " + raw + "\nE: SUBSYSTEM=hidraw\nE: DEVNAME=/dev/" + raw + "\nE: MAJOR=247\nE: MINOR=" +
            std::to_string(id - 1) + "\nA: dev=247:" + std::to_string(id - 1) + "\n\n";

    GError* error = nullptr;
    if (!umockdev_testbed_add_from_string(impl_->testbed, text.c_str(), &error)) {
        const std::string why = error ? error->message : "unknown";
        g_clear_error(&error);
        throw std::runtime_error("cannot emulate the device: " + why);
    }
    Impl::Plugged p;
    p.top = "/sys" + top;
    p.hidraw = "/sys" + hidraw;
    p.node = "/dev/" + raw;
    p.state = std::make_shared<NodeState>();
    p.state->descriptor = device.descriptor;
    p.handler = umockdev_ioctl_base_new();
    g_signal_connect(p.handler, "handle-ioctl", G_CALLBACK(OnIoctl), p.state.get());
    g_signal_connect(p.handler, "handle-read", G_CALLBACK(OnRead), p.state.get());
    g_signal_connect(p.handler, "handle-write", G_CALLBACK(OnWrite), p.state.get());
    if (!umockdev_testbed_attach_ioctl(impl_->testbed, p.node.c_str(), p.handler, &error)) {
        const std::string why = error ? error->message : "unknown";
        g_clear_error(&error);
        g_object_unref(p.handler);
        throw std::runtime_error("cannot serve " + p.node + ": " + why);
    }
    umockdev_testbed_uevent(impl_->testbed, p.hidraw.c_str(), "add");
    impl_->devices.emplace(id, std::move(p));
    return id;
}

void EmulatedHidBus::Unplug(int id)
{
    Impl::Plugged p = std::move(impl_->At(id));
    impl_->devices.erase(id);
    {
        std::lock_guard lock(p.state->mutex);
        p.state->gone = true;
    }
    // The kernel tells a removal while the device is still in sysfs.
    umockdev_testbed_uevent(impl_->testbed, p.hidraw.c_str(), "remove");
    umockdev_testbed_remove_device(impl_->testbed, p.top.c_str());
    // The handler stays: a program that still has the node open gets ENODEV
    // from it, as from a vanished device (a detached handler would reset its
    // connection, which umockdev's preload library does not survive).
    impl_->retired.push_back(std::move(p));
}

std::string EmulatedHidBus::Node(int id) const
{
    return impl_->At(id).node;
}

std::string EmulatedHidBus::SysPath(int id) const
{
    return impl_->At(id).hidraw;
}

size_t EmulatedHidBus::Queue(int id, const std::vector<std::vector<uint8_t>>& reports)
{
    NodeState& node = *impl_->At(id).state;
    std::lock_guard lock(node.mutex);
    size_t taken = 0;
    for (const auto& r : reports) {
        if (node.reports.size() >= node.limit)
            break;
        node.reports.push_back(r);
        ++taken;
    }
    return taken;
}

void EmulatedHidBus::SetQueueLimit(int id, size_t reports)
{
    NodeState& node = *impl_->At(id).state;
    std::lock_guard lock(node.mutex);
    node.limit = reports;
}

size_t EmulatedHidBus::Queued(int id) const
{
    NodeState& node = *impl_->At(id).state;
    std::lock_guard lock(node.mutex);
    return node.reports.size();
}

std::vector<std::vector<uint8_t>> EmulatedHidBus::Features(int id) const
{
    NodeState& node = *impl_->At(id).state;
    std::lock_guard lock(node.mutex);
    return node.features;
}
