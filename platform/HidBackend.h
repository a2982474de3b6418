#pragma once
// The system side of HID devices: list the present interfaces, open one,
// tell its identity and report layout, send feature reports, read input
// reports in slices, and say when the set of interfaces may have changed.
// The HID device classes talk only to IHidBackend, so tests can script the
// devices.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

// One HID interface as a scan finds it.
struct HidInterface {
    // Stays the same while the interface is plugged in and differs after it
    // was plugged in again; scans compare interfaces by it.
    std::string Instance;
    // What opens the interface (a device node).
    std::string Path;
    // Where the system describes it (a sysfs directory on Linux).
    std::string SysPath;
};

struct HidAttributes {
    uint16_t VendorID = 0;
    uint16_t ProductID = 0;
    uint16_t VersionNumber = 0;
};

// The report layout of an interface.
struct HidReportCaps {
    // Longest input report in bytes, the report ID byte included (which is
    // there, as 0, also for interfaces without report IDs); 0 when it has none.
    uint16_t InputReportByteLength = 0;
    uint16_t FeatureReportByteLength = 0;
    bool UsesReportIds = false;
};

enum class HidOpenMode {
    ReadWrite,  // identity, report layout and feature reports
    Query,      // identity only; works where reading and writing is refused
    Read,       // input reports
};

enum class HidReadStatus {
    Report,       // Count bytes were read
    Timeout,      // nothing came within the slice
    Interrupted,  // Interrupt() ended the wait
    Failed,       // the interface cannot be read (Error says why)
};

struct HidReadResult {
    HidReadStatus Status = HidReadStatus::Timeout;
    size_t Count = 0;
    int Error = 0;
};

// One open interface. Read() and Interrupt() may be called from any thread;
// everything else from the thread that opened it.
class IHidHandle {
public:
    virtual ~IHidHandle() = default;

    virtual bool GetAttributes(HidAttributes& attributes) = 0;
    // UTF-16 strings; false when the interface has none or it cannot be read.
    virtual bool GetProductString(std::u16string& text) = 0;
    virtual bool GetSerialNumberString(std::u16string& text) = 0;
    // String descriptor `index`; index 0 is the list of language IDs.
    virtual bool GetIndexedString(int index, std::u16string& text) = 0;
    virtual bool GetReportCaps(HidReportCaps& caps) = 0;
    // Sends a feature report; data[0] is the report ID (0 without report IDs).
    virtual bool SetFeature(const uint8_t* data, size_t size) = 0;

    // Waits at most `timeoutMs` for one input report and copies it into
    // `buffer`, the report ID first (0 for interfaces without report IDs),
    // so Count includes that byte.
    virtual HidReadResult Read(uint8_t* buffer, size_t capacity, int timeoutMs) = 0;
    // Ends a Read in progress, or makes the next one return at once.
    virtual void Interrupt() = 0;

    // errno of the last failure.
    virtual int LastError() const = 0;
};

class IHidBackend {
public:
    virtual ~IHidBackend() = default;

    // False when the system offers no HID access at all: no interfaces are
    // listed and no changes are told.
    virtual bool Present() const = 0;
    virtual std::vector<HidInterface> Enumerate() = 0;
    // Opens an interface; on failure returns null and sets `error` (errno).
    virtual std::unique_ptr<IHidHandle> Open(const HidInterface& interface, HidOpenMode mode, int& error) = 0;
    // From now on calls `onChange` from the caller's event loop whenever HID
    // interfaces may have come or gone; an empty function stops that.
    virtual void Watch(std::function<void()> onChange) = 0;

    // How many device controllers use this backend: a program has one.
    int ControllerCount = 0;
};
