#pragma once
// THidDevice stands for one HID interface present on the machine. The device
// controller makes one for every interface it finds and lends them to the
// program. A device opens its interface only for the moment it needs it,
// tells its identity, sends feature reports and, while it is checked out and
// has a data handler, owns a reader thread that hands every input report to
// the user-interface thread.
//
// Every operation runs on the user-interface thread; the reader uses only
// OpenReadHandle(), ReadPollTime() and InputReportLength().
#include "link/hid/HidEvents.h"
#include "platform/HidBackend.h"

#include <QObject>
#include <atomic>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>

class THidDeviceReadThread;

// The failures of creating devices and controllers.
class EControllerError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Where one interface is: made by the controller's scan, owned by the device
// made from it (and handed to its replacement when the device is given back).
class THidPnPInfo {
public:
    explicit THidPnPInfo(const HidInterface& found)
        : DevInstance(found.Instance),
          InterfacePath(found.Path),
          SysPath(found.SysPath)
    {
    }
    virtual ~THidPnPInfo() = default;

    HidInterface Interface() const { return {DevInstance, InterfacePath, SysPath}; }

    // The identity compared across scans.
    std::string DevInstance;
    // What opens the interface.
    std::string InterfacePath;
    std::string SysPath;
};

class THidDevice {
public:
    static constexpr int32_t kDefaultReadPollTime = 100;

    // Opens the interface for reading and writing (or else for queries only)
    // and reads its attributes. Throws EControllerError "device cannot be
    // opened" or "device cannot be identified".
    THidDevice(std::unique_ptr<THidPnPInfo> pnp, THidDeviceController* controller, IHidBackend& backend);
    virtual ~THidDevice();
    THidDevice(const THidDevice&) = delete;
    THidDevice& operator=(const THidDevice&) = delete;

    // --- identity ---
    bool ReadWriteAccess() const { return readWriteAccess_; }
    // Why the last opening for reading and writing was refused (errno), 0 if
    // it was not.
    int ReadWriteError() const { return readWriteError_; }
    const HidAttributes& Attributes() const { return attributes_; }
    // Read on first use and kept; empty when it cannot be read (tried again
    // on the next use).
    std::u16string ProductString();
    // Kept only when it differs from the language list (string descriptor 0).
    std::u16string SerialString();
    HidReportCaps ReportCaps();
    // The input report length the reader reads with, report ID included.
    size_t InputReportLength();

    // Sends a feature report; report[0] is the report ID.
    bool SendFeature(const uint8_t* report, size_t size);

    // --- handlers ---
    const THidDataEvent& DataHandler() const { return dataHandler_; }
    // Attaching starts the reader of a checked-out device; none stops it.
    // A reader that runs goes on with the new handler.
    void SetDataHandler(THidDataEvent handler);
    THidDataErrorEvent DataErrorHandler;
    THidPlugEvent UnplugHandler;

    // The reader's wait slice in ms, 10 to 10000; other values are ignored.
    int32_t ReadPollTime() const { return readPollTime_.load(); }
    void SetReadPollTime(int32_t ms);

    // --- state ---
    THidDeviceController* Controller() const { return controller_; }
    const THidPnPInfo* PnP() const { return pnp_.get(); }
    bool Plugged() const;
    bool CheckedOut() const;
    bool InEvent() const;
    // Handles can be opened: plugged, and checked out or in an event.
    bool Accessible() const;
    bool Reading() const { return reader_ != nullptr; }

    // --- for the controller ---
    // Closes the handles, marks the device unplugged and calls the unplug
    // handler (once). A running reader goes on, reporting read errors.
    void MarkUnplugged();
    void StartReader();
    void CloseHandles();
    void SetCheckedOut(bool value);
    void SetInEvent(bool value);
    void DetachFromController() { controller_ = nullptr; }
    std::unique_ptr<THidPnPInfo> TakePnP() { return std::move(pnp_); }

    // --- for the reader (any thread) ---
    // The handle input reports are read from; opened on first use. Null (and
    // `error` set) when the device is not accessible or cannot be opened.
    std::shared_ptr<IHidHandle> OpenReadHandle(int& error);

private:
    bool OpenMain();
    void CloseMain();
    void StopReader();
    void ReapStoppedReader();
    void OpenMainHandle();

    IHidBackend& backend_;
    THidDeviceController* controller_;
    std::unique_ptr<THidPnPInfo> pnp_;

    // Guards the state the reader looks at and the read handle.
    mutable std::mutex ioMutex_;
    bool plugged_ = true;
    bool checkedOut_ = false;
    bool inEvent_ = false;
    std::shared_ptr<IHidHandle> readHandle_;

    std::unique_ptr<IHidHandle> mainHandle_;
    HidAttributes attributes_;
    bool readWriteAccess_ = false;
    int readWriteError_ = 0;
    std::u16string productString_;
    std::u16string serialString_;
    std::optional<HidReportCaps> caps_;
    std::atomic<int32_t> readPollTime_{kDefaultReadPollTime};

    THidDataEvent dataHandler_;
    std::unique_ptr<THidDeviceReadThread> reader_;
    // A reader asked to stop from inside one of its own hand-overs; it ends
    // once that hand-over has returned.
    std::unique_ptr<THidDeviceReadThread> stoppedReader_;
    QObject context_;
};
