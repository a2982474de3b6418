#include "SerialSource.h"

#include <QSocketNotifier>

#include <cerrno>

namespace {

constexpr int kRetryMs = 1000;
// A frame is 14 bytes of 10 bits on the line. Its first byte wakes the
// logger; its bytes are read together once the whole frame can be there (59
// ms at 2400 bit/s), so a frame costs a wake or two, and its reading comes
// as its last byte does.
constexpr int kFrameBits = 14 * 10;

int frameMs(TComPortBaudRate speed)
{
    const uint32_t bps = BaudRateValue(speed);
    return int((kFrameBits * 1000 + bps - 1) / bps);
}

}  // namespace

SerialSource::SerialSource(int portNumber, std::string path, std::string label, TComPortBaudRate speed,
                           const Teller& teller, QObject* parent)
    : QObject(parent),
      portNumber_(portNumber),
      path_(std::move(path)),
      label_(std::move(label)),
      speed_(speed),
      teller_(teller)
{
    retry_.setSingleShot(true);
    retry_.setInterval(kRetryMs);
    retry_.callOnTimeout(this, [this] { tryOpen(); });
    gather_.setSingleShot(true);
    gather_.setInterval(frameMs(speed_));
    gather_.setTimerType(Qt::PreciseTimer);
    gather_.callOnTimeout(this, [this] {
        readWaiting();
        if (notifier_)
            notifier_->setEnabled(true);
    });
    follow_.setInterval(kRetryMs);
    follow_.callOnTimeout(this, [this] {
        if (!port_ || device() == openDevice_)
            return;
        // Another device answers to the name now: the port moves to it.
        notifier_.reset();
        port_.reset();
        follow_.stop();
        gather_.stop();
        teller_.info(label_ + " is " + device() + " now");
        tryOpen();
    });
}

SerialSource::~SerialSource()
{
    notifier_.reset();
    port_.reset();
}

void SerialSource::start()
{
    tryOpen();
}

std::string SerialSource::device() const
{
    return portNumber_ ? ResolvePortDevice(portNumber_, QString()).toStdString() : path_;
}

void SerialSource::tryOpen()
{
    const std::string dev = device();
    const std::string name = portNumber_ ? label_ + " (" + dev + ")" : dev;
    auto port = std::make_unique<PosixSerialDevice>();
    const std::string why = OpenMeterPort(*port, dev, speed_);
    if (!why.empty()) {
        if (!told_) {
            const int err = port->LastErrorCode();
            std::string line = "cannot open " + name + ": " + why;
            if (err == EACCES || err == EPERM)
                line += "; " + DeviceGroupHint(dev);
            teller_.problem(line + "; trying again every second");
            told_ = true;
        }
        retry_.start();
        return;
    }
    port_ = std::move(port);
    openDevice_ = dev;
    if (portNumber_)
        follow_.start();
    notifier_ = std::make_unique<QSocketNotifier>(qintptr(port_->Descriptor()), QSocketNotifier::Read);
    QObject::connect(notifier_.get(), &QSocketNotifier::activated, this, [this] {
        notifier_->setEnabled(false);
        gather_.start();
    });
    if (told_)
        teller_.info(name + " is open again");
    else if (!everOpen_)
        teller_.info("reading " + name + " at " + std::to_string(BaudRateValue(speed_)) + " bit/s, 8N1");
    told_ = false;
    everOpen_ = true;
    if (onOpen)
        onOpen(true);
}

void SerialSource::readWaiting()
{
    if (!port_)
        return;
    uint8_t buffer[4096];
    for (;;) {
        const SerialReadResult r = port_->Read(buffer, sizeof buffer);
        if (r.Status == SerialReadStatus::Gone) {
            lose("hung up");
            return;
        }
        if (r.Status == SerialReadStatus::Error) {
            lose("cannot be read: " + port_->LastError());
            return;
        }
        if (r.Count == 0)
            return;
        if (onBytes)
            onBytes(buffer, r.Count);
        if (!port_)
            return;
    }
}

// The port is closed (so its hang-up wakes no one) and tried again in a second.
void SerialSource::lose(const std::string& why)
{
    notifier_.reset();
    port_.reset();
    follow_.stop();
    gather_.stop();
    teller_.problem((portNumber_ ? label_ : path_) + " " + why + "; trying again every second");
    told_ = true;
    if (onOpen)
        onOpen(false);
    retry_.start();
}
