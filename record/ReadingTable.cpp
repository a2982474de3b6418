#include "record/ReadingTable.h"

#include "meter/Convert.h"
#include "record/paradox/ReplacingFile.h"

#include <QDate>
#include <QLocale>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <functional>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;
using paradox::Field;
using paradox::ParadoxError;

namespace {

const char* const kClosed = "Cannot perform this operation on a closed dataset";
const char* const kOpen = "Cannot perform this operation on an open dataset";
const char* const kNotEditing = "Dataset not in edit or insert mode";

constexpr int kMsPerDay = 86400000;

// The path a table name stands for: ".DB" added to a name without extension,
// relative names taken from the working directory.
fs::path tablePath(const std::string& name)
{
    fs::path p(name);
    if (!p.has_extension())
        p += ".DB";
    if (p.is_relative())
        p = fs::current_path() / p;
    return p;
}

// The file of that name in its folder, matched without regard to case when
// it does not exist as written (the first match in name order wins): tables
// and memo files made on systems whose file names do not count case.
fs::path withNameIgnoringCase(const fs::path& p)
{
    std::error_code ec;
    if (fs::exists(p, ec))
        return p;
    const fs::path dir = p.has_parent_path() ? p.parent_path() : fs::path(".");
    std::vector<fs::path> matches;
    for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec))
        if (paradox::asciiEqualNoCase(it->path().filename().string(), p.filename().string()))
            matches.push_back(it->path());
    if (matches.empty())
        return p;
    std::sort(matches.begin(), matches.end());
    return matches.front();
}

// The .MB file that holds a table's memo and blob data, in whatever case it exists.
fs::path memoPathFor(const fs::path& table)
{
    fs::path mb = table;
    mb.replace_extension(".MB");
    return withNameIgnoringCase(mb);
}

void copyFileReplacing(const fs::path& from, const fs::path& to)
{
    fs::path tmp = to;
    tmp += ".tmp" + std::to_string(::getpid());
    std::error_code ec;
    fs::copy_file(from, tmp, fs::copy_options::overwrite_existing, ec);
    if (!ec)
        fs::rename(tmp, to, ec);
    if (ec) {
        fs::remove(tmp);
        throw ParadoxError("Cannot copy memo file '" + from.string() + "' to '" + to.string() + "': " + ec.message());
    }
}

// 8-bit text of a locale's output; its narrow and thin spaces become plain ones.
std::string latin1(QString s)
{
    s.replace(QChar(0x202F), u' ').replace(QChar(0x2009), u' ');
    return s.toLatin1().toStdString();
}

void putStamp(uint8_t* to, int64_t ms)
{
    std::memcpy(to, &ms, sizeof ms);
}

int64_t getStamp(const uint8_t* from)
{
    int64_t ms;
    std::memcpy(&ms, from, sizeof ms);
    return ms;
}

QDate dateOfDay(int64_t day)
{
    return QDate::fromJulianDay(day + paradox::kJulianDayOfDayZero);
}

}  // namespace

QString timeFormatWithoutZone(const QString& longFormat)
{
    QString out;
    bool quoted = false;
    for (QChar c : longFormat) {
        if (c == u'\'')
            quoted = !quoted;
        if (!quoted && c == u't')
            continue;
        out += c;
    }
    return out.simplified();
}

TimeTexts::TimeTexts()
    : timeFormat_(timeFormatWithoutZone(locale_.timeFormat(QLocale::LongFormat))),
      keepsLast_(!timeFormat_.contains(u'z'))
{
}

std::string TimeTexts::date(int64_t day) const
{
    return latin1(locale_.toString(dateOfDay(day), QLocale::ShortFormat));
}

std::string TimeTexts::timeOfDay(int32_t ms) const
{
    if (!keepsLast_)
        return latin1(locale_.toString(QTime::fromMSecsSinceStartOfDay(ms), timeFormat_));
    if (ms / 1000 != lastSecond_) {
        lastSecond_ = ms / 1000;
        lastText_ = latin1(locale_.toString(QTime::fromMSecsSinceStartOfDay(ms), timeFormat_));
    }
    return lastText_;
}

