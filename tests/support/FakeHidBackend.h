#pragma once
// Scripted HID devices. The test plugs and unplugs devices, queues input
// reports on them, makes opens or reads fail, tells the controller that the
// set changed, and reads back the feature reports sent. Reads block for their
// slice like real ones, so reader threads run against it for real.
#include "platform/HidBackend.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

struct FakeHidDeviceInfo {
    std::string instance;
    std::string path;
    HidAttributes attributes{0x1A86, 0xE008, 0x0100};
    std::u16string product = u"USB to Serial";  // empty: none
    std::u16string serial;                      // empty: none
    bool languagesReadable = true;
    std::u16string languages = std::u16string(1, char16_t(0x0409));
    HidReportCaps caps{9, 10, false};
    bool readWrite = true;        // opens for reading and writing
    int readWriteError = EACCES;  // errno when it does not
    bool queryable = true;        // opens for queries
    bool identifiable = true;     // attributes can be read
};

// One plugged device, shared by the backend and the handles opened on it.
struct FakeHidNode {
    FakeHidDeviceInfo info;

    std::mutex mutex;
    std::condition_variable changed;
    std::deque<std::vector<uint8_t>> reports;  // report ID first
    std::vector<std::vector<uint8_t>> features;
    bool gone = false;           // reads fail once unplugged
    bool readOpenFails = false;  // opening for input reports fails (ENODEV)
    int readOpens = 0;           // attempts to open for input reports
    int readsWaiting = 0;        // reads blocked in their slice now

    void Queue(std::vector<uint8_t> report)
    {
        std::lock_guard lock(mutex);
        reports.push_back(std::move(report));
        changed.notify_all();
    }
    size_t Queued()
    {
        std::lock_guard lock(mutex);
        return reports.size();
    }
    int ReadOpens()
    {
        std::lock_guard lock(mutex);
        return readOpens;
    }
    int ReadsWaiting()
    {
        std::lock_guard lock(mutex);
        return readsWaiting;
    }
    std::vector<std::vector<uint8_t>> Features()
    {
        std::lock_guard lock(mutex);
        return features;
    }
};

class FakeHidHandle final : public IHidHandle {
public:
    FakeHidHandle(std::shared_ptr<FakeHidNode> node, HidOpenMode mode) : node_(std::move(node)),
                                                                         mode_(mode) {}

    bool GetAttributes(HidAttributes& a) override
    {
        if (!node_->info.identifiable)
            return false;
        a = node_->info.attributes;
        return true;
    }
    bool GetProductString(std::u16string& t) override { return Text(node_->info.product, t); }
    bool GetSerialNumberString(std::u16string& t) override { return Text(node_->info.serial, t); }
    bool GetIndexedString(int index, std::u16string& t) override
    {
        if (index != 0 || !node_->info.languagesReadable)
            return false;
        t = node_->info.languages;
        return true;
    }
    bool GetReportCaps(HidReportCaps& caps) override
    {
        if (mode_ != HidOpenMode::ReadWrite)
            return false;
        caps = node_->info.caps;
        return true;
    }
    bool SetFeature(const uint8_t* data, size_t size) override
    {
        std::lock_guard lock(node_->mutex);
        if (mode_ != HidOpenMode::ReadWrite || node_->gone)
            return false;
        node_->features.emplace_back(data, data + size);
        return true;
    }
    HidReadResult Read(uint8_t* buffer, size_t capacity, int timeoutMs) override
    {
        std::unique_lock lock(node_->mutex);
        ++node_->readsWaiting;
        node_->changed.notify_all();
        node_->changed.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                [&] { return interrupted_ || node_->gone || !node_->reports.empty(); });
        --node_->readsWaiting;
        if (interrupted_) {
            interrupted_ = false;
            return {HidReadStatus::Interrupted, 0, 0};
        }
        if (node_->gone)
            return {HidReadStatus::Failed, 0, EIO};
        if (node_->reports.empty())
            return {HidReadStatus::Timeout, 0, 0};
        std::vector<uint8_t> r = std::move(node_->reports.front());
        node_->reports.pop_front();
        const size_t n = std::min(capacity, r.size());
        std::copy_n(r.begin(), n, buffer);
        return {HidReadStatus::Report, n, 0};
    }
    void Interrupt() override
    {
        std::lock_guard lock(node_->mutex);
        interrupted_ = true;
        node_->changed.notify_all();
    }
    int LastError() const override { return 0; }

private:
    static bool Text(const std::u16string& s, std::u16string& t)
    {
        if (s.empty())
            return false;
        t = s;
        return true;
    }

    std::shared_ptr<FakeHidNode> node_;
    HidOpenMode mode_;
    bool interrupted_ = false;  // guarded by the node's mutex
};

class FakeHidBackend final : public IHidBackend {
public:
    bool present = true;

    // Plugs a device in (the controller sees it at its next scan).
    std::shared_ptr<FakeHidNode> Plug(FakeHidDeviceInfo info)
    {
        auto node = std::make_shared<FakeHidNode>();
        if (info.path.empty())
            info.path = "/dev/hidraw" + std::to_string(next_++);
        if (info.instance.empty())
            info.instance = info.path + "#" + std::to_string(next_++);
        node->info = std::move(info);
        std::lock_guard lock(mutex_);
        nodes_.push_back(node);
        return node;
    }
    void Unplug(const std::shared_ptr<FakeHidNode>& node)
    {
        {
            std::lock_guard lock(node->mutex);
            node->gone = true;
            node->changed.notify_all();
        }
        std::lock_guard lock(mutex_);
        std::erase(nodes_, node);
    }
    // What the system's change notification does.
    void Notify()
    {
        if (onChange_)
            onChange_();
    }
    bool Watched() const { return bool(onChange_); }

    bool Present() const override { return present; }
    std::vector<HidInterface> Enumerate() override
    {
        std::lock_guard lock(mutex_);
        std::vector<HidInterface> found;
        for (const auto& n : nodes_)
            found.push_back({n->info.instance, n->info.path, "/sys/fake" + n->info.path});
        return found;
    }
    std::unique_ptr<IHidHandle> Open(const HidInterface& where, HidOpenMode mode, int& error) override
    {
        std::shared_ptr<FakeHidNode> node;
        {
            std::lock_guard lock(mutex_);
            for (const auto& n : nodes_)
                if (n->info.instance == where.Instance)
                    node = n;
        }
        error = ENOENT;
        if (!node)
            return nullptr;
        std::lock_guard lock(node->mutex);
        switch (mode) {
        case HidOpenMode::ReadWrite:
            if (!node->info.readWrite) {
                error = node->info.readWriteError;
                return nullptr;
            }
            break;
        case HidOpenMode::Query:
            if (!node->info.queryable)
                return nullptr;
            break;
        case HidOpenMode::Read:
            ++node->readOpens;
            node->changed.notify_all();
            if (node->readOpenFails || !node->info.readWrite || node->gone) {
                error = ENODEV;
                return nullptr;
            }
            break;
        }
        error = 0;
        return std::make_unique<FakeHidHandle>(node, mode);
    }
    void Watch(std::function<void()> onChange) override { onChange_ = std::move(onChange); }

private:
    std::mutex mutex_;
    std::vector<std::shared_ptr<FakeHidNode>> nodes_;
    std::function<void()> onChange_;
    int next_ = 0;
};
