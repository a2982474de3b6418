#pragma once
// TSerialPortDriver owns one serial port: it opens and closes it, writes its
// line settings and polls it from a timer on the user-interface thread, handing
// every chunk of received bytes to OnReceiveData. It never sends.
#include "platform/SerialDevice.h"

#include <QObject>
#include <QString>
#include <QTimer>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct termios;

enum TComPortNumber { pnCOM1,
                      pnCOM2,
                      pnCOM3,
                      pnCOM4 };
enum TComPortBaudRate {
    br110,
    br300,
    br600,
    br1200,
    br2400,
    br4800,
    br9600,
    br14400,
    br19200,
    br38400,
    br56000,
    br57600,
    br115200
};
enum TComPortDataBits { db5BITS,
                        db6BITS,
                        db7BITS,
                        db8BITS };
enum TComPortStopBits { sb1BITS,
                        sb1HALFBITS,
                        sb2BITS };
enum TComPortParity { ptNONE,
                      ptODD,
                      ptEVEN,
                      ptMARK,
                      ptSPACE };
enum TComPortHwHandshaking { hhNONE,
                             hhRTSCTS };
enum TComPortSwHandshaking { shNONE,
                             shXONXOFF };

// Bit/s of a TComPortBaudRate (2400 for br2400).
uint32_t BaudRateValue(TComPortBaudRate rate);

// The rate whose bit/s `text` names ("2400"); nothing for a speed the port
// does not offer.
std::optional<TComPortBaudRate> BaudRateOf(std::string_view text);
// The speeds offered, for messages: "110, 300, ..., 115200".
std::string BaudRateChoices();

// The line settings the driver's properties stand for.
struct SerialPortSettings {
    TComPortBaudRate Speed = br9600;
    TComPortDataBits DataBits = db8BITS;
    TComPortStopBits StopBits = sb1BITS;
    TComPortParity Parity = ptNONE;
    TComPortHwHandshaking HwHandshaking = hhNONE;
    TComPortSwHandshaking SwHandshaking = shNONE;
    uint16_t InBufSize = 2048;
    bool EnableDTROnOpen = true;
};
LineSettings MakeLineSettings(const SerialPortSettings& settings);

// The port number a tool's argument names: 1 to 4 for "COM1" ... "COM4",
// 0 for anything else.
int ComPortNumber(std::string_view name);

// The device behind port n (1-4): a symlink "COMn" in workDir whose target
// exists (the meter simulator makes one); otherwise <devDir>/ttyUSB<n-1> if it
// exists; otherwise <devDir>/ttyS<n-1>.
QString ResolvePortDevice(int n, const QString& workDir, const QString& devDir = QStringLiteral("/dev"));

// Opens `device` as the tools open a meter's port: for this process alone
// (the lock and the holder as PosixSerialDevice finds them), raw 8N1 at
// `speed`, both queues purged. Returns the reason in words when it cannot
// ("Permission denied", the holder's name), empty when the port is open;
// port.LastErrorCode() then tells a want of permission (EACCES, EPERM).
// `former`, when given, gets the terminal settings the port had before.
std::string OpenMeterPort(PosixSerialDevice& port, const std::string& device, TComPortBaudRate speed,
                          termios* former = nullptr);

class TSerialPortDriver : public QObject {
    Q_OBJECT
public:
    using DeviceFactory = std::function<std::unique_ptr<ISerialDevice>()>;
    // Sender, the received bytes (valid only during the call) and their count (>= 1).
    using TComPortReceiveDataEvent = std::function<void(TSerialPortDriver* Sender, const uint8_t* DataPtr, int32_t DataSize)>;

    // `factory` makes the device each Connect opens (the program's own opens
    // tty devices, tests hand fakes). Without one every Connect fails.
    TSerialPortDriver(QObject* owner, DeviceFactory factory);
    ~TSerialPortDriver() override;

    // Opens the port and starts polling; true when the port is open afterwards.
    // While connected: returns true and changes nothing.
    bool Connect();
    // Stops polling and closes the port.
    void Disconnect();
    bool IsConnected() const { return connected_; }
    // Writes the line settings to the open port, then purges both queues.
    void ApplySettings();
    void PurgeBuffers(bool input, bool output);

    // One polling tick: one read of at most ComPortInBufSize bytes, handed to
    // OnReceiveData when any arrived. The timer calls it; tests may call it.
    void PollTick();

    // Why the last Connect failed, in the system's words, and whether it was
    // refused for want of permission (the user is not in the device's group).
    QString LastError() const { return lastError_; }
    bool LastErrorIsPermission() const { return lastErrorIsPermission_; }
    // The device the last Connect tried to open.
    QString DevicePath() const { return devicePath_; }
    // True once the open device hung up or vanished; the driver then stays
    // connected, without a device and without polling, until Disconnect.
    bool DeviceLost() const { return deviceLost_; }
    // Where "COMn" links are looked for; empty (the default) is the current directory.
    void setPortLinkDir(const QString& dir) { portLinkDir_ = dir; }

    TComPortNumber ComPort() const { return comPort_; }
    void setComPort(TComPortNumber value);
    TComPortBaudRate ComPortSpeed() const { return settings_.Speed; }
    void setComPortSpeed(TComPortBaudRate value);
    TComPortDataBits ComPortDataBits() const { return settings_.DataBits; }
    void setComPortDataBits(TComPortDataBits value);
    TComPortStopBits ComPortStopBits() const { return settings_.StopBits; }
    void setComPortStopBits(TComPortStopBits value);
    TComPortParity ComPortParity() const { return settings_.Parity; }
    void setComPortParity(TComPortParity value);
    TComPortHwHandshaking ComPortHwHandshaking() const { return settings_.HwHandshaking; }
    void setComPortHwHandshaking(TComPortHwHandshaking value);
    TComPortSwHandshaking ComPortSwHandshaking() const { return settings_.SwHandshaking; }
    void setComPortSwHandshaking(TComPortSwHandshaking value);
    uint16_t ComPortInBufSize() const { return settings_.InBufSize; }
    void setComPortInBufSize(uint16_t value);
    uint16_t ComPortOutBufSize() const { return outBufSize_; }
    void setComPortOutBufSize(uint16_t value);
    uint16_t ComPortPollingDelay() const { return pollingDelay_; }
    void setComPortPollingDelay(uint16_t value);
    bool EnableDTROnOpen() const { return settings_.EnableDTROnOpen; }
    void setEnableDTROnOpen(bool value) { settings_.EnableDTROnOpen = value; }
    uint16_t OutputTimeout() const { return outputTimeout_; }
    void setOutputTimeout(uint16_t value) { outputTimeout_ = value; }

    // The line settings the next ApplySettings writes.
    LineSettings CurrentLineSettings() const { return MakeLineSettings(settings_); }
    // The polling timer (for inspection).
    const QTimer& PollTimer() const { return pollTimer_; }

    TComPortReceiveDataEvent OnReceiveData;

private:
    void SettingChanged();
    void DropDevice();

    DeviceFactory factory_;
    std::unique_ptr<ISerialDevice> device_;
    QTimer pollTimer_;
    std::vector<uint8_t> inputBuffer_;
    bool connected_ = false;
    bool deviceLost_ = false;
    bool delivering_ = false;

    TComPortNumber comPort_ = pnCOM1;
    SerialPortSettings settings_;
    uint16_t outBufSize_ = 2048;
    uint16_t pollingDelay_ = 50;
    uint16_t outputTimeout_ = 4000;

    QString portLinkDir_;
    QString devicePath_;
    QString lastError_;
    bool lastErrorIsPermission_ = false;
};