std::string TimeTexts::timestamp(double value) const
{
    const auto ms = int64_t(value);
    const QDate d = dateOfDay(ms / kMsPerDay);
    const QTime t = QTime::fromMSecsSinceStartOfDay(int(ms % kMsPerDay));
    return latin1(locale_.toString(d, QLocale::ShortFormat) + u' ' + locale_.toString(t, timeFormat_));
}

ReadingTable::ReadingTable() = default;

ReadingTable::~ReadingTable()
{
    notify([](ReadingTableObserver* o) { o->tableDestroyed(); });
}

std::string ReadingTable::pathFor(const std::string& name)
{
    // A bare name is the log of the working directory, whatever the case of
    // its file name; a path is taken exactly as it is written.
    const bool bare = !fs::path(name).has_parent_path();
    const fs::path p = tablePath(name);
    return (bare ? withNameIgnoringCase(p) : p).string();
}

void ReadingTable::setTableName(const std::string& name)
{
    if (isOpen())
        throw ParadoxError(kOpen);
    name_ = name;
}

void ReadingTable::requireOpen() const
{
    if (!isOpen())
        throw ParadoxError(kClosed);
}

template <class F>
void ReadingTable::notify(F f)
{
    // By index, as an observer may register another while being told. One
    // that leaves the list meanwhile is only blanked out (see removeObserver),
    // so no other is skipped; the blanks go when the outermost telling ends.
    struct Telling {
        ReadingTable& t;
        explicit Telling(ReadingTable& table) : t(table) { ++t.notifying_; }
        ~Telling()
        {
            if (--t.notifying_ == 0)
                std::erase(t.observers_, nullptr);
        }
    } telling(*this);
    for (size_t i = 0; i < observers_.size(); ++i)
        if (ReadingTableObserver* o = observers_[i])
            f(o);
}

namespace {

// Opens the table file for reading and takes the exclusive lock on it.
UniqueFd openExclusive(const std::string& path)
{
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));  // no wait on a FIFO
    if (fd.get() < 0)
        throw ParadoxError("Cannot open table '" + path + "': " + std::strerror(errno));
    if (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) {
        int err = errno;
        if (err == EWOULDBLOCK)
            throw ParadoxError("Table '" + path + "' is busy: it is open exclusively elsewhere");
        throw ParadoxError("Cannot lock table '" + path + "': " + std::strerror(err));
    }
    return fd;
}

}  // namespace

void ReadingTable::open()
{
    if (isOpen())
        return;
    if (name_.empty())
        throw ParadoxError("No table name is set");
    const std::string path = pathFor(name_);
    UniqueFd fd = openExclusive(path);
    paradox::Table t = paradox::readTableFd(fd.get(), path);
    adopt(std::move(fd), path, std::move(t));
}

void ReadingTable::switchTo(const std::string& name, const std::function<void()>& beforeGivingUp)
{
    if (!isOpen()) {
        setTableName(name);
        open();
        return;
    }
    const std::string path = pathFor(name);
    struct stat chosen {
    }, current{};
    if (::stat(path.c_str(), &chosen) == 0 && ::fstat(fd_.get(), &current) == 0 && chosen.st_dev == current.st_dev && chosen.st_ino == current.st_ino) {
        // The file this handle holds, under this or another name: read anew.
        paradox::Table t = paradox::readTableFd(fd_.get(), path);
        if (beforeGivingUp)
            beforeGivingUp();
        name_ = name;
        adopt(UniqueFd(), path, std::move(t));
        return;
    }
    UniqueFd fd = openExclusive(path);
    paradox::Table t = paradox::readTableFd(fd.get(), path);
    if (beforeGivingUp)
        beforeGivingUp();
    name_ = name;
    adopt(std::move(fd), path, std::move(t));
}

