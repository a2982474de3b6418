#include "record/ReadingJournal.h"

#include "platform/UniqueFd.h"
#include "record/paradox/ReplacingFile.h"

#include <QDateTime>
#include <QLocale>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <stdexcept>
#include <stdio.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <thread>
#include <utility>
#include <unistd.h>
#include <zlib.h>

namespace {

constexpr char kMagic[8] = {'Q', 'U', 'E', 'L', 'T', 'J', 'N', 'L'};
constexpr uint16_t kVersion = 1;
constexpr size_t kFixedHeader = 16;  // magic, version, field count, record size
constexpr uint8_t kPosted = 'A';
constexpr uint8_t kDeleted = 'D';
constexpr uint8_t kEmptied = 'N';

class SystemError : public std::runtime_error {
public:
    SystemError(const std::string& what, int err) : std::runtime_error(what + ": " + std::strerror(err)) {}
};

uint32_t Crc(const uint8_t* p, size_t n)
{
    return uint32_t(crc32(crc32(0L, Z_NULL, 0), p, uInt(n)));
}

template <class T> void Put(std::vector<uint8_t>& out, T v)
{
    for (size_t i = 0; i < sizeof(T); ++i)
        out.push_back(uint8_t(uint64_t(v) >> (8 * i)));
}

template <class T> T Get(const uint8_t* p)
{
    uint64_t v = 0;
    for (size_t i = 0; i < sizeof(T); ++i)
        v |= uint64_t(p[i]) << (8 * i);
    return T(v);
}

void PutCrc(std::vector<uint8_t>& out, size_t from)
{
    Put<uint32_t>(out, Crc(out.data() + from, out.size() - from));
}

// Bytes of an entry with this tag, 0 for a tag that is none.
size_t EntrySize(uint8_t tag, uint32_t recordSize)
{
    switch (tag) {
    case kPosted: return 1 + 8 + recordSize + 4;
    case kDeleted: return 1 + 8 + 4 + recordSize + 4;
    case kEmptied: return 1 + 8 + 4;
    default: return 0;
    }
}

bool AllZero(const uint8_t* p, size_t n)
{
    return std::all_of(p, p + n, [](uint8_t b) { return b == 0; });
}

// A read-only view of a whole file.
class Mapping {
public:
    Mapping(int fd, size_t size) : size_(size)
    {
        if (size == 0)
            return;
        void* p = ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
        if (p == MAP_FAILED)
            throw SystemError("cannot be read", errno);
        data_ = static_cast<const uint8_t*>(p);
    }
    ~Mapping()
    {
        if (data_)
            ::munmap(const_cast<uint8_t*>(data_), size_);
    }
    Mapping(const Mapping&) = delete;
    Mapping& operator=(const Mapping&) = delete;
    const uint8_t* data() const { return data_; }

private:
    const uint8_t* data_ = nullptr;
    size_t size_;
};

// Where a header that is not the one expected ends, when it is a whole and
// sound header of this format at all (another table's fields); nothing when
// the bytes are no header (damaged at the start).
std::optional<size_t> SoundHeaderEnd(const uint8_t* d, size_t size)
{
    if (size < kFixedHeader + 4 || std::memcmp(d, kMagic, sizeof kMagic) != 0)
        return std::nullopt;
    const uint16_t fields = Get<uint16_t>(d + 10);
    size_t pos = kFixedHeader;
    for (uint16_t i = 0; i < fields; ++i) {
        if (pos + 5 > size)
            return std::nullopt;
        pos += 5 + d[pos + 4];
    }
    if (pos + 4 > size || Get<uint32_t>(d + pos) != Crc(d, pos))
        return std::nullopt;
    return pos + 4;
}

QString When(int64_t ms)
{
    const QDateTime t = QDateTime::fromMSecsSinceEpoch(ms);
    const QLocale locale;
    return locale.toString(t.date(), QLocale::ShortFormat) + u' ' +
           locale.toString(t.time(), timeFormatWithoutZone(locale.timeFormat(QLocale::LongFormat)));
}

QString Quoted(const std::string& path)
{
    return u'"' + QString::fromLocal8Bit(path.c_str()) + u'"';
}

}  // namespace

// Calls fdatasync on the journal from a thread of its own, so a slow disk never
// holds up the window: soon after something was written, and then at most once
// a second. The first round also makes the journal's name durable.
class ReadingJournal::Syncer {
public:
    Syncer(int fd, int dirFd) : fd_(fd), dirFd_(dirFd), thread_([this] { run(); }) {}
    ~Syncer()
    {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            stop_ = true;
        }
        wake_.notify_one();
        thread_.join();
        if (dirFd_ >= 0)
            ::close(dirFd_);
    }
    Syncer(const Syncer&) = delete;
    Syncer& operator=(const Syncer&) = delete;

    // Something was written. Cheap while a sync is already due.
    void poke()
    {
        if (due_.exchange(true, std::memory_order_acq_rel))
            return;
        { std::lock_guard<std::mutex> lock(mutex_); }
        wake_.notify_one();
    }

