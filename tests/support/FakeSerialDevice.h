#pragma once
// A scripted serial device. The test keeps the shared FakeSerialLine, queues
// bytes on it, makes opens fail or the device vanish, and reads back every
// call the driver made.
#include "platform/SerialDevice.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

struct FakeSerialLine {
    // Script
    bool openFails = false;
    int openErrno = ENOENT;
    bool vanished = false;  // reads report Gone once the waiting bytes are read
    std::vector<uint8_t> waiting;

    // Record
    std::vector<std::string> calls;  // "open <path>", "apply", "purge io", "queues", "read", "close"
    std::vector<LineSettings> applied;
    int devicesMade = 0;

    void Queue(const std::vector<uint8_t>& bytes) { waiting.insert(waiting.end(), bytes.begin(), bytes.end()); }
    int Count(const std::string& call) const { return int(std::count(calls.begin(), calls.end(), call)); }
};

class FakeSerialDevice final : public ISerialDevice {
public:
    explicit FakeSerialDevice(std::shared_ptr<FakeSerialLine> line) : line_(std::move(line)) { ++line_->devicesMade; }

    bool Open(const std::string& path) override
    {
        line_->calls.push_back("open " + path);
        if (line_->openFails) {
            err_ = line_->openErrno;
            return false;
        }
        open_ = true;
        return true;
    }
    bool IsOpen() const override { return open_; }
    void Close() override
    {
        if (open_)
            line_->calls.push_back("close");
        open_ = false;
    }
    bool ApplySettings(const LineSettings& settings) override
    {
        line_->calls.push_back("apply");
        line_->applied.push_back(settings);
        return true;
    }
    bool Purge(bool input, bool output) override
    {
        line_->calls.push_back(std::string("purge ") + (input ? "i" : "") + (output ? "o" : ""));
        if (input)
            line_->waiting.clear();
        return true;
    }
    bool SetQueueSizes(uint32_t, uint32_t) override
    {
        line_->calls.push_back("queues");
        return true;
    }
    SerialReadResult Read(uint8_t* buffer, size_t capacity) override
    {
        line_->calls.push_back("read");
        if (!open_)
            return {SerialReadStatus::Gone, 0};
        const size_t n = std::min(capacity, line_->waiting.size());
        if (n == 0)
            return {line_->vanished ? SerialReadStatus::Gone : SerialReadStatus::Ok, 0};
        std::memcpy(buffer, line_->waiting.data(), n);
        line_->waiting.erase(line_->waiting.begin(), line_->waiting.begin() + long(n));
        return {SerialReadStatus::Ok, n};
    }
    std::string LastError() const override { return err_ ? std::strerror(err_) : std::string(); }
    int LastErrorCode() const override { return err_; }

private:
    std::shared_ptr<FakeSerialLine> line_;
    bool open_ = false;
    int err_ = 0;
};

// A driver factory handing out fakes that share `line`.
inline auto FakeSerialFactory(const std::shared_ptr<FakeSerialLine>& line)
{
    return [line] { return std::unique_ptr<ISerialDevice>(std::make_unique<FakeSerialDevice>(line)); };
}