void ReadingTable::adopt(UniqueFd fd, const std::string& path, paradox::Table t)
{
    if (isOpen())
        notify([](ReadingTableObserver* o) { o->tableAboutToClose(); });  // the old table, its lock still held
    notify([](ReadingTableObserver* o) { o->tableAboutToReset(); });
    if (fd.get() >= 0)
        fd_ = std::move(fd);  // releases the old table's lock
    path_ = path;
    table_ = std::move(t);
    stamps_.clear();
    for (size_t i = 0; i < table_.rows.size(); ++i)
        putStamp(stamps_.append(), kUndated);
    appending_ = false;
    edit_.clear();
    times_ = TimeTexts();
    cur_ = table_.rows.empty() ? -1 : 0;
    eof_ = table_.rows.empty();
    notify([](ReadingTableObserver* o) { o->tableReset(); });
    notify([](ReadingTableObserver* o) { o->currentRecordChanged(); });
    notify([](ReadingTableObserver* o) { o->tableOpened(); });
}

void ReadingTable::close()
{
    if (!isOpen())
        return;
    notify([](ReadingTableObserver* o) { o->tableAboutToClose(); });
    notify([](ReadingTableObserver* o) { o->tableAboutToReset(); });
    fd_.reset();  // releases the lock
    path_.clear();
    table_ = paradox::Table{paradox::Schema{}, paradox::RowStore(1)};
    stamps_.clear();
    appending_ = false;
    edit_.clear();
    cur_ = -1;
    eof_ = true;
    notify([](ReadingTableObserver* o) { o->tableReset(); });
}

int ReadingTable::fieldCount() const
{
    requireOpen();
    return int(table_.schema.fields.size());
}

std::string ReadingTable::fieldName(int index) const
{
    requireOpen();
    if (index < 0 || index >= int(table_.schema.fields.size()))
        return {};
    return table_.schema.fields[size_t(index)].name;
}

int ReadingTable::fieldIndex(std::string_view name) const
{
    requireOpen();
    return table_.schema.find(name);
}

const Field& ReadingTable::field(std::string_view name) const
{
    requireOpen();
    int i = table_.schema.find(name);
    if (i < 0)
        throw ParadoxError("Field '" + std::string(name) + "' not found");
    return table_.schema.fields[size_t(i)];
}

size_t ReadingTable::recordCount() const
{
    requireOpen();
    return table_.rows.size();
}

// ---- Appending ------------------------------------------------------------------

void ReadingTable::append()
{
    requireOpen();
    postIfAppending();
    edit_.assign(table_.schema.recordSize, 0);
    editStamp_ = kUndated;
    appending_ = true;
}

void ReadingTable::setRecordStamp(int64_t msSinceEpoch)
{
    requireOpen();
    if (!appending_)
        throw ParadoxError(kNotEditing);
    editStamp_ = msSinceEpoch;
}

int64_t ReadingTable::recordStamp(size_t row) const
{
    return row < stamps_.size() ? getStamp(stamps_.row(row)) : kUndated;
}

void ReadingTable::setFieldString(std::string_view name, std::string_view text)
{
    const Field& f = field(name);
    if (!appending_)
        throw ParadoxError(kNotEditing);
    uint8_t* row = edit_.data();
    switch (f.type) {
    case paradox::ftAlpha:
        paradox::setText(row, f, text);
        return;
    case paradox::ftShort:
    case paradox::ftLong:
    case paradox::ftAutoInc:
        if (text.empty())
            paradox::clearField(row, f);
        else
            setFieldInteger(name, StrToInt(text));
        return;
    case paradox::ftNumber:
    case paradox::ftCurrency: {
        if (text.empty()) {
            paradox::clearField(row, f);
            return;
        }
        double v = 0;
        auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
        if (ec != std::errc() || end != text.data() + text.size() || !std::isfinite(v))
            throw ParadoxError("'" + std::string(text) + "' is not a valid floating point value");
        paradox::setFloat(row, f, v);
        return;
    }
    case paradox::ftLogical:
        if (paradox::asciiEqualNoCase(text, "true"))
            paradox::setLogical(row, f, true);
        else if (paradox::asciiEqualNoCase(text, "false"))
            paradox::setLogical(row, f, false);
        else if (text.empty())
            paradox::clearField(row, f);
        else
            throw ParadoxError("'" + std::string(text) + "' is not a valid boolean value");
        return;
    default:
        throw ParadoxError("Field '" + f.name + "' cannot hold a text");
    }
}

