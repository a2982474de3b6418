#pragma once
// The system side of a serial port: open a device exclusively, write its line
// settings, read what is waiting without blocking, purge, close. The serial
// port driver talks only to ISerialDevice, so tests can script a device.
#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>

#include "platform/PortLock.h"
#include "platform/UniqueFd.h"

enum class SerialParity { None,
                          Odd,
                          Even,
                          Mark,
                          Space };
enum class SerialStopBits { One,
                            OneAndHalf,
                            Two };

// Everything a settings write puts on the line. Parity is generated but never
// checked on input, and line errors never abort reading.
struct LineSettings {
    uint32_t BaudRate = 9600;
    uint8_t ByteSize = 8;  // 5 ... 8
    SerialParity Parity = SerialParity::None;
    SerialStopBits StopBits = SerialStopBits::One;
    bool Binary = true;
    bool DtrEnable = false;        // raise DTR; otherwise DTR is dropped
    bool RtsCtsHandshake = false;  // RTS/CTS flow control; otherwise RTS is held off
    bool XonXoffOutput = false;
    bool XonXoffInput = false;
    uint16_t XonLim = 0;   // free space in the input queue before XON is sent
    uint16_t XoffLim = 0;  // minimum free space before XOFF is sent
    uint8_t XonChar = 0x11;
    uint8_t XoffChar = 0x13;

    bool operator==(const LineSettings&) const = default;
};

enum class SerialReadStatus {
    Ok,     // the count says how many bytes were read; 0 when nothing waited
    Error,  // a failed read that may pass; nothing was read
    Gone,   // the device hung up or vanished; no further read can succeed
};

struct SerialReadResult {
    SerialReadStatus Status = SerialReadStatus::Ok;
    size_t Count = 0;
};

// The termios control and input flags (c_cflag, c_iflag; speed bits apart)
// that `settings` stand for on a Linux tty.
struct TermiosFlags {
    unsigned int Control = 0;
    unsigned int Input = 0;
};
TermiosFlags TermiosFlagsFor(const LineSettings& settings);

// What a user refused a device for want of permission must do: "you must be a
// member of the group 'dialout' that owns the device: add yourself to it, then
// log out and log in again" (the device's own group; dialout when unknown).
std::string DeviceGroupHint(const std::string& device);

class ISerialDevice {
public:
    virtual ~ISerialDevice() = default;

    // Opens `path` for reading and writing, for this process alone. On failure
    // returns false and LastError() / LastErrorCode() tell why.
    virtual bool Open(const std::string& path) = 0;
    virtual bool IsOpen() const = 0;
    virtual void Close() = 0;

    // Writes the line settings to the open device.
    virtual bool ApplySettings(const LineSettings& settings) = 0;
    // Discards pending input and/or output.
    virtual bool Purge(bool input, bool output) = 0;
    // Asks for driver queues of these sizes.
    virtual bool SetQueueSizes(uint32_t inputSize, uint32_t outputSize) = 0;
    // Reads at most `capacity` bytes that are already waiting; never blocks.
    virtual SerialReadResult Read(uint8_t* buffer, size_t capacity) = 0;

    // The reason of the last failure in words, and its errno (0 when none).
    virtual std::string LastError() const = 0;
    virtual int LastErrorCode() const = 0;
};

// A tty device driven through termios.
//
// Before it opens the device, Open() refuses it (EBUSY, the holder named in
// LastError()) when another process holds it: a UUCP lock file naming a live
// process, or a process that has it open (see OpenFileHolder). A device that is
// refused is not opened, so its holder's terminal settings stay as they are.
// Then it takes the UUCP lock itself, opens with O_NONBLOCK and O_NOCTTY, takes
// an flock() on the device and sets TIOCEXCL, so a later opener fails whichever
// name (or symlink) it uses, root included. Close() gives all of it back.
class PosixSerialDevice final : public ISerialDevice {
public:
    // `lockDir`: where UUCP lock files live.
    explicit PosixSerialDevice(std::string lockDir = DefaultLockDir()) : lockDir_(std::move(lockDir)) {}
    ~PosixSerialDevice() override;
    PosixSerialDevice(const PosixSerialDevice&) = delete;
    PosixSerialDevice& operator=(const PosixSerialDevice&) = delete;

    bool Open(const std::string& path) override;
    bool IsOpen() const override { return fd_.get() >= 0; }
    void Close() override;
    bool ApplySettings(const LineSettings& settings) override;
    bool Purge(bool input, bool output) override;
    bool SetQueueSizes(uint32_t inputSize, uint32_t outputSize) override;
    SerialReadResult Read(uint8_t* buffer, size_t capacity) override;
    std::string LastError() const override { return lastError_; }
    int LastErrorCode() const override { return lastErrno_; }

    int Descriptor() const { return fd_.get(); }
    // Whether this device holds its UUCP lock file.
    bool HoldsLockFile() const { return lock_.Owned(); }

private:
    bool Fail(int err);
    bool Refuse(const PortHolder& holder);

    std::string lockDir_;
    UucpLock lock_;
    UniqueFd fd_;
    int lastErrno_ = 0;
    std::string lastError_;
};
