#pragma once
// The real system behind the seams that the window takes besides its dialogs
// and beep, for end-to-end tests and helper programs that run the window as
// the program does: the computer clock, the system's HID devices and the tty
// devices. Header-only, so it needs no test framework.
#include <memory>

#include "link/serial/SerialPortDriver.h"
#include "platform/Clock.h"
#include "platform/LinuxHidBackend.h"
#include "platform/SerialDevice.h"

struct SystemSeams {
    SystemClock clock;
    LinuxHidBackend hid;

    static TSerialPortDriver::DeviceFactory SerialDevices()
    {
        return [] { return std::make_unique<PosixSerialDevice>(); };
    }
};
