// quelt-log: one meter's readings, headless, for as long as it runs: to daily
// CSV files or standard output and to an MQTT broker (see LogOptions.cpp for
// the command line). The port or cable and the broker may come and go; the
// logger tells each outage once on standard error and carries on. SIGTERM,
// SIGINT and SIGHUP end it with status 0 once the CSV lines are on the disk
// and the broker has what could be sent within 2 s, and "offline".
#include "LogOptions.h"
#include "MeterLogger.h"
#include "SerialSource.h"
#include "Teller.h"
#include "UsbSource.h"

#include "platform/TerminationSignals.h"

#include <QCoreApplication>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <memory>
#include <optional>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

constexpr int kUsageFailed = 2;
constexpr int kBrokerFinishMs = 2000;
constexpr char kPasswordVariable[] = "QUELT_LOG_PASSWORD";

std::string hostName()
{
    char name[256] = {};
    if (::gethostname(name, sizeof name - 1) != 0)
        return "localhost";
    return name;
}

// The password the service's environment holds, taken out of the
// environment: unset, so no child inherits it, and its letters wiped where
// the process started with them, so /proc/PID/environ no longer shows it.
std::optional<std::string> takeEnvPassword()
{
    char* value = std::getenv(kPasswordVariable);
    if (!value)
        return std::nullopt;
    std::string password = value;
    std::memset(value, 0, password.size());
    ::unsetenv(kPasswordVariable);
    return password;
}

int run(int argc, char** argv, const LogOptions& o)
{
    QCoreApplication app(argc, argv);
    const Teller teller(o.quiet);
    TerminationSignals endSignals(TerminationSignals::Ending::ByReceivers);

    MeterLogger::Outputs outputs;
    outputs.csvStdout = o.csvStdout;
    try {
        if (!o.csvFolder.empty())
            outputs.csvFiles = std::make_unique<DailyCsvFiles>(o.csvFolder);
    } catch (const std::exception& e) {
        teller.problem(e.what());
        return kUsageFailed;
    }
    if (o.mqtt)
        outputs.mqtt = std::make_unique<MqttPublisher>(*o.mqtt);
    MeterLogger logger(std::move(outputs), teller);

    std::unique_ptr<SerialSource> serial;
    std::unique_ptr<UsbSource> usb;
    if (o.usb) {
        usb = std::make_unique<UsbSource>(o.usbPath, teller);
        usb->onFrame = [&](const std::string& frameText) { logger.feedFrame(frameText); };
        usb->onOpen = [&](bool open) { logger.sourceChanged(open); };
    } else {
        serial = std::make_unique<SerialSource>(o.portNumber, o.portPath, o.label, o.speed, teller);
        serial->onBytes = [&](const uint8_t* data, size_t size) { logger.feedBytes(data, size); };
        serial->onOpen = [&](bool open) { logger.sourceChanged(open); };
    }

    QObject::connect(&endSignals, &TerminationSignals::caught, &app, [&](int) {
        // The meter is let go first, so nothing comes in while the rest ends.
        serial.reset();
        usb.reset();
        logger.finish(kBrokerFinishMs);
        app.exit(0);
    });

    logger.start();
    if (usb)
        usb->start();
    else
        serial->start();
    const int rc = app.exec();
    logger.finish(kBrokerFinishMs);
    return rc;
}

}  // namespace

int main(int argc, char** argv)
{
    std::setvbuf(stdout, nullptr, _IOFBF, 1 << 16);  // flushed by the logger after each line
    LogOptions o;
    try {
        o = parseLogOptions(std::vector<std::string>(argv, argv + argc), takeEnvPassword(), hostName());
    } catch (const LogUsageError& e) {
        std::fprintf(stderr, "quelt-log: %s\n", e.what());
        return kUsageFailed;
    }
    if (o.help) {
        std::fputs(kLogUsage, stdout);
        return 0;
    }
    try {
        return run(argc, argv, o);
    } catch (const std::exception& e) {
        std::fflush(stdout);
        std::fprintf(stderr, "quelt-log: %s\n", e.what());
        return 1;
    }
}
