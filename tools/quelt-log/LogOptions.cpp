#include "LogOptions.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <unistd.h>

const char kLogUsage[] =
    "Usage: quelt-log (--port PORT | --usb [HIDRAW]) [--speed BPS] [--name NAME]\n"
    "                 [--csv DIR | --csv -] [--mqtt URL] [--cafile FILE]\n"
    "                 [--password-file FILE] [--quiet]\n"
    "Logs one meter's readings without a window: to daily CSV files, to standard\n"
    "output, and to an MQTT broker. It runs until it is stopped (SIGTERM, SIGINT,\n"
    "SIGHUP) and rides out an unplugged port or cable and a lost broker.\n"
    "\n"
    "  --port PORT           a port COM1 ... COM4 (found as the program finds it)\n"
    "                        or a serial device such as /dev/ttyUSB0\n"
    "  --usb [HIDRAW]        the meter's USB cable: the last \"USB to Serial\" device,\n"
    "                        or the one at HIDRAW (/dev/hidraw3)\n"
    "  --speed BPS           the serial line's speed (default 2400)\n"
    "  --name NAME           the meter's name in the topics (default: the host\n"
    "                        name and the port, bench-pc-COM1)\n"
    "  --csv DIR             append to daily files quelt-YYYY-MM-DD.csv in DIR\n"
    "                        (made if its parent folder exists)\n"
    "  --csv -               write the CSV lines to standard output (the default\n"
    "                        without --csv and --mqtt)\n"
    "  --mqtt URL            publish to mqtt://[USER@]HOST[:PORT]/PREFIX (or\n"
    "                        mqtts://): each reading as JSON to PREFIX/NAME/reading,\n"
    "                        the state (online, no-meter, offline) to\n"
    "                        PREFIX/NAME/status\n"
    "  --cafile FILE         the CA certificates that vouch for an mqtts:// broker\n"
    "  --password-file FILE  the broker password: the file's first line; only its\n"
    "                        owner may read it. Without it the password is taken\n"
    "                        from the environment variable QUELT_LOG_PASSWORD.\n"
    "  --quiet               tell only problems on standard error\n"
    "  --help                show this text\n"
    "\n"
    "Exit status: 0 when stopped by a signal, 2 for bad arguments.\n";

