#pragma once
// Who else holds a serial device, and the lock file that tells other programs
// that this one holds it.
//
// Linux has no mandatory exclusive open of a tty. Programs that share serial
// ports agree on a UUCP lock file instead: "LCK..<name>" in the lock directory
// (/var/lock), holding the locking process's id as ten ASCII digits and a
// newline. Terminal programs write one; plain readers such as cat do not, so the
// open files of the processes are looked at too.
#include <optional>
#include <string>
#include <sys/types.h>

struct PortHolder {
    pid_t Pid = 0;
    std::string Name;      // the process's command name, or empty when unknown
    std::string LockFile;  // the lock file that names it; empty when found among open files

    // "cat (pid 1234)", with the lock file when there is one.
    std::string Describe() const;
};

// /var/lock, or /run/lock where /var/lock does not exist.
std::string DefaultLockDir();

// The lock file name for a device: "LCK.." and its path below /dev with '/'
// written as '_' ("LCK..ttyS0", "LCK..pts_3"); the file name alone for a device
// outside /dev.
std::string LockFileName(const std::string& devicePath);

// Another process that has the character device `rdev` open: every process is
// looked at when this one runs as root, only the user's own otherwise (the
// system shows no one else's open files). A process that holds the master side
// of a pseudo-terminal is the far end of that line, the device itself, and
// does not count as a holder of its slave side.
std::optional<PortHolder> OpenFileHolder(dev_t rdev, const std::string& procDir = "/proc");

// A UUCP lock file held while a device is open.
class UucpLock {
public:
    UucpLock() = default;
    ~UucpLock() { Release(); }
    UucpLock(const UucpLock&) = delete;
    UucpLock& operator=(const UucpLock&) = delete;

    enum class Outcome {
        Taken,    // the lock file now names this process
        Held,     // a live process holds the lock: see Holder()
        Skipped,  // no lock was taken: the directory is missing or not writable,
                  // or this process already holds it through another opener
    };
    // Takes the lock `lockPath`. A lock that names a process that has ended is
    // stale and removed first; one without a readable process id counts as held.
    Outcome Take(const std::string& lockPath);
    // Removes the lock file if this object took it and it still names this process.
    void Release();

    bool Owned() const { return !path_.empty(); }
    const PortHolder& Holder() const { return holder_; }

private:
    std::string path_;
    PortHolder holder_;
};
