#include "record/CsvLog.h"

#include "record/DiskSync.h"
#include "record/paradox/ReplacingFile.h"

#include <QDate>
#include <QDir>
#include <QStandardPaths>

#include <cerrno>
#include <cstring>
#include <exception>
#include <fcntl.h>
#include <filesystem>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace {

QString Quoted(const std::string& path)
{
    return u'"' + QString::fromLocal8Bit(path.c_str()) + u'"';
}

}  // namespace

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
    syncer_ = std::make_unique<DiskSync>();
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
    const size_t lost = pendingBytes();
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
