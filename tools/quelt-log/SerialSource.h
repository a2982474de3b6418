#pragma once
// The meter's serial port for the logger: opened as the tools open it
// (exclusive, raw 8N1, the lock and the holder), read when bytes wait (a
// socket notifier, no polling; the bytes of a frame's time on the line are
// gathered into one read, so a frame wakes the logger once or twice, not once
// a byte), and opened
// again every second after it could
// not be opened or hung up (an unplugged adapter, a closed pseudo-terminal).
// A COMn port is looked up anew at every try, and every second while it is
// open, so a new adapter or simulator behind the same name is picked up (the
// port moves to it). Each outage is told once, and its end.
#include "Teller.h"

#include "link/serial/SerialPortDriver.h"
#include "platform/SerialDevice.h"

#include <QObject>
#include <QTimer>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

class QSocketNotifier;

class SerialSource : public QObject {
public:
    // `portNumber` 1-4 for COMn (looked up in `linkDir` and /dev), else `path`.
    SerialSource(int portNumber, std::string path, std::string label, TComPortBaudRate speed, const Teller& teller,
                 QObject* parent = nullptr);
    ~SerialSource() override;

    // Opens the port now, or keeps trying.
    void start();
    bool isOpen() const { return port_ && port_->IsOpen(); }

    // The bytes as they come (valid during the call).
    std::function<void(const uint8_t* data, size_t size)> onBytes;
    // The port was opened (true) or lost (false).
    std::function<void(bool open)> onOpen;

private:
    void tryOpen();
    void readWaiting();
    void lose(const std::string& why);
    std::string device() const;

    int portNumber_;
    std::string path_;
    std::string label_;
    TComPortBaudRate speed_;
    const Teller& teller_;
    std::unique_ptr<PosixSerialDevice> port_;
    std::unique_ptr<QSocketNotifier> notifier_;
    QTimer retry_;
    QTimer gather_;           // from a first byte waiting to the read
    QTimer follow_;           // COMn: looks up the port's device while open
    std::string openDevice_;  // the device open
    bool everOpen_ = false;
    bool told_ = false;  // the outage at hand was told
};
