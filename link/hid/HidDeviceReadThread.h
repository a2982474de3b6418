#pragma once
// The reader of one device: a thread that reads input reports in slices of
// the device's ReadPollTime and hands each one to the user-interface thread,
// waiting until the handler has returned. A read that cannot be made is
// handed over as an error and tried again one slice later.
//
// The hand-over is a blocking queued call of our own: the user-interface
// thread that waits for a reader to end (WaitFor) keeps running the reader's
// hand-overs, so a stop asked while a hand-over waits cannot deadlock, and a
// report already read is still delivered.
#include <QObject>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

class THidDevice;
class IHidHandle;

class THidDeviceReadThread {
public:
    // Created on the user-interface thread, suspended.
    explicit THidDeviceReadThread(THidDevice& device);
    // Ends the thread (as Terminate and WaitFor) if it still runs.
    ~THidDeviceReadThread();
    THidDeviceReadThread(const THidDeviceReadThread&) = delete;
    THidDeviceReadThread& operator=(const THidDeviceReadThread&) = delete;

    void Start();
    // Asks the thread to end; a wait in progress ends at once. Any thread.
    void Terminate();
    bool Terminated() const { return terminated_.load(); }
    // Waits until the thread has ended, running its hand-overs meanwhile.
    // User-interface thread; not from inside one of this reader's hand-overs.
    void WaitFor();
    // True while one of this reader's hand-overs runs (user-interface thread).
    bool HandingOver() const { return handingOver_; }

    THidDevice& Device;
    // What the last hand-over carried.
    uint32_t ReadError = 0;
    uint32_t BytesRead = 0;
    std::vector<uint8_t> Report;

private:
    enum class Call { None,
                      Waiting,
                      Running,
                      Done };

    void Execute();
    // Reader thread: runs `call` on the user-interface thread and waits.
    void HandOver(std::function<void()> call);
    // User-interface thread: runs the waiting hand-over, if there is one.
    void Serve();
    void RunTaken(std::unique_lock<std::mutex>& lock);
    // Reader thread: waits `ms` or until terminated.
    void Pause(int ms);

    std::thread thread_;
    std::atomic<bool> terminated_{false};
    std::mutex mutex_;
    std::condition_variable changed_;
    Call call_ = Call::None;
    std::function<void()> pending_;
    bool ended_ = false;
    std::shared_ptr<IHidHandle> reading_;  // the handle of the read in progress
    bool handingOver_ = false;
    QObject context_;  // lives on the user-interface thread
};