private:
    void run()
    {
        std::unique_lock<std::mutex> lock(mutex_);
        for (;;) {
            wake_.wait(lock, [this] { return stop_ || due_.load(std::memory_order_acquire); });
            if (stop_)
                return;
            due_.store(false, std::memory_order_release);
            lock.unlock();
            ::fdatasync(fd_);
            if (dirFd_ >= 0) {
                ::fsync(dirFd_);
                ::close(dirFd_);
                dirFd_ = -1;
            }
            lock.lock();
            if (wake_.wait_for(lock, std::chrono::seconds(1), [this] { return stop_; }))
                return;
        }
    }

    const int fd_;
    int dirFd_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::atomic<bool> due_{false};
    bool stop_ = false;
    std::thread thread_;  // last: starts once everything above is set
};

ReadingJournal::ReadingJournal(ReadingTable& table, WallClock now)
    : table_(&table), now_(now ? std::move(now) : WallClock([] { return QDateTime::currentMSecsSinceEpoch(); }))
{
    flushTimer_.setSingleShot(true);
    flushTimer_.setInterval(kFlushMs);
    flushTimer_.callOnTimeout([this] { flush(); });
    buf_.reserve(kFlushBytes + 1024);
    table_->addObserver(this);
}

ReadingJournal::~ReadingJournal()
{
    detach(End::Keep);
    if (table_)
        table_->removeObserver(this);
}

size_t ReadingJournal::PostEntrySize(uint32_t recordSize)
{
    return EntrySize(kPosted, recordSize);
}

std::vector<uint8_t> ReadingJournal::Header(const paradox::Schema& schema)
{
    std::vector<uint8_t> h(kMagic, kMagic + sizeof kMagic);
    Put<uint16_t>(h, kVersion);
    Put<uint16_t>(h, uint16_t(schema.fields.size()));
    Put<uint32_t>(h, schema.recordSize);
    for (const paradox::Field& f : schema.fields) {
        h.push_back(f.type);
        h.push_back(f.sizeByte);
        Put<uint16_t>(h, f.length);
        const size_t n = std::min<size_t>(f.name.size(), 255);
        h.push_back(uint8_t(n));
        h.insert(h.end(), f.name.begin(), f.name.begin() + long(n));
    }
    PutCrc(h, 0);
    return h;
}

// ---- Attach and detach ---------------------------------------------------------

void ReadingJournal::attach()
{
    if (attached_ || !table_ || !table_->isOpen())
        return;
    attached_ = true;
    path_ = PathFor(table_->filePath());
    recovery_ = {};
    QString text;
    try {
        text = openOrRecover();
    } catch (const std::exception& e) {
        syncer_.reset();
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = -1;
        text = QString("The journal %1 of the log cannot be kept: it %2. Readings are still recorded, but those not "
                       "saved are lost if the program does not end by Exit.")
                   .arg(Quoted(path_), QString::fromLocal8Bit(e.what()));
    }
    notice(text);
}

void ReadingJournal::detach(End end)
{
    if (!attached_)
        return;
    if (end == End::Keep)
        flush();
    flushTimer_.stop();
    buf_.clear();
    attached_ = false;
    syncer_.reset();
    if (fd_ >= 0) {
        if (end == End::Keep)
            ::fdatasync(fd_);
        ::close(fd_);
        fd_ = -1;
    }
    if (end == End::Remove && owned_)
        ::unlink(path_.c_str());
    owned_ = false;
    path_.clear();
}

void ReadingJournal::tableDestroyed()
{
    detach(End::Keep);
    table_ = nullptr;
}

