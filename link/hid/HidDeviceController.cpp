#include "link/hid/HidDeviceController.h"

#include "platform/HidBackend.h"

#include <algorithm>
#include <functional>

namespace {

// Gives the controller's new `value` of a device setting to every device that
// still has the controller's `current` one, then keeps it.
template <class Value, class Get, class Set>
void PassOn(const std::vector<THidDevice*>& devices, Value& current, Value value, Get get, Set set)
{
    if (value == current)
        return;
    for (THidDevice* d : devices)
        if (std::invoke(get, d) == current)
            std::invoke(set, d, value);
    current = std::move(value);
}

// The same for a device handler that is a plain member.
template <class Event>
void PassOn(const std::vector<THidDevice*>& devices, Event& current, Event handler, Event THidDevice::*field)
{
    PassOn(devices, current, std::move(handler), field, [field](THidDevice* d, const Event& h) { d->*field = h; });
}

}  // namespace

THidDeviceController::THidDeviceController(IHidBackend& backend) : backend_(backend)
{
    if (++backend_.ControllerCount > 1) {
        --backend_.ControllerCount;
        throw EControllerError("Only one THidDeviceController allowed per program");
    }
    counted_ = true;
    deviceList_ = ScanInterfaces();
    if (backend_.Present())
        backend_.Watch([this] { DeviceChange(); });
}

THidDeviceController::~THidDeviceController()
{
    if (counted_)
        --backend_.ControllerCount;
    onDeviceChange_ = {};
    onDeviceUnplug_ = {};
    OnEnumerate = {};
    backend_.Watch({});
    std::vector<THidDevice*> devices;
    devices.swap(deviceList_);
    for (THidDevice* d : devices) {
        d->DetachFromController();
        if (d->CheckedOut())
            d->MarkUnplugged();  // its holder still owns it
        else
            delete d;
    }
}

bool THidDeviceController::HidPresent() const
{
    return backend_.Present();
}

std::vector<THidDevice*> THidDeviceController::ScanInterfaces()
{
    std::vector<THidDevice*> found;
    if (!backend_.Present())
        return found;
    for (const HidInterface& i : backend_.Enumerate()) {
        try {
            found.push_back(new THidDevice(std::make_unique<THidPnPInfo>(i), this, backend_));
        } catch (const EControllerError&) {
            // an interface that cannot be opened or identified is skipped
        }
    }
    return found;
}

int32_t THidDeviceController::IndexOf(const THidDevice* device) const
{
    const auto it = std::find(deviceList_.begin(), deviceList_.end(), device);
    return it == deviceList_.end() ? -1 : int32_t(it - deviceList_.begin());
}

int32_t THidDeviceController::CheckedInCount() const
{
    return int32_t(
        std::count_if(deviceList_.begin(), deviceList_.end(), [](const THidDevice* d) { return !d->CheckedOut(); }));
}

int32_t THidDeviceController::CheckedOutCount() const
{
    return int32_t(std::count_if(deviceList_.begin(), deviceList_.end(),
                                 [](const THidDevice* d) { return d->CheckedOut() && d->Plugged(); }));
}

int32_t THidDeviceController::UnpluggedCount() const
{
    return int32_t(
        std::count_if(deviceList_.begin(), deviceList_.end(), [](const THidDevice* d) { return !d->Plugged(); }));
}

void THidDeviceController::DeviceChange()
{
    // A pass asked for while one runs (from a nested event loop in one of the
    // events) runs after it, not inside it.
    if (inChangePass_) {
        changeAgain_ = true;
        return;
    }
    inChangePass_ = true;
    do {
        changeAgain_ = false;
        ChangePass();
    } while (changeAgain_);
    inChangePass_ = false;
}

