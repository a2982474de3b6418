#pragma once
// The journal of the reading log: while a table is open, every change made to
// its pending records (a record posted, a record deleted, the log emptied by
// New) is appended to "<table file>.journal" as it happens. The journal is
// removed only when the user ends the program; if the program ends any other
// way (a signal, a crash, a power cut), the next open of the same table
// replays it, so the unsaved readings come back as pending records.
//
// Entries gather in memory and go to the file together, at most a fifth of a
// second after the first of them (a killed process loses at most that), so a
// frame costs no system call. A helper thread calls fdatasync soon after the
// file was written and then at most once a second, so a power cut loses about
// a second and a slow disk never holds up the window.
//
// File layout, integers little-endian:
//   header  "QUELTJNL", u16 version (1), u16 field count, u32 record size,
//           for each field: u8 type, u8 size byte, u16 length, u8 name
//           length, the name; then a u32 CRC-32 of the header's bytes
//   entries 'A' record posted:  i64 time (ms since the epoch), the record
//           'D' record deleted: i64 time, u32 row, the record as it was
//           'N' log emptied:    i64 time
//           each followed by a u32 CRC-32 of the entry's bytes before it.
// The record bytes are those the table stores, so a replay rebuilds every
// field exactly. The time of a posted record is the date and time the record
// carries (when it was recorded; when it was posted for an undated one), and
// the replay dates the record from it again: a journal of an earlier version,
// which wrote the time of posting there, replays with its records dated.
//
// Recovery reads every entry whose checksum holds, in order. A cut-off tail
// (the program died while writing) or zeros where the disk had no time to
// write are dropped. After a damaged entry the reading goes on at the next
// place where a whole entry with a known tag and a sound checksum starts, and
// the user is told how much was skipped. A journal damaged anywhere but at its
// tail is kept aside whole as "<journal>.N" (the first free N); the entries
// that could be read go on in a new journal, written as "<journal>.N.new",
// synced, and renamed into place only after the damaged one was kept aside,
// so a kill at any moment leaves either the damaged journal itself or a
// complete "<journal>.N.new" that the next open puts in its place. A journal
// damaged at its start, written for other fields or by a newer version is
// kept aside too; such a kept-aside journal holds readings that are not in the
// log, and every open of the table says so until the user moves or deletes
// it. A kept-aside journal that starts with this table's header had its
// entries brought back when it was kept aside and is not mentioned again.
#include "platform/UniqueFd.h"
#include "record/ReadingTable.h"

#include <QString>
#include <QTimer>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

// What attaching to a table brought back from a journal left there.
struct JournalRecovery {
    size_t entries = 0;           // entries replayed: posts, deletions, New
    size_t readings = 0;          // recovered records now in the log
    int64_t firstMs = 0;          // when the first and the last of them were
    int64_t lastMs = 0;           // recorded, ms since the epoch
    size_t deletionsSkipped = 0;  // deletions whose record was not where the journal saw it
    // No of the last record written since the last New (0 when New came
    // last); empty when the journal held neither a record nor New.
    std::optional<int32_t> lastNo;
    std::string keptAs;                         // where an unreadable journal was kept, if any
    size_t damagedPlaces = 0;                   // stretches of damage skipped over
    size_t bytesSkipped = 0;                    // their bytes in all
    bool finishedInterrupted = false;           // a recovery cut short last time was completed
    std::vector<std::string> keptWithReadings;  // earlier kept-aside journals not in the log
};

class DiskSync;

class ReadingJournal final : private ReadingTableObserver {
public:
    // The wall clock, in ms since the epoch.
    using WallClock = std::function<int64_t()>;

    // Follows `table` from now on: attaches whenever the table opens and
    // detaches, keeping the file, whenever it closes. A table already open
    // is attached by calling attach().
    explicit ReadingJournal(ReadingTable& table, WallClock now = {});
    ~ReadingJournal() override;
    ReadingJournal(const ReadingJournal&) = delete;
    ReadingJournal& operator=(const ReadingJournal&) = delete;

    enum class End {
        Keep,    // the file stays and is replayed at the next open of the table
        Remove,  // the file is deleted: the user ended the program
    };

    // Starts the journal of the open table: replays a journal left there into
    // the table and goes on writing it, or creates a new one. Never throws:
    // what the user must know goes to onNotice.
    void attach();
    // Stops journalling, flushed to the disk when the file is kept.
    void detach(End end);

    bool isAttached() const { return attached_; }
    // True while entries are being written (attached and no write failed).
    bool isWriting() const { return fd_.get() >= 0; }
    // The journal file of the attached table.
    const std::string& path() const { return path_; }
    // What the last attach recovered.
    const JournalRecovery& recovery() const { return recovery_; }

    // Told, once per event, what the user must know: readings recovered, a
    // journal kept aside, a journal that cannot be written. Called from inside
    // table operations: the receiver should show it later, not at once.
    std::function<void(const QString&)> onNotice;

    static std::string PathFor(const std::string& tableFile) { return tableFile + ".journal"; }
    // Bytes in the journal for one posted record of a table with this record size.
    static size_t PostEntrySize(uint32_t recordSize);
    // The header that a journal of a table with this layout starts with.
    static std::vector<uint8_t> Header(const paradox::Schema& schema);

    // The moments of a recovery at which a kill leaves something to clear up
    // at the next open; told to onRecoveryStep, for tests that end the
    // process there.
    enum class RecoveryStep {
        NewJournalPartWritten,  // "<journal>.N.new" holds only a part of the entries read
        NewJournalWritten,      // it is complete and synced
        DamagedKeptAside,       // the damaged journal is "<journal>.N"; none at the journal's name
        NewJournalInPlace,      // the new journal has the journal's name
        OtherKeptAside,         // a journal that is not this table's was kept aside
    };
    std::function<void(RecoveryStep)> onRecoveryStep;

private:

    void rowAppended(size_t row) override;
    void rowsAppended(size_t first, size_t count) override;
    void rowAboutToBeRemoved(size_t row) override;
    void tableEmptied() override;
    void tableOpened() override { attach(); }
    void tableAboutToClose() override { detach(End::Keep); }
    void tableDestroyed() override;

    struct Replayed;
    QString openOrRecover();
    void finishInterrupted();
    Replayed replay(const uint8_t* data, size_t size, size_t from);
    void replaceDamaged(const uint8_t* data, const Replayed& read);
    QString recoveryText(bool damaged) const;
    QString keptWithReadingsText();
    std::string keepAside();
    void create(const std::vector<uint8_t>& firstBytes);
    void step(RecoveryStep s);
    void adopt(UniqueFd fd, UniqueFd dirFd);
    // `when` is the record's own date and time; kUndated: now.
    void entry(uint8_t tag, const uint8_t* record, const uint32_t* row, int64_t when = ReadingTable::kUndated);
    void flush();
    void fail(int err);
    void notice(const QString& text);

    ReadingTable* table_;
    WallClock now_;
    bool attached_ = false;
    bool owned_ = false;  // the file at path_ is this journal's
    bool replaying_ = false;
    UniqueFd fd_;
    std::string path_;
    std::unique_ptr<DiskSync> syncer_;
    static constexpr int kFlushMs = 200;              // entries wait at most this long
    static constexpr size_t kFlushBytes = 64 * 1024;  // or until this many have gathered
    QTimer flushTimer_;
    std::vector<uint8_t> buf_;  // entries not yet written
    JournalRecovery recovery_;
};
