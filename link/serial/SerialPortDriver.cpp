#include "link/serial/SerialPortDriver.h"

#include <QDir>
#include <QFileInfo>
#include <algorithm>
#include <cerrno>
#include <termios.h>
#include <charconv>

namespace {

// The shortest polling interval: a timer of 0 ms would poll whenever the event
// loop is idle, a busy loop.
constexpr int kMinPollInterval = 10;

int PollInterval(uint16_t delay)
{
    return std::max<int>(delay, kMinPollInterval);
}

struct DeliveryGuard {
    bool& flag;
    explicit DeliveryGuard(bool& f) : flag(f) { flag = true; }
    ~DeliveryGuard() { flag = false; }
};

}  // namespace

uint32_t BaudRateValue(TComPortBaudRate rate)
{
    static constexpr uint32_t kRates[] = {110, 300, 600, 1200, 2400, 4800, 9600,
                                          14400, 19200, 38400, 56000, 57600, 115200};
    return kRates[rate];
}

std::optional<TComPortBaudRate> BaudRateOf(std::string_view text)
{
    uint32_t value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || ec != std::errc() || end != text.data() + text.size())
        return std::nullopt;
    for (int r = br110; r <= br115200; ++r)
        if (BaudRateValue(TComPortBaudRate(r)) == value)
            return TComPortBaudRate(r);
    return std::nullopt;
}

std::string BaudRateChoices()
{
    std::string text;
    for (int r = br110; r <= br115200; ++r)
        text += (text.empty() ? "" : ", ") + std::to_string(BaudRateValue(TComPortBaudRate(r)));
    return text;
}

std::string OpenMeterPort(PosixSerialDevice& port, const std::string& device, TComPortBaudRate speed,
                          termios* former)
{
    if (!port.Open(device))
        return port.LastError();
    if (former && ::tcgetattr(port.Descriptor(), former) != 0)
        *former = termios{};
    SerialPortSettings settings;
    settings.Speed = speed;
    if (!port.ApplySettings(MakeLineSettings(settings)) || !port.Purge(true, true)) {
        std::string why = "cannot set it up: " + port.LastError();
        port.Close();
        return why;
    }
    return {};
}

LineSettings MakeLineSettings(const SerialPortSettings& s)
{
    static constexpr SerialParity kParity[] = {SerialParity::None, SerialParity::Odd, SerialParity::Even,
                                               SerialParity::Mark, SerialParity::Space};
    static constexpr SerialStopBits kStopBits[] = {SerialStopBits::One, SerialStopBits::OneAndHalf,
                                                   SerialStopBits::Two};
    LineSettings l;
    l.BaudRate = BaudRateValue(s.Speed);
    l.ByteSize = uint8_t(5 + s.DataBits);
    l.Parity = kParity[s.Parity];
    l.StopBits = kStopBits[s.StopBits];
    l.Binary = true;
    l.DtrEnable = s.EnableDTROnOpen;
    l.RtsCtsHandshake = s.HwHandshaking == hhRTSCTS;
    l.XonXoffOutput = s.SwHandshaking == shXONXOFF;
    l.XonXoffInput = s.SwHandshaking == shXONXOFF;
    l.XonLim = uint16_t(s.InBufSize / 4);
    l.XoffLim = 1;
    l.XonChar = 0x11;
    l.XoffChar = 0x13;
    return l;
}

int ComPortNumber(std::string_view name)
{
    return name.size() == 4 && name.substr(0, 3) == "COM" && name[3] >= '1' && name[3] <= '4' ? name[3] - '0' : 0;
}

QString ResolvePortDevice(int n, const QString& workDir, const QString& devDir)
{
    const QFileInfo link(QDir(workDir).filePath(QStringLiteral("COM%1").arg(n)));
    // A link left behind by a simulator that is gone points nowhere: skip it.
    if (link.isSymLink() && link.exists())
        return link.absoluteFilePath();
    const QDir dev(devDir);
    const QString usb = dev.filePath(QStringLiteral("ttyUSB%1").arg(n - 1));
    if (QFileInfo::exists(usb))
        return usb;
    return dev.filePath(QStringLiteral("ttyS%1").arg(n - 1));
}

TSerialPortDriver::TSerialPortDriver(QObject* owner, DeviceFactory factory)
    : QObject(owner),
      factory_(std::move(factory))
{
    inputBuffer_.assign(settings_.InBufSize, 0);
    connect(&pollTimer_, &QTimer::timeout, this, &TSerialPortDriver::PollTick);
}

