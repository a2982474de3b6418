#include "record/CsvLog.h"

#include "record/paradox/ReplacingFile.h"

#include <QDate>
#include <QDir>
#include <QStandardPaths>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <exception>
#include <fcntl.h>
#include <filesystem>
#include <mutex>
#include <stdexcept>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <utility>
#include <vector>

namespace {

QString Quoted(const std::string& path)
{
    return u'"' + QString::fromLocal8Bit(path.c_str()) + u'"';
}

}  // namespace

// Calls fdatasync from a thread of its own, so a slow disk never holds up the
// window: on the day's file soon after something was written and then at most
// once a second, and once on each file or folder handed over to be finished.
// Every descriptor it syncs is its own copy.
class CsvLog::Syncer {
public:
    Syncer() : thread_([this] { run(); }) {}
    ~Syncer()
    {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            stop_ = true;
        }
        wake_.notify_one();
        thread_.join();
    }
    Syncer(const Syncer&) = delete;
    Syncer& operator=(const Syncer&) = delete;

    // From now on `file` is the file written; the one before is synced once more.
    void follow(UniqueFd file)
    {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (current_.get() >= 0)
                finishing_.push_back(std::move(current_));
            current_ = std::move(file);
        }
        poke();
    }
    // Synced once, then closed (a folder whose entries changed).
    void finish(UniqueFd fd)
    {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            finishing_.push_back(std::move(fd));
        }
        wake_.notify_one();
    }
    // The file written is closed: its copy is synced a last time.
    void leave()
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (current_.get() >= 0)
            finishing_.push_back(std::move(current_));
        wake_.notify_one();
    }
    // Something was written. Cheap while a sync is already due.
    void poke()
    {
        if (due_.exchange(true, std::memory_order_acq_rel))
            return;
        {
            std::lock_guard<std::mutex> lock(mutex_);
        }
        wake_.notify_one();
    }

private:
    void run()
    {
        std::unique_lock<std::mutex> lock(mutex_);
        for (;;) {
            wake_.wait(lock, [this] { return stop_ || !finishing_.empty() || due_.load(std::memory_order_acquire); });
            std::vector<UniqueFd> work = std::move(finishing_);
            finishing_.clear();
            if (due_.exchange(false, std::memory_order_acq_rel) && current_.get() >= 0)
                work.emplace_back(::dup(current_.get()));
            lock.unlock();
            for (const UniqueFd& fd : work)
                if (fd.get() >= 0)
                    ::fdatasync(fd.get());
            work.clear();
            lock.lock();
            if (stop_) {
                if (finishing_.empty() && !due_.load(std::memory_order_acquire))
                    return;
                continue;
            }
            wake_.wait_for(lock, std::chrono::seconds(1), [this] { return stop_; });
        }
    }

    std::mutex mutex_;
    std::condition_variable wake_;
    std::atomic<bool> due_{false};
    bool stop_ = false;
    UniqueFd current_;
    std::vector<UniqueFd> finishing_;
    std::thread thread_;  // last: starts once everything above is set
};

CsvLog::CsvLog(ReadingTable& table) : table_(&table)
{
    flushTimer_.setSingleShot(true);
    flushTimer_.setInterval(kFlushMs);
    flushTimer_.callOnTimeout([this] { flush(); });
    table_->addObserver(this);
}

CsvLog::~CsvLog()
{
    onNotice = nullptr;
    stop();
    if (table_)
        table_->removeObserver(this);
}

QString CsvLog::defaultFolder()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + "/quelt/logs";
}

void CsvLog::start(const std::string& folder)
{
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    if (ec)
        throw std::runtime_error("The folder " + folder + " cannot be made for the CSV log: " + ec.message());
    if (!std::filesystem::is_directory(folder, ec))
        throw std::runtime_error("The CSV log cannot be written to " + folder + ": it is not a folder");
    if (::access(folder.c_str(), W_OK | X_OK) != 0)
        throw std::runtime_error("The CSV log cannot be written to the folder " + folder + ": " + std::strerror(errno));
    if (on_)
        stop();
    folder_ = folder;
    on_ = true;
    failing_ = false;
    toldTable_ = false;
    syncer_ = std::make_unique<Syncer>();
}

void CsvLog::restore(const Settings& s)
{
    stop();
    folder_ = s.folder;
    if (s.on && !s.folder.empty())
        start(s.folder);
}

void CsvLog::stop()
{
    if (!on_)
        return;
    flush();
    flushTimer_.stop();
    size_t lost = 0;
    for (const Batch& b : pending_)
        lost += b.lines.size();
    pending_.clear();
    closeFile();
    syncer_.reset();  // the last syncs are done
    on_ = false;
    if (lost > 0)
        notice(QString("The CSV log stopped with %1 bytes of lines that could not be written to %2; those readings "
                       "are in the log and its journal only.")
                   .arg(lost)
                   .arg(Quoted(folder_)));
}

size_t CsvLog::pendingBytes() const
{
    size_t n = 0;
    for (const Batch& b : pending_)
        n += b.lines.size();
    return n;
}

void CsvLog::rowAppended(size_t row)
{
    if (!on_ || !table_)
        return;
    if (!lines_) {
        try {
            lines_ = std::make_unique<TableCsvLines>(*table_);
        } catch (const std::exception& e) {
            if (!toldTable_)
                notice(QString("The readings of the log table cannot be written to the CSV log: %1.").arg(e.what()));
            toldTable_ = true;
            return;
        }
    }
    // The line goes to the file of its own day; an undated one to the day at hand.
    const bool dated = table_->recordStamp(row) != ReadingTable::kUndated;
    if (dated) {
        line_.clear();
        lines_->append(line_, row);
        const std::string_view date(line_.data(), 10);
        if (pending_.empty() || pending_.back().date != date)
            pending_.push_back({std::string(date), {}});
        pending_.back().lines += line_;
    } else {
        if (pending_.empty())
            pending_.push_back({QDate::currentDate().toString(Qt::ISODate).toStdString(), {}});
        lines_->append(pending_.back().lines, row);
    }
    if (pending_.back().lines.size() >= kFlushBytes)
        flush();
    else if (!flushTimer_.isActive())
        flushTimer_.start();
}

void CsvLog::tableDestroyed()
{
    lines_.reset();
    table_ = nullptr;
}

void CsvLog::flush()
{
    flushTimer_.stop();
    QString failure;
    while (!pending_.empty()) {
        const Batch& b = pending_.front();
        const std::string path = folder_ + "/" + fileName(b.date);
        const int err = write(path, b);
        if (err != 0) {
            if (!failing_)
                failure = QString("The CSV log cannot be written to %1: %2. The readings are still recorded in the log "
                                  "and its journal; the CSV log tries again with the next lines and then writes the "
                                  "ones it missed.")
                              .arg(Quoted(path), QString::fromLocal8Bit(std::strerror(err)));
            failing_ = true;
            flushTimer_.start();  // tried again with the next batch
            break;
        }
        failing_ = false;
        pending_.pop_front();
    }
    notice(failure);
}

// Appends the batch to the file at `path`, opened anew whenever the day
// changes or the name no longer leads to the file open; 0 or an error number.
// A write that fails part-way is cut back, so the file holds whole lines.
int CsvLog::write(const std::string& path, const Batch& b)
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

void CsvLog::closeFile()
{
    if (fd_.get() < 0)
        return;
    if (syncer_)
        syncer_->leave();
    fd_.reset();
    fdDate_.clear();
}

void CsvLog::notice(const QString& text)
{
    if (!text.isEmpty() && onNotice)
        onNotice(text);
}
