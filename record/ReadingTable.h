#pragma once
// The reading log's table handle: a Paradox table opened exclusively, with
// every change (appended, deleted, emptied records) held as a pending change
// in memory and never written back to the file. Everything that reads through
// the handle sees the table together with its pending changes.
#include "platform/UniqueFd.h"
#include "record/paradox/ParadoxTable.h"

#include <QLocale>
#include <QString>
#include <QTime>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// Learns of changes to the rows of a ReadingTable, before and after each,
// so that a grid model can follow without polling.
class ReadingTableObserver {
public:
    virtual ~ReadingTableObserver() = default;
    // Open, close and empty replace every row.
    virtual void tableAboutToReset() {}
    virtual void tableReset() {}
    virtual void rowAboutToBeAppended(size_t /*row*/) {}
    virtual void rowAppended(size_t /*row*/) {}
    virtual void rowAboutToBeRemoved(size_t /*row*/) {}
    virtual void rowRemoved(size_t /*row*/) {}
    // The current record moved (walk, post, delete, open).
    virtual void currentRecordChanged() {}
    // The table is going away; drop every reference to it.
    virtual void tableDestroyed() {}
    // open() has read the table and positioned it; close() is about to drop
    // its records and release the file (the exclusive lock still holds).
    virtual void tableOpened() {}
    virtual void tableAboutToClose() {}
    // empty() removed every record (after tableReset).
    virtual void tableEmptied() {}
    // appendRows() added `count` records from `first` on (after tableReset).
    virtual void rowsAppended(size_t /*first*/, size_t /*count*/) {}
};

// The texts of dates and times of day in the default locale as it stood when
// made: short dates, and times in the long format without its zone. A log
// holds several readings a second and a time's text shows whole seconds, so
// the last time text is kept for the records that follow.
class TimeTexts {
public:
    TimeTexts();
    std::string date(int64_t day) const;
    std::string timeOfDay(int32_t ms) const;
    std::string timestamp(double ms) const;

private:
    QLocale locale_;
    QString timeFormat_;
    bool keepsLast_ = true;  // false when the format shows milliseconds
    mutable int32_t lastSecond_ = -1;
    mutable std::string lastText_;
};

// The first records of a table as they stood when copied, with their text
// forms; nothing done to the table afterwards changes the copy.
class RecordsCopy {
public:
    size_t size() const { return rows_.size(); }
    std::string cellText(size_t row, int column) const;  // "" outside the copy

private:
    friend class ReadingTable;
    RecordsCopy(paradox::Schema schema, paradox::RowStore rows, TimeTexts times)
        : schema_(std::move(schema)),
          rows_(std::move(rows)),
          times_(std::move(times)) {}
    paradox::Schema schema_;
    paradox::RowStore rows_;
    TimeTexts times_;
};

class ReadingTable {
public:
    ReadingTable();
    ~ReadingTable();
    ReadingTable(const ReadingTable&) = delete;
    ReadingTable& operator=(const ReadingTable&) = delete;

    // A bare name ("Queltdb") means "Queltdb.DB" in the current working
    // directory, matched without regard to case when no file has the name as
    // written; a path names the file itself, exactly as written (".DB" is
    // added when the name has no extension). Only while closed.
    void setTableName(const std::string& name);
    // The file that open() would open for this name.
    static std::string pathFor(const std::string& name);
    const std::string& tableName() const { return name_; }
    // The file the handle has open, empty while closed.
    const std::string& filePath() const { return path_; }

    // Opens the named table exclusively (no other handle, in this or another
    // process, can open the same file until close) and reads its records.
    // Positions on the first record.
    void open();
    // Opens the named table in place of the open one (or opens it, while
    // closed). The open table and its pending changes are given up only once
    // the new one is open and read: a failure leaves the handle as it was.
    // `beforeGivingUp` runs then, just before the open table goes.
    void switchTo(const std::string& name, const std::function<void()>& beforeGivingUp = {});
    // Closes the table; pending changes are discarded.
    void close();
    bool isOpen() const { return fd_.get() >= 0; }

