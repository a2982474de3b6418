#pragma once
// Writing a file so that a failure never leaves a half-written file where a
// good one stood. A regular file at the path (or none) is replaced only once
// the new content is complete and on disk: it is written to a temporary file
// beside it, flushed and renamed over the path, and keeps the old file's
// permissions. A path that names a device or a pipe is written in place.
// A file that a program holds locked (the open log included) is refused.
#include "platform/UniqueFd.h"

#include <cstddef>
#include <stdexcept>
#include <string>

// Writes all n bytes to fd, going on after an interruption or a short write;
// 0, or the error number of the write that failed.
int WriteAll(int fd, const void* data, size_t n);

class FileWriteError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class ReplacingFile {
public:
    // Opens the way to write `path`; throws FileWriteError when it cannot be
    // written (no such folder, no rights, a folder, a locked file).
    explicit ReplacingFile(const std::string& path);
    // Without commit() the temporary file goes and the path keeps what it held.
    ~ReplacingFile();
    ReplacingFile(const ReplacingFile&) = delete;
    ReplacingFile& operator=(const ReplacingFile&) = delete;

    // Where the bytes go until commit().
    int fd() const { return fd_.get(); }
    void write(const void* data, size_t n);
    // Flushes the new content to disk and puts it in place.
    void commit();

private:
    [[noreturn]] void fail(const std::string& what, int err) const;

    std::string target_;  // the file replaced, symbolic links followed
    std::string temp_;    // empty when writing in place
    UniqueFd fd_;
    UniqueFd lockFd_;  // holds the old file against other openers until it is replaced
};
