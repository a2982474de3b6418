#pragma once
// THidDeviceController keeps a list of the HID interfaces present on the
// machine, one THidDevice each. The program checks devices out of the list to
// use them and gives them back; the controller tells it through events when
// interfaces come or go and when the set has changed (the change pass, run on
// every change the system reports).
//
// Ownership: the controller owns the devices of its list that are not checked
// out. A checked-out device stays in the list at its index but belongs to its
// holder until it is given back (ReturnDevice, or deleting it).
//
// Everything runs on the user-interface thread.
#include "link/hid/HidDevice.h"
#include "link/hid/HidEvents.h"

#include <cstdint>
#include <string>
#include <vector>

class IHidBackend;

class THidDeviceController {
public:
    static constexpr int32_t kDefaultDevThreadSleepTime = 100;

    // Scans the interfaces at once and watches for changes. A second
    // controller on the same backend throws EControllerError.
    explicit THidDeviceController(IHidBackend& backend);
    ~THidDeviceController();
    THidDeviceController(const THidDeviceController&) = delete;
    THidDeviceController& operator=(const THidDeviceController&) = delete;

    std::string Version() const { return "1.0.22"; }

    // The reader wait slice handed on to the devices.
    int32_t DevThreadSleepTime() const { return devThreadSleepTime_; }
    void SetDevThreadSleepTime(int32_t ms);

    // Plain events.
    THidPlugEvent OnArrival;
    THidPlugEvent OnRemoval;
    THidEnumerateEvent OnEnumerate;

    // Events whose setters act. Installing OnDeviceChange runs a change pass
    // that reports once, changed or not.
    const TNotifyEvent& OnDeviceChange() const { return onDeviceChange_; }
    void SetOnDeviceChange(TNotifyEvent handler);
    const THidDataEvent& OnDeviceData() const { return onDeviceData_; }
    void SetOnDeviceData(THidDataEvent handler);
    const THidDataErrorEvent& OnDeviceDataError() const { return onDeviceDataError_; }
    void SetOnDeviceDataError(THidDataErrorEvent handler);
    const THidPlugEvent& OnDeviceUnplug() const { return onDeviceUnplug_; }
    void SetOnDeviceUnplug(THidPlugEvent handler);

    // The change pass: rescan, compare by device instance, raise removal and
    // arrival events, then OnDeviceChange if anything changed.
    void DeviceChange();
    // Calls OnEnumerate for each plugged device in list order until it
    // returns false; returns how many plugged devices were visited.
    int32_t EnumeratePlugged();
    // Hands the device at `index` to the caller; null when out of range or
    // checked out already.
    THidDevice* CheckOutAt(int32_t index);
    // Gives a checked-out device back; the object ends (a fresh one for the
    // same interface takes its place while it is plugged).
    void ReturnDevice(THidDevice* device);

    // The list, for inspection.
    int32_t Count() const { return int32_t(deviceList_.size()); }
    THidDevice* DeviceAt(int32_t index) const { return deviceList_.at(size_t(index)); }
    // Counted from the list: devices not checked out, devices checked out
    // and still plugged, unplugged devices (checked out until given back).
    int32_t CheckedInCount() const;
    int32_t CheckedOutCount() const;
    int32_t UnpluggedCount() const;
    bool HidPresent() const;

    // Called by a device of the list as it ends: its slot gets a fresh device
    // (with the kept handlers and slice) while it is plugged, or goes.
    void DeviceEnded(THidDevice* device, const THidDataEvent& data, const THidPlugEvent& unplug, int32_t pollTime);

private:
    void ChangePass();
    std::vector<THidDevice*> ScanInterfaces();
    int32_t IndexOf(const THidDevice* device) const;

    IHidBackend& backend_;
    std::vector<THidDevice*> deviceList_;
    int32_t devThreadSleepTime_ = kDefaultDevThreadSleepTime;
    bool changeReported_ = false;
    bool counted_ = false;
    bool inChangePass_ = false;
    bool changeAgain_ = false;  // this controller raised the backend's count
    TNotifyEvent onDeviceChange_;
    THidDataEvent onDeviceData_;
    THidDataErrorEvent onDeviceDataError_;
    THidPlugEvent onDeviceUnplug_;
};