void ReadingTable::setFieldInteger(std::string_view name, int64_t value)
{
    const Field& f = field(name);
    if (!appending_)
        throw ParadoxError(kNotEditing);
    uint8_t* row = edit_.data();
    auto outOfRange = [&] {
        return ParadoxError(std::to_string(value) + " is not a valid value for field '" + f.name + "'");
    };
    switch (f.type) {
    case paradox::ftShort:
        if (value < -32767 || value > 32767)
            throw outOfRange();
        paradox::setInteger(row, f, int32_t(value));
        return;
    case paradox::ftLong:
    case paradox::ftAutoInc:
        // The lowest 32-bit value shares its bytes with a blank field.
        if (value < -2147483647LL || value > 2147483647LL)
            throw outOfRange();
        paradox::setInteger(row, f, int32_t(value));
        return;
    case paradox::ftNumber:
    case paradox::ftCurrency:
        paradox::setFloat(row, f, double(value));
        return;
    case paradox::ftAlpha:
        paradox::setText(row, f, std::to_string(value));
        return;
    case paradox::ftLogical:
        paradox::setLogical(row, f, value != 0);
        return;
    default:
        throw ParadoxError("Field '" + f.name + "' cannot hold a number");
    }
}

void ReadingTable::setFieldFloat(std::string_view name, double value)
{
    const Field& f = field(name);
    if (!appending_)
        throw ParadoxError(kNotEditing);
    if (!std::isfinite(value))
        throw ParadoxError("Invalid floating point value for field '" + f.name + "'");
    switch (f.type) {
    case paradox::ftNumber:
    case paradox::ftCurrency:
        paradox::setFloat(edit_.data(), f, value);
        return;
    case paradox::ftShort:
    case paradox::ftLong:
    case paradox::ftAutoInc:
        if (std::fabs(value) > 2147483647.0)
            throw ParadoxError(QString::number(value, 'g', 15).toStdString() + " is not a valid value for field '" + f.name + "'");
        setFieldInteger(name, std::llround(value));
        return;
    case paradox::ftAlpha:
        paradox::setText(edit_.data(), f, QString::number(value, 'g', 15).toStdString());
        return;
    default:
        throw ParadoxError("Field '" + f.name + "' cannot hold a number");
    }
}

void ReadingTable::setFieldTime(std::string_view name, const QTime& time)
{
    const Field& f = field(name);
    if (!appending_)
        throw ParadoxError(kNotEditing);
    if (!time.isValid())
        throw ParadoxError("Invalid time for field '" + f.name + "'");
    const int ms = time.msecsSinceStartOfDay();
    switch (f.type) {
    case paradox::ftTime:
        paradox::setInteger(edit_.data(), f, ms);
        return;
    case paradox::ftTimestamp: {
        // A time without a date lies on the day-zero date of the time scale
        // the original platform uses, 30 December 1899.
        const double day = double(QDate(1899, 12, 30).toJulianDay() - paradox::kJulianDayOfDayZero);
        paradox::setFloat(edit_.data(), f, day * kMsPerDay + ms);
        return;
    }
    case paradox::ftAlpha:
        paradox::setText(edit_.data(), f, latin1(time.toString(u"HH:mm:ss")));
        return;
    default:
        throw ParadoxError("Field '" + f.name + "' cannot hold a time");
    }
}

void ReadingTable::setFieldNull(std::string_view name)
{
    const Field& f = field(name);
    if (!appending_)
        throw ParadoxError(kNotEditing);
    paradox::clearField(edit_.data(), f);
}

void ReadingTable::post()
{
    requireOpen();
    if (!appending_)
        return;
    const size_t row = table_.rows.size();
    notify([row](ReadingTableObserver* o) { o->rowAboutToBeAppended(row); });
    std::memcpy(table_.rows.append(), edit_.data(), edit_.size());
    putStamp(stamps_.append(), editStamp_);
    appending_ = false;
    cur_ = (long long)row;
    eof_ = false;
    notify([row](ReadingTableObserver* o) { o->rowAppended(row); });
    notify([](ReadingTableObserver* o) { o->currentRecordChanged(); });
}