void THidDeviceController::ChangePass()
{
    std::vector<THidDevice*> fresh = ScanInterfaces();
    auto sameInstance = [](const THidDevice* a, const THidDevice* b) {
        return a->PnP() && b->PnP() && a->PnP()->DevInstance == b->PnP()->DevInstance;
    };
    bool changed = false;

    // Removals, last first.
    for (int32_t i = int32_t(deviceList_.size()) - 1; i >= 0; --i) {
        if (i >= int32_t(deviceList_.size()))
            continue;  // a handler shortened the list
        THidDevice* d = deviceList_[size_t(i)];
        const bool present =
            d->Plugged() && std::any_of(fresh.begin(), fresh.end(), [&](THidDevice* n) { return sameInstance(n, d); });
        if (present)
            continue;
        d->MarkUnplugged();
        if (OnRemoval) {
            d->SetInEvent(true);
            OnRemoval(d);
            d->SetInEvent(false);
        }
        const int32_t at = IndexOf(d);
        if (at >= 0 && !d->CheckedOut()) {
            deviceList_.erase(deviceList_.begin() + at);
            d->DetachFromController();
            delete d;
        }
        changed = true;
    }

    // Devices the list holds already end at once.
    std::erase_if(fresh, [&](THidDevice* n) {
        const bool duplicate = std::any_of(deviceList_.begin(), deviceList_.end(),
                                           [&](THidDevice* d) { return d->Plugged() && sameInstance(d, n); });
        if (duplicate) {
            n->DetachFromController();
            delete n;
        }
        return duplicate;
    });

    // Arrivals, in scan order.
    for (THidDevice* n : fresh) {
        deviceList_.push_back(n);
        changed = true;
        if (OnArrival) {
            n->SetInEvent(true);
            OnArrival(n);
            n->SetInEvent(false);
        }
    }

    if ((changed || !changeReported_) && onDeviceChange_)
        onDeviceChange_(this);
}

int32_t THidDeviceController::EnumeratePlugged()
{
    int32_t count = 0;
    for (size_t i = 0; i < deviceList_.size(); ++i) {
        THidDevice* d = deviceList_[i];
        if (!d->Plugged())
            continue;
        ++count;
        bool goOn = false;
        if (OnEnumerate) {
            d->SetInEvent(true);
            goOn = OnEnumerate(d, int32_t(i));
            d->SetInEvent(false);
        }
        if (!d->CheckedOut())
            d->CloseHandles();
        if (!goOn)
            break;
    }
    return count;
}

THidDevice* THidDeviceController::CheckOutAt(int32_t index)
{
    if (index < 0 || index >= int32_t(deviceList_.size()))
        return nullptr;
    THidDevice* d = deviceList_[size_t(index)];
    if (d->CheckedOut())
        return nullptr;
    d->SetCheckedOut(true);
    d->StartReader();
    return d;
}

void THidDeviceController::ReturnDevice(THidDevice* device)
{
    delete device;  // the device's end gives its slot back (DeviceEnded)
}

void THidDeviceController::DeviceEnded(THidDevice* device, const THidDataEvent& data, const THidPlugEvent& unplug,
                                       int32_t pollTime)
{
    const int32_t i = IndexOf(device);
    if (i < 0)
        return;
    if (device->Plugged()) {
        // A fresh device for the same interface takes the slot, checked in.
        try {
            THidDevice* fresh = new THidDevice(device->TakePnP(), this, backend_);
            fresh->SetDataHandler(data);
            fresh->UnplugHandler = unplug;
            fresh->SetReadPollTime(pollTime);
            deviceList_[size_t(i)] = fresh;
            return;
        } catch (const EControllerError&) {
            // It vanished before a change pass noticed: the slot goes.
        }
    }
    deviceList_.erase(deviceList_.begin() + i);
}

void THidDeviceController::SetDevThreadSleepTime(int32_t ms)
{
    PassOn(deviceList_, devThreadSleepTime_, ms, &THidDevice::ReadPollTime, &THidDevice::SetReadPollTime);
}

void THidDeviceController::SetOnDeviceChange(TNotifyEvent handler)
{
    if (handler == onDeviceChange_)
        return;
    onDeviceChange_ = std::move(handler);
    DeviceChange();
    changeReported_ = true;
}

void THidDeviceController::SetOnDeviceData(THidDataEvent handler)
{
    PassOn(deviceList_, onDeviceData_, std::move(handler), &THidDevice::DataHandler, &THidDevice::SetDataHandler);
}

void THidDeviceController::SetOnDeviceDataError(THidDataErrorEvent handler)
{
    PassOn(deviceList_, onDeviceDataError_, std::move(handler), &THidDevice::DataErrorHandler);
}

void THidDeviceController::SetOnDeviceUnplug(THidPlugEvent handler)
{
    PassOn(deviceList_, onDeviceUnplug_, std::move(handler), &THidDevice::UnplugHandler);
}
