#include "record/DailyCsvFiles.h"

#include "record/CsvFormat.h"
#include "record/DiskSync.h"
#include "record/paradox/ReplacingFile.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

DailyCsvFiles::DailyCsvFiles(std::string folder) : folder_(std::move(folder))
{
    std::error_code ec;
    std::filesystem::create_directories(folder_, ec);
    if (ec)
        throw std::runtime_error("The folder " + folder_ + " cannot be made for the CSV log: " + ec.message());
    if (!std::filesystem::is_directory(folder_, ec))
        throw std::runtime_error("The CSV log cannot be written to " + folder_ + ": it is not a folder");
    if (::access(folder_.c_str(), W_OK | X_OK) != 0)
        throw std::runtime_error("The CSV log cannot be written to the folder " + folder_ + ": " + std::strerror(errno));
    flushTimer_.setSingleShot(true);
    flushTimer_.setInterval(kFlushMs);
    flushTimer_.callOnTimeout([this] { flush(); });
    syncer_ = std::make_unique<DiskSync>();
}

DailyCsvFiles::~DailyCsvFiles()
{
    onFailure = nullptr;
    stop();
}

std::string& DailyCsvFiles::linesFor(std::string_view date)
{
    if (pending_.empty() || pending_.back().date != date)
        pending_.push_back({std::string(date), {}});
    return pending_.back().lines;
}

void DailyCsvFiles::added()
{
    if (stopped_)
        return;
    if (!pending_.empty() && pending_.back().lines.size() >= kFlushBytes)
        flush();
    else if (!flushTimer_.isActive())
        flushTimer_.start();
}

size_t DailyCsvFiles::pendingBytes() const
{
    size_t n = 0;
    for (const Batch& b : pending_)
        n += b.lines.size();
    return n;
}

size_t DailyCsvFiles::stop()
{
    if (stopped_)
        return 0;
    flush();
    flushTimer_.stop();
    const size_t lost = pendingBytes();
    pending_.clear();
    closeFile();
    syncer_.reset();  // the last syncs are done
    stopped_ = true;
    return lost;
}

void DailyCsvFiles::flush()
{
    flushTimer_.stop();
    if (stopped_)
        return;
    std::string failedPath;
    int failedError = 0;
    while (!pending_.empty()) {
        const Batch& b = pending_.front();
        const std::string path = folder_ + "/" + fileName(b.date);
        const int err = write(path, b);
        if (err != 0) {
            if (!failing_) {
                failedPath = path;
                failedError = err;
            }
            failing_ = true;
            flushTimer_.start();  // tried again with the next batch
            break;
        }
        failing_ = false;
        pending_.pop_front();
    }
    if (failedError != 0 && onFailure)
        onFailure(failedPath, failedError);
}

// Appends the batch to the file at `path`, opened anew whenever the day
// changes or the name no longer leads to the file open; 0 or an error number.
// A write that fails part-way is cut back, so the file holds whole lines.
int DailyCsvFiles::write(const std::string& path, const Batch& b)
{
    if (fd_.get() >= 0) {
        struct stat named {
        }, open{};
        if (fdDate_ != b.date || ::stat(path.c_str(), &named) != 0 || ::fstat(fd_.get(), &open) != 0 ||
            named.st_dev != open.st_dev || named.st_ino != open.st_ino)
            closeFile();
    }
    if (fd_.get() < 0) {
        UniqueFd fd(::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666));
        if (fd.get() < 0)
            return errno;
        fd_ = std::move(fd);
        fdDate_ = b.date;
        syncer_->follow(UniqueFd(::dup(fd_.get())));
    }
    struct stat st {};
    if (::fstat(fd_.get(), &st) != 0)
        return errno;
    int err;
    if (st.st_size == 0) {
        // A new file: its header first, and its name made durable too.
        std::string first(csvHeader());
        first += b.lines;
        err = WriteAll(fd_.get(), first.data(), first.size());
        if (err == 0)
            syncer_->finish(UniqueFd(::open(folder_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)));
    } else {
        err = WriteAll(fd_.get(), b.lines.data(), b.lines.size());
    }
    if (err != 0) {
        if (::ftruncate(fd_.get(), st.st_size) != 0)
            closeFile();
        return err;
    }
    syncer_->poke();
    return 0;
}

void DailyCsvFiles::closeFile()
{
    if (fd_.get() < 0)
        return;
    if (syncer_)
        syncer_->leave();
    fd_.reset();
    fdDate_.clear();
}
