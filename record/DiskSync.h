#pragma once
// Syncs files to the disk from a thread of its own, so a slow disk never holds
// up the window: the file being written soon after something was written and
// then at most once a second, and once each file or folder handed over to be
// finished. Every descriptor it syncs is its own copy. Ending it syncs what is
// still due and waits for that.
#include "platform/UniqueFd.h"

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

class DiskSync {
public:
    DiskSync();
    ~DiskSync();
    DiskSync(const DiskSync&) = delete;
    DiskSync& operator=(const DiskSync&) = delete;

    // From now on `file` is the file written; the one before is synced once more.
    void follow(UniqueFd file);
    // Synced once (fsync), then closed: a folder whose entries changed.
    void finish(UniqueFd fd);
    // The file written is closed: its copy is synced a last time.
    void leave();
    // Something was written. Cheap while a sync is already due.
    void poke();

private:
    void run();

    std::mutex mutex_;
    std::condition_variable wake_;
    std::atomic<bool> due_{false};
    bool stop_ = false;
    UniqueFd current_;
    std::vector<UniqueFd> finishing_;
    std::thread thread_;  // last: starts once everything above is set
};
