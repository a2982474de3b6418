#include "record/DiskSync.h"

#include <chrono>
#include <unistd.h>
#include <utility>

DiskSync::DiskSync() : thread_([this] { run(); }) {}

DiskSync::~DiskSync()
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stop_ = true;
    }
    wake_.notify_one();
    thread_.join();
}

void DiskSync::follow(UniqueFd file)
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (current_.get() >= 0)
            finishing_.push_back(std::move(current_));
        current_ = std::move(file);
    }
    poke();
}

void DiskSync::finish(UniqueFd fd)
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        finishing_.push_back(std::move(fd));
    }
    wake_.notify_one();
}

void DiskSync::leave()
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (current_.get() >= 0)
        finishing_.push_back(std::move(current_));
    wake_.notify_one();
}

void DiskSync::poke()
{
    if (due_.exchange(true, std::memory_order_acq_rel))
        return;
    {
        std::lock_guard<std::mutex> lock(mutex_);  // the thread is waiting, or sees due_ before it waits
    }
    wake_.notify_one();
}

void DiskSync::run()
{
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        wake_.wait(lock, [this] { return stop_ || !finishing_.empty() || due_.load(std::memory_order_acquire); });
        std::vector<UniqueFd> finishing = std::move(finishing_);
        finishing_.clear();
        UniqueFd current;
        if (due_.exchange(false, std::memory_order_acq_rel) && current_.get() >= 0)
            current = UniqueFd(::dup(current_.get()));
        lock.unlock();
        if (current.get() >= 0)
            ::fdatasync(current.get());
        for (const UniqueFd& fd : finishing)
            if (fd.get() >= 0)
                ::fsync(fd.get());
        finishing.clear();
        current.reset();
        lock.lock();
        if (stop_) {
            if (finishing_.empty() && !due_.load(std::memory_order_acquire))
                return;
            continue;
        }
        wake_.wait_for(lock, std::chrono::seconds(1), [this] { return stop_; });
    }
}