QString ReadingJournal::openOrRecover()
{
    const std::vector<uint8_t> header = Header(table_->schema());
    // A link in the journal's place could point anywhere: refused.
    UniqueFd file(::open(path_.c_str(), O_RDWR | O_CLOEXEC | O_NOFOLLOW));
    if (file.get() < 0) {
        if (errno != ENOENT)
            throw SystemError("cannot be opened", errno);
        create(header);
        return {};
    }
    struct stat st {};
    if (::fstat(file.get(), &st) != 0 || !S_ISREG(st.st_mode))
        throw std::runtime_error("is not a plain file");
    const size_t size = size_t(st.st_size);
    if (size == 0) {  // made, but its header never reached it
        if (const int err = WriteAll(file.get(), header.data(), header.size()))
            throw SystemError("cannot be written", err);
        adopt(file.release(), -1);
        return {};
    }

    const Mapping map(file.get(), size);
    const uint8_t* data = map.data();
    if (size < header.size() || std::memcmp(data, header.data(), header.size()) != 0) {
        // Not this table's journal: kept aside whole, and a new one started.
        const char* why = SoundHeaderEnd(data, size)
                              ? "belongs to a table with other fields, so its readings cannot be added to this log"
                              : "is damaged at its start, so its readings cannot be read";
        ::close(file.release());
        recovery_.keptAs = keepAside();
        create(header);
        return QString("The journal %1 beside the log %2. It was kept as %3, and a new journal was started.")
            .arg(Quoted(path_), QString::fromLatin1(why), Quoted(recovery_.keptAs));
    }

    bool damaged = false;
    const size_t end = replay(data, size, header.size(), damaged);
    if (damaged) {
        // Kept aside whole; the journal goes on with the entries that were read.
        ::close(file.release());
        recovery_.keptAs = keepAside();
        create(std::vector<uint8_t>(data, data + end));
    } else {
        if (end < size && ::ftruncate(file.get(), off_t(end)) != 0)
            throw SystemError("cannot be cut back to its last whole entry", errno);
        adopt(file.release(), -1);
    }
    return recoveryText(damaged);
}

// Replays the entries of data[from, size) into the table, up to the first one
// that is incomplete or fails its checksum; returns where the whole entries
// end. `damaged` tells whether what follows them is more than a cut-off tail.
size_t ReadingJournal::replay(const uint8_t* data, size_t size, size_t from, bool& damaged)
{
    const paradox::Schema& schema = table_->schema();
    const uint32_t recordSize = schema.recordSize;
    const int noField = schema.find("No");
    const paradox::Field* no = noField >= 0 ? &schema.fields[size_t(noField)] : nullptr;
    std::vector<const uint8_t*> posts;  // posted since the last deletion or New, not yet in the table
    std::vector<int64_t> times;         // when each recovered record now in the log was recorded
    auto postPending = [&] {
        table_->appendRows(posts);
        posts.clear();
    };

    struct Replaying {
        bool& flag;
        explicit Replaying(bool& f) : flag(f) { flag = true; }
        ~Replaying() { flag = false; }
    } replaying(replaying_);

    size_t pos = from;
    damaged = false;
    while (pos < size) {
        const uint8_t* e = data + pos;
        const size_t n = EntrySize(e[0], recordSize);
        if (n == 0 || pos + n > size || Get<uint32_t>(e + n - 4) != Crc(e, n - 4)) {
            // A cut-off last entry, or zeros where the disk had no time to
            // write, end the journal; anything else is damage.
            damaged = !(n != 0 && pos + n >= size) && !AllZero(e, size - pos);
            break;
        }
        const int64_t when = Get<int64_t>(e + 1);
        if (e[0] == kPosted) {
            posts.push_back(e + 9);
            times.push_back(when);
            if (no)
                recovery_.lastNo = paradox::getInteger(e + 9, *no).value_or(0);
        } else if (e[0] == kDeleted) {
            postPending();
            const uint32_t row = Get<uint32_t>(e + 9);
            const size_t count = table_->recordCount();
            if (row < count && std::memcmp(table_->rowData(row), e + 13, recordSize) == 0) {
                table_->deleteRecord(row);
                if (row + times.size() >= count)  // one of the recovered records, the last ones
                    times.erase(times.begin() + long(row + times.size() - count));
            } else {
                ++recovery_.deletionsSkipped;
            }
        } else {
            postPending();
            table_->empty();
            times.clear();
            recovery_.lastNo = 0;
        }
        ++recovery_.entries;
        pos += n;
    }
    postPending();
    recovery_.readings = times.size();
    if (!times.empty()) {
        recovery_.firstMs = times.front();
        recovery_.lastMs = times.back();
    }
    return pos;
}

QString ReadingJournal::recoveryText(bool damaged) const
{
    const JournalRecovery& r = recovery_;
    QString text;
    if (r.readings == 1)
        text = QString("1 unsaved reading of this log, recorded at %1, was recovered from the journal left when the "
                       "log was last closed without Exit. It is a pending record again: Save keeps it.")
                   .arg(When(r.firstMs));
    else if (r.readings > 1)
        text = QString("%1 unsaved readings of this log, recorded from %2 to %3, were recovered from the journal left "
                       "when the log was last closed without Exit. They are pending records again: Save keeps them.")
                   .arg(r.readings)
                   .arg(When(r.firstMs), When(r.lastMs));
    else if (r.entries > 0)
        text = "The unsaved changes of this log (records deleted, or the log emptied by New) were recovered from the "
               "journal left when the log was last closed without Exit; no unsaved readings were left in it.";
    if (r.deletionsSkipped > 0)
        text += QString(" %1 deletion(s) in the journal were not repeated, because the log file has changed since: "
                        "those records are still in the log.")
                    .arg(r.deletionsSkipped);
    if (damaged && r.entries > 0)
        text += QString(" The journal is damaged after that; the whole of it was kept as %1.").arg(Quoted(r.keptAs));
    else if (damaged)
        text = QString("The journal %1 of the log is damaged after its start, and nothing could be read from it. It "
                       "was kept as %2, and a new journal was started.")
                   .arg(Quoted(path_), Quoted(r.keptAs));
    return text.trimmed();
}