void ReadingTable::cancel()
{
    appending_ = false;
}

void ReadingTable::postIfAppending()
{
    if (appending_)
        post();
}

void ReadingTable::appendRows(std::span<const uint8_t* const> rows, std::span<const int64_t> stamps)
{
    requireOpen();
    postIfAppending();
    if (rows.empty())
        return;
    notify([](ReadingTableObserver* o) { o->tableAboutToReset(); });
    const size_t first = table_.rows.size();
    for (size_t i = 0; i < rows.size(); ++i) {
        std::memcpy(table_.rows.append(), rows[i], table_.schema.recordSize);
        putStamp(stamps_.append(), i < stamps.size() ? stamps[i] : kUndated);
    }
    cur_ = (long long)table_.rows.size() - 1;
    eof_ = false;
    notify([](ReadingTableObserver* o) { o->tableReset(); });
    notify([](ReadingTableObserver* o) { o->currentRecordChanged(); });
    notify([first, n = rows.size()](ReadingTableObserver* o) { o->rowsAppended(first, n); });
}

// ---- Removing -------------------------------------------------------------------

void ReadingTable::deleteRecord(size_t row)
{
    requireOpen();
    postIfAppending();
    const size_t n = table_.rows.size();
    if (n == 0)
        throw ParadoxError("Cannot perform this operation on an empty dataset");
    if (row >= n)
        throw ParadoxError("Record " + std::to_string(row + 1) + " does not exist");
    notify([row](ReadingTableObserver* o) { o->rowAboutToBeRemoved(row); });
    table_.rows.erase(row);
    stamps_.erase(row);
    if (cur_ > (long long)row)
        --cur_;
    if (cur_ >= (long long)table_.rows.size())
        cur_ = (long long)table_.rows.size() - 1;
    eof_ = table_.rows.empty();
    notify([row](ReadingTableObserver* o) { o->rowRemoved(row); });
    notify([](ReadingTableObserver* o) { o->currentRecordChanged(); });
}

void ReadingTable::empty()
{
    requireOpen();
    appending_ = false;
    notify([](ReadingTableObserver* o) { o->tableAboutToReset(); });
    table_.rows.clear();
    stamps_.clear();
    cur_ = -1;
    eof_ = true;
    notify([](ReadingTableObserver* o) { o->tableReset(); });
    notify([](ReadingTableObserver* o) { o->currentRecordChanged(); });
    notify([](ReadingTableObserver* o) { o->tableEmptied(); });
}

// ---- The walk -------------------------------------------------------------------

void ReadingTable::first()
{
    requireOpen();
    postIfAppending();
    cur_ = table_.rows.empty() ? -1 : 0;
    eof_ = table_.rows.empty();
    notify([](ReadingTableObserver* o) { o->currentRecordChanged(); });
}

void ReadingTable::next()
{
    requireOpen();
    postIfAppending();
    if (cur_ + 1 < (long long)table_.rows.size()) {
        ++cur_;
        eof_ = false;
        notify([](ReadingTableObserver* o) { o->currentRecordChanged(); });
    } else {
        eof_ = true;
    }
}

bool ReadingTable::eof() const
{
    requireOpen();
    return eof_;
}

long long ReadingTable::currentRecord() const
{
    requireOpen();
    return cur_;
}

void ReadingTable::setCurrentRecord(size_t row)
{
    requireOpen();
    if (row >= table_.rows.size())
        return;
    cur_ = (long long)row;
    eof_ = false;
    notify([](ReadingTableObserver* o) { o->currentRecordChanged(); });
}

// ---- Text forms -----------------------------------------------------------------