namespace {

std::string baseName(const std::string& path)
{
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// A folder for --csv DIR: one that is there and writable, or one whose parent
// is there (it is made when logging starts).
void checkCsvFolder(const std::string& folder)
{
    namespace fs = std::filesystem;
    std::error_code ec;
    const fs::file_status st = fs::status(folder, ec);
    if (fs::exists(st)) {
        if (!fs::is_directory(st))
            throw LogUsageError("--csv: '" + folder + "' is not a folder");
        if (::access(folder.c_str(), W_OK | X_OK) != 0)
            throw LogUsageError("--csv: the folder '" + folder + "' cannot be written: " + std::strerror(errno));
        return;
    }
    fs::path parent = fs::path(folder).parent_path();
    if (parent.empty())
        parent = ".";
    if (!fs::is_directory(parent, ec))
        throw LogUsageError("--csv: neither the folder '" + folder + "' nor its parent '" + parent.string() +
                            "' is there");
    if (::access(parent.c_str(), W_OK | X_OK) != 0)
        throw LogUsageError("--csv: the folder '" + folder + "' cannot be made in '" + parent.string() +
                            "': " + std::strerror(errno));
}

}  // namespace

LogOptions parseLogOptions(const std::vector<std::string>& args, const std::optional<std::string>& envPassword,
                           const std::string& hostName)
{
    LogOptions o;
    bool portGiven = false;
    std::optional<std::string> name, csv, mqttUrl, caFile, passwordFile, speed;
    for (size_t i = 1; i < args.size(); ++i) {
        const std::string& arg = args[i];
        auto value = [&](std::optional<std::string>& into) {
            if (into)
                throw LogUsageError(arg + " is given twice");
            if (i + 1 >= args.size() || args[i + 1].empty())
                throw LogUsageError(arg + " needs a value (see --help)");
            into = args[++i];
        };
        if (arg == "--help" || arg == "-h") {
            o.help = true;
            return o;
        } else if (arg == "--port") {
            if (portGiven)
                throw LogUsageError("--port is given twice");
            if (i + 1 >= args.size() || args[i + 1].empty())
                throw LogUsageError("--port needs a value: COM1 ... COM4 or a device such as /dev/ttyUSB0");
            portGiven = true;
            const std::string& port = args[++i];
            o.portNumber = ComPortNumber(port);
            if (o.portNumber == 0 && port.find('/') == std::string::npos)
                throw LogUsageError("--port: '" + port + "' is neither COM1 ... COM4 nor a device path such as "
                                                         "/dev/ttyUSB0");
            if (o.portNumber == 0)
                o.portPath = port;
            o.label = o.portNumber ? port : baseName(port);
        } else if (arg == "--usb") {
            if (o.usb)
                throw LogUsageError("--usb is given twice");
            o.usb = true;
            if (i + 1 < args.size() && args[i + 1].rfind("--", 0) != 0) {
                o.usbPath = args[++i];
                if (o.usbPath.empty() || o.usbPath[0] != '/')
                    throw LogUsageError("--usb: '" + o.usbPath + "' is no device path such as /dev/hidraw3");
            }
        } else if (arg == "--speed") {
            value(speed);
        } else if (arg == "--name") {
            value(name);
        } else if (arg == "--csv") {
            value(csv);
        } else if (arg == "--mqtt") {
            value(mqttUrl);
        } else if (arg == "--cafile") {
            value(caFile);
        } else if (arg == "--password-file") {
            value(passwordFile);
        } else if (arg == "--quiet") {
            o.quiet = true;
        } else if (arg.rfind("--password", 0) == 0) {
            throw LogUsageError("no password on the command line: every user of the machine can read it; use "
                                "--password-file FILE or QUELT_LOG_PASSWORD");
        } else {
            throw LogUsageError("unknown argument '" + arg + "' (see --help)");
        }
    }

    if (portGiven == o.usb)
        throw LogUsageError(portGiven ? "--port and --usb cannot go together: one meter per logger"
                                      : "name the meter's port: --port PORT or --usb (see --help)");
    if (o.usb)
        o.label = o.usbPath.empty() ? "USB" : baseName(o.usbPath);
    if (speed) {
        if (o.usb)
            throw LogUsageError("--speed is for a serial port; the USB cable's speed is set by the program");
        const std::optional<TComPortBaudRate> rate = BaudRateOf(*speed);
        if (!rate)
            throw LogUsageError("--speed must be one of " + BaudRateChoices() + ", not '" + *speed + "'");
        o.speed = *rate;
    }

    std::string why;
    if (name) {
        if (!isValidTopicLevel(*name, &why))
            throw LogUsageError("--name '" + *name + "' cannot be a topic level: " + why);
        o.name = *name;
    } else {
        o.name = hostName + "-" + o.label;
        if (!isValidTopicLevel(o.name, &why))
            throw LogUsageError("the default name '" + o.name + "' (the host name and the port) cannot be a topic "
                                                                "level: " +
                                why + "; give one with --name NAME");
    }

    if (csv) {
        if (*csv == "-")
            o.csvStdout = true;
        else {
            checkCsvFolder(*csv);
            o.csvFolder = *csv;
        }
    }

    if (mqttUrl) {
        MqttPublisher::Config c;
        try {
            c.url = parseMqttUrl(*mqttUrl);
        } catch (const std::invalid_argument& e) {
            throw LogUsageError(e.what());  // names the option and the URL
        }
        if (caFile) {
            if (!c.url.tls)
                throw LogUsageError("--cafile is for an mqtts:// broker, not mqtt://");
            if (::access(caFile->c_str(), R_OK) != 0)
                throw LogUsageError("--cafile: '" + *caFile + "' cannot be read: " + std::strerror(errno));
            if (std::filesystem::is_directory(*caFile))
                throw LogUsageError("--cafile: '" + *caFile + "' is a folder, not a file of certificates");
            c.caFile = *caFile;
        }
        if (passwordFile) {
            try {
                c.password = readPasswordFile(*passwordFile);
            } catch (const std::invalid_argument& e) {
                throw LogUsageError(e.what());  // names the file
            }
        } else if (envPassword) {
            c.password = *envPassword;
        }
        if (passwordFile && c.url.user.empty())
            throw LogUsageError("--password-file is given but the --mqtt URL names no user (mqtt://USER@HOST/PREFIX)");
        if (c.url.user.empty())
            c.password.clear();  // the service's environment may hold one for another broker
        c.name = o.name;
        o.mqtt = std::move(c);
    } else if (caFile || passwordFile) {
        throw LogUsageError(std::string(caFile ? "--cafile" : "--password-file") + " needs --mqtt URL");
    }

    if (!csv && !o.mqtt)
        o.csvStdout = true;
    return o;
}