// Renames the file at path_ to the first free "<journal>.N"; returns the name.
std::string ReadingJournal::keepAside()
{
    for (int i = 1; i < 1000; ++i) {
        const std::string name = path_ + "." + std::to_string(i);
        if (::renameat2(AT_FDCWD, path_.c_str(), AT_FDCWD, name.c_str(), RENAME_NOREPLACE) == 0)
            return name;
        if (errno != EEXIST)
            throw SystemError("cannot be kept aside", errno);
    }
    throw std::runtime_error("cannot be kept aside: a thousand journals are kept there already");
}

// A new journal file at path_ that starts with these bytes.
void ReadingJournal::create(const std::vector<uint8_t>& firstBytes)
{
    UniqueFd file(::open(path_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0666));
    if (file.get() < 0)
        throw SystemError("cannot be created", errno);
    if (const int err = WriteAll(file.get(), firstBytes.data(), firstBytes.size())) {
        ::unlink(path_.c_str());
        throw SystemError("cannot be written", err);
    }
    // The journal's name has to reach the disk as well as its bytes.
    const std::string dir = path_.substr(0, path_.find_last_of('/') + 1);
    adopt(file.release(), ::open(dir.empty() ? "." : dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
}

// Goes on writing at the end of `fd`; `dirFd`, when given, is synced once too.
void ReadingJournal::adopt(int fd, int dirFd)
{
    if (::lseek(fd, 0, SEEK_END) < 0) {
        const int err = errno;
        ::close(fd);
        if (dirFd >= 0)
            ::close(dirFd);
        throw SystemError("cannot be written", err);
    }
    fd_ = fd;
    owned_ = true;
    syncer_ = std::make_unique<Syncer>(fd_, dirFd);
    syncer_->poke();
}

// ---- Entries -------------------------------------------------------------------

void ReadingJournal::entry(uint8_t tag, const uint8_t* record, const uint32_t* row)
{
    const size_t start = buf_.size();
    buf_.push_back(tag);
    Put<int64_t>(buf_, now_());
    if (row)
        Put<uint32_t>(buf_, *row);
    if (record)
        buf_.insert(buf_.end(), record, record + table_->schema().recordSize);
    PutCrc(buf_, start);
    if (buf_.size() >= kFlushBytes)
        flush();
    else if (!flushTimer_.isActive())
        flushTimer_.start();
}

void ReadingJournal::flush()
{
    flushTimer_.stop();
    if (fd_ < 0 || buf_.empty())
        return;
    if (const int err = WriteAll(fd_, buf_.data(), buf_.size())) {
        fail(err);
        return;
    }
    buf_.clear();
    syncer_->poke();
}

void ReadingJournal::fail(int err)
{
    flushTimer_.stop();
    buf_.clear();
    syncer_.reset();
    ::fdatasync(fd_);
    ::close(fd_);
    fd_ = -1;
    notice(QString("The journal %1 of the log cannot be written: %2. It keeps the readings up to now; later readings "
                   "are kept only in memory until Save.")
               .arg(Quoted(path_), QString::fromLocal8Bit(std::strerror(err))));
}

void ReadingJournal::rowAppended(size_t row)
{
    if (fd_ >= 0 && !replaying_)
        entry(kPosted, table_->rowData(row), nullptr);
}

void ReadingJournal::rowsAppended(size_t first, size_t count)
{
    for (size_t i = 0; i < count && fd_ >= 0 && !replaying_; ++i)
        entry(kPosted, table_->rowData(first + i), nullptr);
}

void ReadingJournal::rowAboutToBeRemoved(size_t row)
{
    if (fd_ < 0 || replaying_)
        return;
    const uint32_t r = uint32_t(row);
    entry(kDeleted, table_->rowData(row), &r);
}

void ReadingJournal::tableEmptied()
{
    if (fd_ >= 0 && !replaying_)
        entry(kEmptied, nullptr, nullptr);
}

void ReadingJournal::notice(const QString& text)
{
    if (!text.isEmpty() && onNotice)
        onNotice(text);
}