namespace {

// The text form of a field: see ReadingTable::fieldText.
std::string textForm(const uint8_t* row, const Field& f, const TimeTexts& times)
{
    using namespace paradox;
    switch (f.type) {
    case ftAlpha:
    case ftMemo:
    case ftFmtMemo:
        return getText(row, f);
    case ftShort:
    case ftLong:
    case ftAutoInc:
        if (auto v = getInteger(row, f))
            return std::to_string(*v);
        return {};
    case ftNumber:
    case ftCurrency:
        if (auto v = getFloat(row, f))
            return latin1(QString::number(*v, 'g', 15));
        return {};
    case ftLogical:
        if (auto v = getLogical(row, f))
            return *v ? "True" : "False";
        return {};
    case ftDate:
        if (auto v = getInteger(row, f))
            return times.date(*v);
        return {};
    case ftTime:
        if (auto v = getInteger(row, f); v && *v >= 0 && *v < kMsPerDay)
            return times.timeOfDay(*v);
        return {};
    case ftTimestamp:
        if (auto v = getFloat(row, f); v && *v >= 0 && *v < 4e14)
            return times.timestamp(*v);
        return {};
    default:
        return {};
    }
}

}  // namespace

std::string ReadingTable::textOf(const uint8_t* row, const Field& f) const
{
    return textForm(row, f, times_);
}

std::string ReadingTable::fieldText(std::string_view name) const
{
    const Field& f = field(name);
    if (cur_ < 0 || cur_ >= (long long)table_.rows.size())
        return {};
    return textOf(table_.rows.row(size_t(cur_)), f);
}

std::string ReadingTable::cellText(size_t row, int column) const
{
    requireOpen();
    if (row >= table_.rows.size() || column < 0 || column >= int(table_.schema.fields.size()))
        return {};
    return textOf(table_.rows.row(row), table_.schema.fields[size_t(column)]);
}

RecordsCopy ReadingTable::copyRecords(size_t count) const
{
    requireOpen();
    count = std::min(count, table_.rows.size());
    paradox::RowStore rows(table_.rows.rowSize());
    for (size_t i = 0; i < count; ++i)
        std::memcpy(rows.append(), table_.rows.row(i), table_.rows.rowSize());
    return RecordsCopy(table_.schema, std::move(rows), times_);
}

std::string RecordsCopy::cellText(size_t row, int column) const
{
    if (row >= rows_.size() || column < 0 || column >= int(schema_.fields.size()))
        return {};
    return textForm(rows_.row(row), schema_.fields[size_t(column)], times_);
}

// ---- Copy and index -------------------------------------------------------------

void ReadingTable::copyTo(const std::string& target)
{
    requireOpen();
    postIfAppending();
    const fs::path to = tablePath(target);
    // A table at the target that someone has open stays as it is, the one
    // this handle has open included, under any name.
    ReplacingFile out(to.string());
    bool hasBlobs = std::any_of(table_.schema.fields.begin(), table_.schema.fields.end(),
                                [](const Field& f) { return paradox::isBlobType(f.type); });
    if (hasBlobs) {
        fs::path mb = memoPathFor(path_);
        std::error_code ec;
        if (!fs::exists(mb, ec))
            throw ParadoxError("Cannot copy table '" + path_ + "': its memo file '" + mb.string() + "' is missing");
        fs::path toMb = to;
        toMb.replace_extension(".MB");
        copyFileReplacing(mb, toMb);
    }
    paradox::writeTableFd(out.fd(), table_.schema, table_.rows, to.string());
    out.commit();
}

void ReadingTable::addIndex(std::string_view fieldName)
{
    field(fieldName);
}

// ---- Layout and observers --------------------------------------------------------

const paradox::Schema& ReadingTable::schema() const
{
    requireOpen();
    return table_.schema;
}

const uint8_t* ReadingTable::rowData(size_t row) const
{
    requireOpen();
    if (row >= table_.rows.size())
        throw ParadoxError("Record " + std::to_string(row + 1) + " does not exist");
    return table_.rows.row(row);
}

void ReadingTable::addObserver(ReadingTableObserver* o)
{
    if (std::find(observers_.begin(), observers_.end(), o) == observers_.end())
        observers_.push_back(o);
}

void ReadingTable::removeObserver(ReadingTableObserver* o)
{
    if (notifying_ > 0)
        std::replace(observers_.begin(), observers_.end(), o, static_cast<ReadingTableObserver*>(nullptr));
    else
        std::erase(observers_, o);
}
