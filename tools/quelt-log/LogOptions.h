#pragma once
// quelt-log's command line, checked in full before anything is opened: a
// LogUsageError carries the one line the user sees (exit status 2).
#include "link/serial/SerialPortDriver.h"
#include "mqtt/MqttPublisher.h"

#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

struct LogUsageError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

struct LogOptions {
    bool help = false;

    // The meter: a serial port (portNumber 1-4 for COMn, else portPath) or
    // the USB cable (usbPath empty: the last "USB to Serial" cable).
    bool usb = false;
    int portNumber = 0;
    std::string portPath;
    std::string usbPath;
    TComPortBaudRate speed = br2400;
    // "COM1", "ttyUSB0", "USB", "hidraw3": the port as the default name and
    // the messages give it.
    std::string label;

    std::string name;  // a valid topic level

    bool csvStdout = false;
    std::string csvFolder;  // empty: none

    std::optional<MqttPublisher::Config> mqtt;
    bool quiet = false;
};

// Parses and checks the arguments (argv[0] is the program). The password
// comes from --password-file or, failing that, from `envPassword` (the
// service's environment); the host name is the default name's first part.
LogOptions parseLogOptions(const std::vector<std::string>& args, const std::optional<std::string>& envPassword,
                           const std::string& hostName);

extern const char kLogUsage[];
