#pragma once
// A device controller's events written down as "arrival <product>",
// "removal <product>" and "change", in the order it raises them.
#include "link/hid/HidDeviceController.h"

#include <string>
#include <vector>

struct HidEventLog {
    std::vector<std::string> events;

    // Installs the controller's arrival, removal and change handlers.
    void Listen(THidDeviceController& ctl)
    {
        // What names each of the three handlers.
        static const char arrival = 0, removal = 0, change = 0;
        ctl.OnArrival = THidPlugEvent([this](THidDevice* d) { events.push_back("arrival " + Name(d)); }, &arrival);
        ctl.OnRemoval = THidPlugEvent([this](THidDevice* d) { events.push_back("removal " + Name(d)); }, &removal);
        ctl.SetOnDeviceChange(TNotifyEvent([this](THidDeviceController*) { events.push_back("change"); }, &change));
    }
    // The device's product string (the test devices' names are ASCII).
    static std::string Name(THidDevice* d)
    {
        const std::u16string p = d->ProductString();
        return std::string(p.begin(), p.end());
    }
};
