#pragma once
// HID devices without hardware: a umockdev test bed with USB HID devices, each
// with its sysfs tree (USB device, interface, HID device, hidraw node) and a
// /dev/hidrawN node whose report descriptor queries, feature reports and
// reads this object answers. Input reports are queued here and read one at a
// time; an empty queue reads as EAGAIN (the node never reports itself
// readable to poll(), so readers must try reading after each wait).
//
// The test bed serves this process and the processes it starts, as long as
// they run with umockdev's preload library (see PreloadActive).
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class EmulatedHidBus {
public:
    struct Device {
        std::string product = "USB to Serial";
        std::string serial;  // empty: none
        uint16_t vendorId = 0x1A86;
        uint16_t productId = 0xE008;
        uint16_t version = 0x0100;
        // On USB, identity comes from the USB device; otherwise from the HID
        // device's HID_ID, HID_NAME and HID_UNIQ (as on Bluetooth).
        bool usb = true;
        std::vector<uint8_t> descriptor = CableDescriptor();
    };

    // The cable's report descriptor: 8-byte input reports and 9-byte feature
    // reports, no report IDs.
    static std::vector<uint8_t> CableDescriptor();
    // Input reports with report IDs 1 (4 bytes) and 2 (16 bytes).
    static std::vector<uint8_t> NumberedDescriptor();

    // Makes the test bed (and points UMOCKDEV_DIR at it).
    EmulatedHidBus();
    ~EmulatedHidBus();
    EmulatedHidBus(const EmulatedHidBus&) = delete;
    EmulatedHidBus& operator=(const EmulatedHidBus&) = delete;

    // Whether this process runs with umockdev's preload library, without
    // which the test bed is invisible to it.
    static bool PreloadActive();
    // The preload library's name, for LD_PRELOAD.
    static const char* PreloadLibrary();

    // Plugs a device in and tells the system; returns its id.
    int Plug(const Device& device);
    // Unplugs it: reads fail from now on, the system is told, its nodes go.
    void Unplug(int id);

    std::string Node(int id) const;     // "/dev/hidrawN"
    std::string SysPath(int id) const;  // of the hidraw node

    // Queues input reports (report ID first when the device uses IDs). Like
    // the kernel's queue of a hidraw node, a full queue drops new reports;
    // returns how many were taken.
    size_t Queue(int id, const std::vector<std::vector<uint8_t>>& reports);
    // How many reports a device's queue holds (unlimited at first).
    void SetQueueLimit(int id, size_t reports);
    size_t Queued(int id) const;
    // Feature reports received, report ID first.
    std::vector<std::vector<uint8_t>> Features(int id) const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};
