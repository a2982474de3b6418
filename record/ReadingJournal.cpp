#include "record/ReadingJournal.h"

#include "record/DiskSync.h"

#include "platform/UniqueFd.h"
#include "record/paradox/ReplacingFile.h"

#include <QDateTime>
#include <QLocale>
#include <QStringList>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fcntl.h>
#include <stdexcept>
#include <stdio.h>
#include <sys/mman.h>
#include <sys/stat.h>
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

template <class T>
void Put(std::vector<uint8_t>& out, T v)
{
    for (size_t i = 0; i < sizeof(T); ++i)
        out.push_back(uint8_t(uint64_t(v) >> (8 * i)));
}

template <class T>
T Get(const uint8_t* p)
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

// The folder of a path ("." for a bare name) and the name in it.
std::string FolderOf(const std::string& path)
{
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? std::string(".") : path.substr(0, slash + 1);
}

std::string NameOf(const std::string& path)
{
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// N when `name` is "<base>.N<tail>" with N a number of 1 to 999.
std::optional<int> Numbered(const std::string& name, const std::string& base, const std::string& tail)
{
    if (name.size() <= base.size() + 1 + tail.size() || name.compare(0, base.size(), base) != 0 ||
        name[base.size()] != '.' || name.compare(name.size() - tail.size(), tail.size(), tail) != 0)
        return std::nullopt;
    const std::string digits = name.substr(base.size() + 1, name.size() - base.size() - 1 - tail.size());
    if (digits.size() > 3 || digits[0] == '0' || !std::all_of(digits.begin(), digits.end(), ::isdigit))
        return std::nullopt;
    return std::stoi(digits);
}

// Every N for which "<path>.N<tail>" is in the folder of `path`, in order.
std::vector<int> NumberedBeside(const std::string& path, const std::string& tail)
{
    std::vector<int> out;
    std::error_code ec;
    const std::string base = NameOf(path);
    for (std::filesystem::directory_iterator it(FolderOf(path), ec), end; !ec && it != end; it.increment(ec))
        if (const std::optional<int> n = Numbered(it->path().filename().string(), base, tail))
            out.push_back(*n);
    std::sort(out.begin(), out.end());
    return out;
}

bool Exists(const std::string& path)
{
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 || errno != ENOENT;
}

UniqueFd OpenFolder(const std::string& path)
{
    return UniqueFd(::open(FolderOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
}

// Whether the kept-aside journal at `path` holds readings that were never
// read into the log: not when it starts with this table's header (its
// entries were brought back when it was kept aside) or holds no more than a
// header.
bool HoldsReadingsNotInLog(const std::string& path, const std::vector<uint8_t>& header)
{
    UniqueFd file(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK));
    struct stat st {};
    if (file.get() < 0 || ::fstat(file.get(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_size == 0)
        return false;
    const size_t size = size_t(st.st_size);
    std::vector<uint8_t> start(std::min<size_t>(size, 64 * 1024));
    if (::pread(file.get(), start.data(), start.size(), 0) != ssize_t(start.size()))
        return true;  // cannot be looked at: assume the worst
    if (std::memcmp(start.data(), header.data(), std::min(start.size(), header.size())) == 0)
        return false;
    const std::optional<size_t> headerEnd = SoundHeaderEnd(start.data(), start.size());
    return !headerEnd || *headerEnd < size;
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

ReadingJournal::ReadingJournal(ReadingTable& table, WallClock now)
    : table_(&table),
      now_(now ? std::move(now) : WallClock([] { return QDateTime::currentMSecsSinceEpoch(); }))
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
        fd_.reset();
        text = QString("The journal %1 of the log cannot be kept: it %2. Readings are still recorded, but those not "
                       "saved are lost if the program does not end by Exit.")
                   .arg(Quoted(path_), QString::fromLocal8Bit(e.what()));
    }
    const QString kept = keptWithReadingsText();
    if (!kept.isEmpty())
        text = text.isEmpty() ? kept : text + "\n\n" + kept;
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
    if (fd_.get() >= 0) {
        if (end == End::Keep)
            ::fdatasync(fd_.get());
        fd_.reset();
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

struct ReadingJournal::Replayed {
    std::vector<std::pair<size_t, size_t>> runs;  // [from, to) of the header and the entries read
    size_t end = 0;                               // where the last entry read ends
    bool damaged = false;                         // more than a cut-off tail could not be read
};

QString ReadingJournal::openOrRecover()
{
    const std::vector<uint8_t> header = Header(table_->schema());
    finishInterrupted();
    // A link in the journal's place could point anywhere: refused.
    UniqueFd file(::open(path_.c_str(), O_RDWR | O_CLOEXEC | O_NOFOLLOW));
    if (file.get() < 0) {
        const int err = errno;
        struct stat st {};
        if (err == ELOOP && ::lstat(path_.c_str(), &st) == 0 && S_ISLNK(st.st_mode))
            throw std::runtime_error("is a symbolic link; the journal must be an ordinary file");
        if (err != ENOENT)
            throw SystemError("cannot be opened", err);
        create(header);
        return {};
    }
    struct stat st {};
    if (::fstat(file.get(), &st) != 0 || !S_ISREG(st.st_mode))
        throw std::runtime_error("is not a plain file");
    const size_t size = size_t(st.st_size);
    const Mapping map(file.get(), size);
    const uint8_t* data = map.data();
    if (size < header.size() && (size == 0 || std::memcmp(data, header.data(), size) == 0)) {
        // Made, but its header never reached it whole.
        if (::ftruncate(file.get(), 0) != 0)
            throw SystemError("cannot be written", errno);
        if (const int err = WriteAll(file.get(), header.data(), header.size()))
            throw SystemError("cannot be written", err);
        adopt(std::move(file), UniqueFd());
        return recoveryText(false);
    }

    if (size < header.size() || std::memcmp(data, header.data(), header.size()) != 0) {
        // Not this table's journal: kept aside whole, and a new one started.
        QString why;
        if (size >= kFixedHeader && std::memcmp(data, kMagic, sizeof kMagic) == 0 && Get<uint16_t>(data + 8) > kVersion)
            why = QString("was written by a newer version of the program (journal version %1), so this version "
                          "cannot add its readings to the log")
                      .arg(Get<uint16_t>(data + 8));
        else if (SoundHeaderEnd(data, size))
            why = "belongs to a table with other fields, so its readings cannot be added to this log";
        else
            why = "is damaged at its start, so its readings cannot be read";
        file.reset();
        recovery_.keptAs = keepAside();
        step(RecoveryStep::OtherKeptAside);
        create(header);
        return QString("The journal %1 beside the log %2. It was kept as %3, and a new journal was started. Move it "
                       "out of the log's folder or delete it once it is not needed; until then every open of the log "
                       "mentions it.")
            .arg(Quoted(path_), why, Quoted(recovery_.keptAs));
    }

    const Replayed read = replay(data, size, header.size());
    if (read.damaged) {
        // Kept aside whole; the journal goes on with the entries that were read.
        replaceDamaged(data, read);
    } else {
        if (read.end < size && ::ftruncate(file.get(), off_t(read.end)) != 0)
            throw SystemError("cannot be cut back to its last whole entry", errno);
        adopt(std::move(file), UniqueFd());
    }
    return recoveryText(read.damaged);
}

// A recovery killed before it was done leaves "<journal>.N.new": complete
// once the damaged journal has left the journal's name (it is renamed only
// after the new one was synced), so then it takes that name; while the
// damaged journal is still there, it is recovered again and the leftover goes.
void ReadingJournal::finishInterrupted()
{
    std::vector<int> left = NumberedBeside(path_, ".new");
    if (left.empty())
        return;
    if (!Exists(path_)) {
        const std::string kept = path_ + "." + std::to_string(left.back());
        if (::rename((kept + ".new").c_str(), path_.c_str()) != 0)
            throw SystemError("cannot be put back in place after a recovery that was cut short", errno);
        if (const UniqueFd dir = OpenFolder(path_); dir.get() >= 0)
            ::fsync(dir.get());
        recovery_.finishedInterrupted = true;
        recovery_.keptAs = kept;
        left.pop_back();
    }
    for (const int n : left)
        ::unlink((path_ + "." + std::to_string(n) + ".new").c_str());
}

// Keeps the damaged journal at path_ aside and puts a journal of the entries
// that were read in its place, so that a kill at any moment loses nothing.
void ReadingJournal::replaceDamaged(const uint8_t* data, const Replayed& read)
{
    int n = 1;
    while (n < 1000 && (Exists(path_ + "." + std::to_string(n)) || Exists(path_ + "." + std::to_string(n) + ".new")))
        ++n;
    if (n == 1000)
        throw std::runtime_error("cannot be kept aside: a thousand journals are kept there already");
    const std::string kept = path_ + "." + std::to_string(n);
    const std::string fresh = kept + ".new";
    UniqueFd out(::open(fresh.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0666));
    if (out.get() < 0)
        throw SystemError("cannot be written again", errno);
    auto failed = [&](const char* what, int err) {
        ::unlink(fresh.c_str());
        throw SystemError(what, err);
    };
    for (size_t i = 0; i < read.runs.size(); ++i) {
        const auto [from, to] = read.runs[i];
        if (const int err = WriteAll(out.get(), data + from, to - from))
            failed("cannot be written again", err);
        if (i == 0)
            step(RecoveryStep::NewJournalPartWritten);
    }
    if (::fdatasync(out.get()) != 0)
        failed("cannot be written again", errno);
    step(RecoveryStep::NewJournalWritten);
    if (::renameat2(AT_FDCWD, path_.c_str(), AT_FDCWD, kept.c_str(), RENAME_NOREPLACE) != 0)
        failed("cannot be kept aside", errno);
    recovery_.keptAs = kept;
    step(RecoveryStep::DamagedKeptAside);
    // From here the new journal is the only copy of the entries read: it
    // stays, and the next open puts it in place if this rename fails.
    if (::rename(fresh.c_str(), path_.c_str()) != 0)
        throw SystemError("cannot be put in place", errno);
    step(RecoveryStep::NewJournalInPlace);
    adopt(std::move(out), OpenFolder(path_));
}

// Replays the entries of data[from, size) into the table: every one whose
// checksum holds, in order. After an entry that does not, the reading goes on
// at the next place where a whole sound entry starts, unless what is left is
// a cut-off tail or zeros, which end the journal.
ReadingJournal::Replayed ReadingJournal::replay(const uint8_t* data, size_t size, size_t from)
{
    const paradox::Schema& schema = table_->schema();
    const uint32_t recordSize = schema.recordSize;
    const int noField = schema.find("No");
    const paradox::Field* no = noField >= 0 ? &schema.fields[size_t(noField)] : nullptr;
    std::vector<const uint8_t*> posts;  // posted since the last deletion or New, not yet in the table
    std::vector<int64_t> postTimes;     // when each of them was recorded
    std::vector<int64_t> times;         // when each recovered record now in the log was recorded
    auto postPending = [&] {
        table_->appendRows(posts, postTimes);
        posts.clear();
        postTimes.clear();
    };
    // The size of the whole, sound entry at p; 0 when there is none.
    auto wholeEntry = [&](size_t p) -> size_t {
        const size_t n = EntrySize(data[p], recordSize);
        return n != 0 && p + n <= size && Get<uint32_t>(data + p + n - 4) == Crc(data + p, n - 4) ? n : 0;
    };

    struct Replaying {
        bool& flag;
        explicit Replaying(bool& f) : flag(f) { flag = true; }
        ~Replaying() { flag = false; }
    } replaying(replaying_);

    Replayed read;
    size_t pos = from;
    size_t runStart = 0;  // the header is the first run
    while (pos < size) {
        const uint8_t* e = data + pos;
        const size_t n = wholeEntry(pos);
        if (n == 0) {
            // A cut-off last entry, or zeros where the disk had no time to
            // write, end the journal; anything else is damage, skipped.
            const size_t tagged = EntrySize(e[0], recordSize);
            if ((tagged != 0 && pos + tagged >= size) || AllZero(e, size - pos))
                break;
            read.runs.emplace_back(runStart, pos);
            size_t next = pos + 1;
            while (next < size && wholeEntry(next) == 0)
                ++next;
            read.damaged = true;
            ++recovery_.damagedPlaces;
            recovery_.bytesSkipped += next - pos;
            pos = runStart = next;
            continue;
        }
        const int64_t when = Get<int64_t>(e + 1);
        if (e[0] == kPosted) {
            posts.push_back(e + 9);
            postTimes.push_back(when);
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
    if (pos > runStart)
        read.runs.emplace_back(runStart, pos);
    read.end = pos;
    postPending();
    recovery_.readings = times.size();
    if (!times.empty()) {
        recovery_.firstMs = times.front();
        recovery_.lastMs = times.back();
    }
    return read;
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
    if (damaged && r.entries > 0) {
        const size_t perEntry = PostEntrySize(table_->schema().recordSize);
        text += QString(" The journal is damaged in %1 place(s), %2 bytes in all (about %3 entries), which were "
                        "skipped; every entry after them that could be read is back. The whole journal was kept as %4.")
                    .arg(r.damagedPlaces)
                    .arg(r.bytesSkipped)
                    .arg((r.bytesSkipped + perEntry - 1) / perEntry)
                    .arg(Quoted(r.keptAs));
    } else if (damaged) {
        text = QString("The journal %1 of the log is damaged after its start, and nothing could be read from it. It "
                       "was kept as %2, and a new journal was started.")
                   .arg(Quoted(path_), Quoted(r.keptAs));
    } else if (r.finishedInterrupted) {
        text += QString(" The recovery of the damaged journal, kept as %1, was cut short when the program last ended "
                        "and has been completed now.")
                    .arg(Quoted(r.keptAs));
    }
    return text.trimmed();
}

// What is to be said of the journals kept aside at earlier opens that hold
// readings that are not in the log.
QString ReadingJournal::keptWithReadingsText()
{
    const std::vector<uint8_t> header = Header(table_->schema());
    QStringList names;
    for (const int n : NumberedBeside(path_, "")) {
        const std::string kept = path_ + "." + std::to_string(n);
        if (kept != recovery_.keptAs && HoldsReadingsNotInLog(kept, header)) {
            recovery_.keptWithReadings.push_back(kept);
            names << Quoted(kept);
        }
    }
    if (names.isEmpty())
        return {};
    if (names.size() == 1)
        return QString("The journal %1, kept aside at an earlier open, holds readings that are not in this log: they "
                       "could not be read into it. Move it out of the log's folder or delete it once it is not "
                       "needed; until then every open of the log mentions it.")
            .arg(names[0]);
    return QString("The journals %1, kept aside at earlier opens, hold readings that are not in this log: they could "
                   "not be read into it. Move them out of the log's folder or delete them once they are not needed; "
                   "until then every open of the log mentions them.")
        .arg(names.join(", "));
}

void ReadingJournal::step(RecoveryStep s)
{
    if (onRecoveryStep)
        onRecoveryStep(s);
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
    adopt(std::move(file), UniqueFd(::open(dir.empty() ? "." : dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)));
}

// Goes on writing at the end of `fd`; `dirFd`, when given, is synced once too.
void ReadingJournal::adopt(UniqueFd fd, UniqueFd dirFd)
{
    if (::lseek(fd.get(), 0, SEEK_END) < 0)
        throw SystemError("cannot be written", errno);
    fd_ = std::move(fd);
    owned_ = true;
    syncer_ = std::make_unique<DiskSync>();
    syncer_->follow(UniqueFd(::dup(fd_.get())));
    if (dirFd.get() >= 0)
        syncer_->finish(std::move(dirFd));
}

// ---- Entries -------------------------------------------------------------------

void ReadingJournal::entry(uint8_t tag, const uint8_t* record, const uint32_t* row, int64_t when)
{
    const size_t start = buf_.size();
    buf_.push_back(tag);
    Put<int64_t>(buf_, when == ReadingTable::kUndated ? now_() : when);
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
    if (fd_.get() < 0 || buf_.empty())
        return;
    if (const int err = WriteAll(fd_.get(), buf_.data(), buf_.size())) {
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
    ::fdatasync(fd_.get());
    fd_.reset();
    notice(QString("The journal %1 of the log cannot be written: %2. It keeps the readings up to now; later readings "
                   "are kept only in memory until Save.")
               .arg(Quoted(path_), QString::fromLocal8Bit(std::strerror(err))));
}

void ReadingJournal::rowAppended(size_t row)
{
    if (fd_.get() >= 0 && !replaying_)
        entry(kPosted, table_->rowData(row), nullptr, table_->recordStamp(row));
}

void ReadingJournal::rowsAppended(size_t first, size_t count)
{
    for (size_t i = 0; i < count && fd_.get() >= 0 && !replaying_; ++i)
        entry(kPosted, table_->rowData(first + i), nullptr, table_->recordStamp(first + i));
}

void ReadingJournal::rowAboutToBeRemoved(size_t row)
{
    if (fd_.get() < 0 || replaying_)
        return;
    const uint32_t r = uint32_t(row);
    entry(kDeleted, table_->rowData(row), &r);
}

void ReadingJournal::tableEmptied()
{
    if (fd_.get() >= 0 && !replaying_)
        entry(kEmptied, nullptr, nullptr);
}

void ReadingJournal::notice(const QString& text)
{
    if (!text.isEmpty() && onNotice)
        onNotice(text);
}
