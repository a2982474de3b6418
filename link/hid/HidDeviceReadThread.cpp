#include "link/hid/HidDeviceReadThread.h"

#include "link/hid/HidDevice.h"
#include "platform/HidBackend.h"

#include <algorithm>
#include <cerrno>
#include <chrono>

THidDeviceReadThread::THidDeviceReadThread(THidDevice& device)
    : Device(device),
      Report(device.InputReportLength(), 0)
{
}

THidDeviceReadThread::~THidDeviceReadThread()
{
    if (thread_.joinable()) {
        Terminate();
        WaitFor();
    }
}

void THidDeviceReadThread::Start()
{
    if (!thread_.joinable())
        thread_ = std::thread([this] { Execute(); });
}

void THidDeviceReadThread::Terminate()
{
    terminated_ = true;
    std::shared_ptr<IHidHandle> reading;
    {
        std::lock_guard lock(mutex_);
        reading = reading_;
    }
    changed_.notify_all();
    if (reading)
        reading->Interrupt();
}

void THidDeviceReadThread::WaitFor()
{
    if (!thread_.joinable())
        return;
    std::unique_lock lock(mutex_);
    for (;;) {
        changed_.wait(lock, [this] { return call_ == Call::Waiting || ended_; });
        if (call_ == Call::Waiting) {
            RunTaken(lock);
            continue;
        }
        break;
    }
    lock.unlock();
    thread_.join();
}

void THidDeviceReadThread::Serve()
{
    std::unique_lock lock(mutex_);
    if (call_ == Call::Waiting)
        RunTaken(lock);
}

void THidDeviceReadThread::RunTaken(std::unique_lock<std::mutex>& lock)
{
    call_ = Call::Running;
    std::function<void()> call = std::move(pending_);
    lock.unlock();
    struct Done {
        THidDeviceReadThread& t;
        std::unique_lock<std::mutex>& lock;
        ~Done()
        {
            t.handingOver_ = false;
            lock.lock();
            t.call_ = Call::Done;
            t.changed_.notify_all();
        }
    } done{*this, lock};
    handingOver_ = true;
    call();
}

void THidDeviceReadThread::HandOver(std::function<void()> call)
{
    std::unique_lock lock(mutex_);
    pending_ = std::move(call);
    call_ = Call::Waiting;
    changed_.notify_all();  // a WaitFor in progress runs it
    QMetaObject::invokeMethod(
        &context_, [this] { Serve(); }, Qt::QueuedConnection);
    changed_.wait(lock, [this] { return call_ == Call::Done; });
    call_ = Call::None;
}

void THidDeviceReadThread::Pause(int ms)
{
    std::unique_lock lock(mutex_);
    changed_.wait_for(lock, std::chrono::milliseconds(ms), [this] { return terminated_.load(); });
}

void THidDeviceReadThread::Execute()
{
    THidDevice& device = Device;
    while (!terminated_) {
        std::fill(Report.begin(), Report.end(), uint8_t(0));
        int error = 0;
        std::shared_ptr<IHidHandle> handle = device.OpenReadHandle(error);
        HidReadResult result;
        if (handle) {
            {
                std::lock_guard lock(mutex_);
                reading_ = handle;
            }
            // Checked after publishing the handle, so a Terminate either sees
            // the handle to interrupt or is seen here.
            if (terminated_)
                result.Status = HidReadStatus::Interrupted;
            else
                result = handle->Read(Report.data(), Report.size(), device.ReadPollTime());
            std::lock_guard lock(mutex_);
            reading_.reset();
        } else {
            result = {HidReadStatus::Failed, 0, error ? error : ENODEV};
        }
        handle.reset();

        switch (result.Status) {
        case HidReadStatus::Report:
            // A report already read is handed over even when a stop came meanwhile.
            BytesRead = uint32_t(result.Count);
            HandOver([this] {
                const THidDataEvent& handler = Device.DataHandler();
                if (handler && BytesRead > 0)
                    handler(&Device, Report[0], Report.data() + 1, uint16_t(BytesRead - 1));
            });
            break;
        case HidReadStatus::Failed:
            ReadError = uint32_t(result.Error);
            HandOver([this] {
                if (Device.DataErrorHandler)
                    Device.DataErrorHandler(&Device, ReadError);
            });
            // A read that cannot be made now will not be made a moment later
            // either (an unplugged device): wait a slice, do not spin.
            Pause(device.ReadPollTime());
            break;
        case HidReadStatus::Timeout:
        case HidReadStatus::Interrupted:
            break;
        }
    }
    std::lock_guard lock(mutex_);
    ended_ = true;
    changed_.notify_all();
}
