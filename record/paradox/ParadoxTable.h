#pragma once
// Reading and writing Paradox tables (.DB files, file versions 3.0 to 7).
//
// A table is read whole into a compact store of fixed-width record rows that
// keep the on-disk byte layout of a record, so that a copy carries every field
// unchanged, including field types the program does not interpret (memo and
// blob leaders, BCD, bytes). Written tables are non-indexed version 7 tables.
//
// Every size, count, offset and block link of a file is checked before it is
// used: a damaged or hostile file gives a ParadoxError with a clear text and
// never a crash, a hang or an allocation beyond what the file itself holds.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace paradox {

class ParadoxError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Field type codes as stored in the field descriptors.
enum FieldType : uint8_t {
    ftAlpha = 0x01,
    ftDate = 0x02,
    ftShort = 0x03,
    ftLong = 0x04,
    ftCurrency = 0x05,
    ftNumber = 0x06,
    ftLogical = 0x09,
    ftMemo = 0x0C,
    ftBlob = 0x0D,
    ftFmtMemo = 0x0E,
    ftOle = 0x0F,
    ftGraphic = 0x10,
    ftTime = 0x14,
    ftTimestamp = 0x15,
    ftAutoInc = 0x16,
    ftBcd = 0x17,
    ftBytes = 0x18,
};

// True for the types whose data lives partly in the table's .MB file.
bool isBlobType(uint8_t type);

// What a new field is declared as: name, type code and the descriptor's size
// byte (the length for alpha, memo, blob and bytes; the decimals for BCD;
// ignored for the fixed-size types).
struct FieldSpec {
    std::string name;
    uint8_t type = ftAlpha;
    uint8_t size = 0;
};

struct Field {
    std::string name;
    uint8_t type = ftAlpha;
    uint8_t sizeByte = 0;  // the descriptor's size byte as stored
    uint16_t length = 0;   // bytes in the record
    uint32_t offset = 0;   // offset within the record
};

// The layout of a table and the header values that a copy carries over.
struct Schema {
    std::vector<Field> fields;
    uint32_t recordSize = 0;
    uint8_t versionId = 0x0C;  // file version the table was read from
    bool keyed = false;        // read from a primary-indexed table
    uint16_t codePage = 1252;
    uint8_t sortOrder = 0x62;
    std::string sortOrderName = "ANSIINTL";
    uint32_t autoInc = 0;

    // Builds a schema from declared fields; throws ParadoxError for an
    // unknown type, a bad size or a record that no block can hold.
    static Schema make(const std::vector<FieldSpec>& specs);

    // Index of the field with this name, compared without regard to ASCII
    // case; -1 when there is none.
    int find(std::string_view name) const;
};

// Whether a and b are the same text when ASCII letters are compared without
// regard to case (other bytes must be equal): field names, file names.
bool asciiEqualNoCase(std::string_view a, std::string_view b);

// Fixed-width rows in chunks of about 1 MiB: appending and reaching a row
// cost the same at any size, and a row costs its record size plus the
// chunk's slack (no per-row heap objects).
class RowStore {
public:
    explicit RowStore(size_t rowSize = 1);
    RowStore(RowStore&&) noexcept = default;
    RowStore& operator=(RowStore&&) noexcept = default;

    size_t rowSize() const { return rowSize_; }
    size_t size() const { return count_; }
    bool empty() const { return count_ == 0; }

    // Appends a zero-filled row (all fields blank) and returns it.
    uint8_t* append();
    uint8_t* row(size_t i) { return chunks_[i >> shift_].get() + (i & mask_) * rowSize_; }
    const uint8_t* row(size_t i) const { return chunks_[i >> shift_].get() + (i & mask_) * rowSize_; }
    void erase(size_t i);
    void clear();
    // Bytes held by the store's chunks and chunk table.
    size_t memoryBytes() const;

private:
    size_t rowSize_;
    unsigned shift_;
    size_t mask_;
    size_t count_ = 0;
    std::vector<std::unique_ptr<uint8_t[]>> chunks_;
};

struct Table {
    Schema schema;
    RowStore rows;
};

// Random-access bytes of a table file.
class ByteSource {
public:
    virtual ~ByteSource() = default;
    virtual uint64_t size() const = 0;
    // Reads exactly n bytes at off (the caller has checked off + n <= size());
    // throws ParadoxError when the bytes cannot be read.
    virtual void read(uint64_t off, void* dst, size_t n) const = 0;
};

// Reads a table; name is how messages call the table.
Table readTable(const ByteSource& src, const std::string& name);
Table readTable(std::span<const uint8_t> bytes, const std::string& name);
// Reads from an open file descriptor (pread; the position is not used).
Table readTableFd(int fd, const std::string& name);
Table readTableFile(const std::string& path);

// Writes a complete non-indexed table to fd from offset 0 (a regular file is
// truncated to the written size). Throws ParadoxError on a write error or a
// table too big for the format.
void writeTableFd(int fd, const Schema& schema, const RowStore& rows, const std::string& name);
// Creates or replaces path (see ReplacingFile: through a temporary file renamed
// into place; a locked file is refused with FileWriteError).
void writeTableFile(const std::string& path, const Schema& schema, const RowStore& rows);

// ---- Field values in a record row --------------------------------------
// A field whose bytes are all zero is blank (null) for every type.
bool isBlank(const uint8_t* row, const Field& f);
void clearField(uint8_t* row, const Field& f);

// short, long, autoinc, date (days), time (ms of the day)
std::optional<int32_t> getInteger(const uint8_t* row, const Field& f);
// number, currency, timestamp (ms since 0001-01-01 less one day)
std::optional<double> getFloat(const uint8_t* row, const Field& f);
std::optional<bool> getLogical(const uint8_t* row, const Field& f);
// Alpha text, or the in-record leader of a memo, up to the first NUL.
std::string getText(const uint8_t* row, const Field& f);

void setInteger(uint8_t* row, const Field& f, int32_t v);  // short: caller checks range
void setFloat(uint8_t* row, const Field& f, double v);
void setLogical(uint8_t* row, const Field& f, bool v);
// Alpha: the text clamped to the field's length, NUL-padded.
void setText(uint8_t* row, const Field& f, std::string_view text);

// Day count used by date fields for a proleptic Gregorian Julian day number.
constexpr int64_t kJulianDayOfDayZero = 1721425;

}  // namespace paradox