    // Fields, in file order. fieldIndex compares names without regard to
    // case and gives -1 when the table has no such field.
    int fieldCount() const;
    std::string fieldName(int index) const;
    int fieldIndex(std::string_view name) const;

    size_t recordCount() const;

    // Appending: append() starts a blank record (every field empty), the
    // setters fill it, post() adds it at the end as the current record.
    // A record not yet posted is discarded by close() and cancel(), and
    // posted first by the walk, delete, empty and copy.
    void append();
    void setFieldString(std::string_view name, std::string_view text);
    void setFieldInteger(std::string_view name, int64_t value);
    void setFieldFloat(std::string_view name, double value);
    void setFieldTime(std::string_view name, const QTime& time);
    void setFieldNull(std::string_view name);
    void post();
    void cancel();
    bool isAppending() const { return appending_; }

    // Posts whole records as they are stored (each the table's record size),
    // as one change: observers see one reset, not one append per record. The
    // last becomes the current record. `stamps`, when given, holds the date
    // and time of each (kUndated for none); without it they are undated.
    void appendRows(std::span<const uint8_t* const> rows, std::span<const int64_t> stamps = {});

    // Every record carries, beside its fields, the date and time it was
    // recorded: ms since the epoch, or kUndated. The table file has no field
    // for it, so records read from a file are undated; the journal keeps it.
    static constexpr int64_t kUndated = INT64_MIN;
    // Dates the record being appended (undated until set).
    void setRecordStamp(int64_t msSinceEpoch);
    int64_t recordStamp(size_t row) const;  // kUndated outside the table

    void deleteRecord(size_t row);
    // Removes every record; the table stays open.
    void empty();

    // The walk: first(); while (!eof()) { ...; next(); } ends on the last record.
    void first();
    void next();
    bool eof() const;
    // Row of the current record, -1 when the table is empty.
    long long currentRecord() const;
    void setCurrentRecord(size_t row);

    // Text forms: decimal digits for integers, the stored text for alpha,
    // the time of day in the locale's long time format without zone for time
    // fields; 8-bit text.
    std::string fieldText(std::string_view name) const;  // current record
    std::string cellText(size_t row, int column) const;  // "" outside the table
    // A copy of the first `count` records (all of them when there are fewer).
    RecordsCopy copyRecords(size_t count) const;

    // Writes the table with its pending changes as a new table file at path
    // (replacing one already there); the same fields in the same order. A
    // table with memo or blob fields takes its .MB file along.
    void copyTo(const std::string& path);
    // Primary index on a field of this table: checks the field exists
    // ("Field '%s' not found"); the table itself stays non-indexed.
    void addIndex(std::string_view fieldName);

    // The fields and record layout, and the stored bytes of a record.
    const paradox::Schema& schema() const;
    const uint8_t* rowData(size_t row) const;

    void addObserver(ReadingTableObserver* o);
    void removeObserver(ReadingTableObserver* o);

    // Bytes held for the records and their stamps (for measurements).
    size_t memoryBytes() const { return table_.rows.memoryBytes() + stamps_.memoryBytes(); }

private:
    void requireOpen() const;
    // Holds `fd` and its table in place of the open one; an empty `fd` keeps
    // the descriptor held (the same file, read anew).
    void adopt(UniqueFd fd, const std::string& path, paradox::Table t);
    const paradox::Field& field(std::string_view name) const;
    void postIfAppending();
    std::string textOf(const uint8_t* row, const paradox::Field& f) const;
    template <class F>
    void notify(F f);

    std::string name_;
    std::string path_;
    UniqueFd fd_;  // holds the table's exclusive lock
    paradox::Table table_;
    std::vector<uint8_t> edit_;
    int64_t editStamp_ = kUndated;
    paradox::RowStore stamps_{sizeof(int64_t)};  // one per record of table_.rows
    bool appending_ = false;
    long long cur_ = -1;
    bool eof_ = true;
    TimeTexts times_;
    std::vector<ReadingTableObserver*> observers_;  // null: removed while being told
    int notifying_ = 0;                             // notify() calls under way
};

// The locale's long time format with its time-zone parts removed.
QString timeFormatWithoutZone(const QString& longFormat);