TSerialPortDriver::~TSerialPortDriver()
{
    Disconnect();
}

bool TSerialPortDriver::Connect()
{
    if (connected_)
        return true;

    const QString dir = portLinkDir_.isEmpty() ? QDir::currentPath() : portLinkDir_;
    devicePath_ = ResolvePortDevice(int(comPort_) + 1, dir);
    lastError_.clear();
    lastErrorIsPermission_ = false;

    std::unique_ptr<ISerialDevice> device = factory_ ? factory_() : nullptr;
    if (!device) {
        lastError_ = QStringLiteral("No serial device available");
        return false;
    }
    if (!device->Open(devicePath_.toStdString())) {
        lastError_ = QString::fromStdString(device->LastError());
        const int err = device->LastErrorCode();
        lastErrorIsPermission_ = err == EACCES || err == EPERM;
        return false;
    }
    device_ = std::move(device);
    connected_ = true;
    deviceLost_ = false;
    ApplySettings();
    pollTimer_.start(PollInterval(pollingDelay_));
    return true;
}

void TSerialPortDriver::Disconnect()
{
    if (!connected_)
        return;
    pollTimer_.stop();
    if (device_)
        device_->Close();
    device_.reset();
    connected_ = false;
    deviceLost_ = false;
}

void TSerialPortDriver::ApplySettings()
{
    if (!connected_ || !device_)
        return;
    // Failures are not examined: the port stays open with what it has.
    device_->ApplySettings(MakeLineSettings(settings_));
    PurgeBuffers(true, true);
    device_->SetQueueSizes(settings_.InBufSize, outBufSize_);
}

void TSerialPortDriver::PurgeBuffers(bool input, bool output)
{
    if (!connected_ || !device_)
        return;
    device_->Purge(input, output);
}

void TSerialPortDriver::PollTick()
{
    // A handler that runs a nested event loop (a modal box) must not see its
    // bytes overwritten by the next tick: those bytes wait for a later tick.
    if (!connected_ || !device_ || delivering_)
        return;

    const SerialReadResult r = device_->Read(inputBuffer_.data(), inputBuffer_.size());
    if (r.Status == SerialReadStatus::Gone) {
        DropDevice();
        return;
    }
    if (r.Status != SerialReadStatus::Ok || r.Count == 0 || !OnReceiveData)
        return;

    const size_t count = std::min(r.Count, inputBuffer_.size());
    DeliveryGuard guard(delivering_);
    OnReceiveData(this, inputBuffer_.data(), int32_t(count));
}

void TSerialPortDriver::DropDevice()
{
    // The device hung up or vanished. Close it at once and stop polling, so a
    // dead device costs nothing; the port counts as connected until Disconnect.
    pollTimer_.stop();
    device_->Close();
    device_.reset();
    deviceLost_ = true;
}

void TSerialPortDriver::SettingChanged()
{
    if (connected_)
        ApplySettings();
}

void TSerialPortDriver::setComPort(TComPortNumber value)
{
    if (!connected_)
        comPort_ = value;
}

void TSerialPortDriver::setComPortSpeed(TComPortBaudRate value)
{
    settings_.Speed = value;
    SettingChanged();
}

void TSerialPortDriver::setComPortDataBits(TComPortDataBits value)
{
    settings_.DataBits = value;
    SettingChanged();
}

void TSerialPortDriver::setComPortStopBits(TComPortStopBits value)
{
    settings_.StopBits = value;
    SettingChanged();
}

void TSerialPortDriver::setComPortParity(TComPortParity value)
{
    settings_.Parity = value;
    SettingChanged();
}

void TSerialPortDriver::setComPortHwHandshaking(TComPortHwHandshaking value)
{
    settings_.HwHandshaking = value;
    SettingChanged();
}

void TSerialPortDriver::setComPortSwHandshaking(TComPortSwHandshaking value)
{
    settings_.SwHandshaking = value;
    SettingChanged();
}

void TSerialPortDriver::setComPortInBufSize(uint16_t value)
{
    if (connected_)
        return;
    settings_.InBufSize = value;
    inputBuffer_.assign(value, 0);
}

void TSerialPortDriver::setComPortOutBufSize(uint16_t value)
{
    if (!connected_)
        outBufSize_ = value;
}

void TSerialPortDriver::setComPortPollingDelay(uint16_t value)
{
    if (value == pollingDelay_)
        return;
    pollingDelay_ = value;
    if (connected_ && !deviceLost_) {
        pollTimer_.stop();
        pollTimer_.start(PollInterval(pollingDelay_));
    }
}
