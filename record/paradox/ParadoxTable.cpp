#include "record/paradox/ParadoxTable.h"

#include "platform/UniqueFd.h"
#include "record/paradox/ReplacingFile.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace paradox {

namespace {

constexpr size_t kMainHeader = 0x58;  // common header
constexpr size_t kDataHeader = 0x20;  // extra data-table header of version 4 and later
constexpr size_t kBlockHeader = 6;    // next, previous, added data size
constexpr uint32_t kEncryptionMarker = 0xFF00FF00u;

uint16_t le16(const uint8_t* p) { return uint16_t(p[0] | (p[1] << 8)); }
uint32_t le32(const uint8_t* p) { return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24); }
void put16(uint8_t* p, uint32_t v)
{
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
}
void put32(uint8_t* p, uint32_t v)
{
    for (int i = 0; i < 4; ++i) p[i] = uint8_t(v >> (8 * i));
}

// The record length of a field type, or 0 for a bad type/size pair.
uint16_t fieldLength(uint8_t type, uint8_t size)
{
    switch (type) {
    case ftAlpha:
    case ftBytes: return size;  // 0 is rejected by the caller
    case ftDate:
    case ftLong:
    case ftTime:
    case ftAutoInc: return 4;
    case ftShort: return 2;
    case ftCurrency:
    case ftNumber:
    case ftTimestamp: return 8;
    case ftLogical: return 1;
    case ftMemo:
    case ftBlob:
    case ftFmtMemo:
    case ftOle:
    case ftGraphic: return size >= 10 ? size : 0;
    case ftBcd: return size <= 32 ? 17 : 0;
    default: return 0;
    }
}

// The descriptor's size byte for a fixed-size type.
uint8_t naturalSizeByte(uint8_t type, uint8_t declared)
{
    switch (type) {
    case ftAlpha:
    case ftBytes:
    case ftMemo:
    case ftBlob:
    case ftFmtMemo:
    case ftOle:
    case ftGraphic:
    case ftBcd: return declared;
    default: return uint8_t(fieldLength(type, declared));
    }
}

class SpanSource : public ByteSource {
public:
    explicit SpanSource(std::span<const uint8_t> b) : b_(b) {}
    uint64_t size() const override { return b_.size(); }
    void read(uint64_t off, void* dst, size_t n) const override { std::memcpy(dst, b_.data() + off, n); }
private:
    std::span<const uint8_t> b_;
};

class FdSource : public ByteSource {
public:
    FdSource(int fd, std::string name) : fd_(fd),
                                         name_(std::move(name))
    {
        struct stat st {};
        if (::fstat(fd, &st) != 0)
            throw ParadoxError("Cannot read table '" + name_ + "': " + std::strerror(errno));
        if (!S_ISREG(st.st_mode))
            throw ParadoxError("Cannot read table '" + name_ + "': not a regular file");
        size_ = uint64_t(st.st_size);
    }
    uint64_t size() const override { return size_; }
    void read(uint64_t off, void* dst, size_t n) const override
    {
        auto* p = static_cast<uint8_t*>(dst);
        while (n > 0) {
            ssize_t r = ::pread(fd_, p, n, off_t(off));
            if (r < 0 && errno == EINTR)
                continue;
            if (r < 0)
                throw ParadoxError("Cannot read table '" + name_ + "': " + std::strerror(errno));
            if (r == 0)
                throw ParadoxError("Table '" + name_ + "' is damaged: the file is shorter than its blocks");
            p += r;
            off += uint64_t(r);
            n -= size_t(r);
        }
    }
private:
    int fd_;
    std::string name_;
    uint64_t size_ = 0;
};

[[noreturn]] void damaged(const std::string& name, const std::string& what)
{
    throw ParadoxError("Table '" + name + "' is damaged: " + what);
}

}  // namespace

bool isBlobType(uint8_t type)
{
    return type >= ftMemo && type <= ftGraphic;
}

// ---- Schema ---------------------------------------------------------------

Schema Schema::make(const std::vector<FieldSpec>& specs)
{
    if (specs.empty())
        throw ParadoxError("A table needs at least one field");
    if (specs.size() > 255)
        throw ParadoxError("A table holds at most 255 fields");
    Schema s;
    uint32_t off = 0;
    for (const FieldSpec& sp : specs) {
        if (sp.name.empty() || sp.name.size() > 25)
            throw ParadoxError("Invalid field name '" + sp.name + "'");
        uint16_t len = fieldLength(sp.type, sp.size);
        if (len == 0)
            throw ParadoxError("Invalid type or size for field '" + sp.name + "'");
        Field f;
        f.name = sp.name;
        f.type = sp.type;
        f.sizeByte = naturalSizeByte(sp.type, sp.size);
        f.length = len;
        f.offset = off;
        off += len;
        s.fields.push_back(std::move(f));
    }
    if (off + kBlockHeader > 32 * 1024)
        throw ParadoxError("The record of the table is too long");
    s.recordSize = off;
    return s;
}

bool asciiEqualNoCase(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        unsigned char x = a[i], y = b[i];
        if (x >= 'a' && x <= 'z') x = uint8_t(x - 32);
        if (y >= 'a' && y <= 'z') y = uint8_t(y - 32);
        if (x != y)
            return false;
    }
    return true;
}

int Schema::find(std::string_view name) const
{
    for (size_t i = 0; i < fields.size(); ++i)
        if (asciiEqualNoCase(fields[i].name, name))
            return int(i);
    return -1;
}

// ---- RowStore ---------------------------------------------------------------

RowStore::RowStore(size_t rowSize) : rowSize_(std::max<size_t>(rowSize, 1))
{
    size_t per = std::max<size_t>((size_t(1) << 20) / rowSize_, 1);
    shift_ = 0;
    while ((size_t(2) << shift_) <= per)
        ++shift_;
    mask_ = (size_t(1) << shift_) - 1;
}

uint8_t* RowStore::append()
{
    size_t c = count_ >> shift_;
    if (c == chunks_.size())
        chunks_.push_back(std::make_unique<uint8_t[]>((mask_ + 1) * rowSize_));
    uint8_t* r = row(count_);
    std::memset(r, 0, rowSize_);
    ++count_;
    return r;
}

void RowStore::erase(size_t i)
{
    if (i >= count_)
        return;
    const size_t per = mask_ + 1;
    // Shift the rest of i's chunk down, then carry each following chunk's
    // first row into the previous chunk's last slot.
    size_t c = i >> shift_;
    size_t last = count_ - 1;
    size_t lastChunk = last >> shift_;
    for (; c <= lastChunk; ++c) {
        size_t begin = (c == (i >> shift_)) ? (i & mask_) : 0;
        size_t endRow = (c == lastChunk) ? (last & mask_) : per - 1;  // last slot used in this chunk
        uint8_t* base = chunks_[c].get();
        if (endRow > begin)
            std::memmove(base + begin * rowSize_, base + (begin + 1) * rowSize_, (endRow - begin) * rowSize_);
        if (c < lastChunk)
            std::memcpy(base + endRow * rowSize_, chunks_[c + 1].get(), rowSize_);
    }
    --count_;
    // Drop a chunk that became unused, keeping at most one spare.
    size_t needed = (count_ + mask_) >> shift_;
    while (chunks_.size() > needed + 1)
        chunks_.pop_back();
}

void RowStore::clear()
{
    chunks_.clear();
    chunks_.shrink_to_fit();
    count_ = 0;
}

size_t RowStore::memoryBytes() const
{
    return chunks_.size() * (mask_ + 1) * rowSize_ + chunks_.capacity() * sizeof(chunks_[0]);
}

// ---- Reading ------------------------------------------------------------------

Table readTable(const ByteSource& src, const std::string& name)
{
    const uint64_t fileSize = src.size();
    if (fileSize < kMainHeader)
        damaged(name, "the file is too short for a table header");
    uint8_t h[kMainHeader + kDataHeader] = {};
    src.read(0, h, std::min<uint64_t>(sizeof h, fileSize));

    const uint16_t recordSize = le16(h + 0x00);
    const uint16_t headerSize = le16(h + 0x02);
    const uint8_t fileType = h[0x04];
    const uint8_t blockKb = h[0x05];
    const uint32_t numRecords = le32(h + 0x06);
    const uint16_t fileBlocks = le16(h + 0x0C);
    const uint16_t firstBlock = le16(h + 0x0E);
    const uint16_t numFields = le16(h + 0x21);
    const uint16_t keyFields = le16(h + 0x23);
    const uint8_t versionId = h[0x39];

    if (fileType != 0 && fileType != 2)
        throw ParadoxError("'" + name + "' is not a Paradox data table");
    if (versionId < 3 || versionId > 12)
        throw ParadoxError("Table '" + name + "' has an unsupported file version (" + std::to_string(versionId) + ")");
    const bool dataHeader = versionId >= 5;
    const size_t fieldInfo = dataHeader ? kMainHeader + kDataHeader : kMainHeader;
    if (fileSize < fieldInfo)
        damaged(name, "the file is too short for a table header");

    uint32_t encryption = le32(h + 0x25);
    if (encryption == kEncryptionMarker)
        encryption = dataHeader ? le32(h + 0x5C) : encryption;
    if (encryption != 0)
        throw ParadoxError("Table '" + name + "' is password protected");

    if (blockKb < 1 || blockKb > 32)
        damaged(name, "invalid block size");
    const uint32_t blockSize = uint32_t(blockKb) * 1024;
    if (recordSize == 0 || recordSize + kBlockHeader > blockSize)
        damaged(name, "invalid record size");
    if (numFields == 0 || numFields > 1024)
        damaged(name, "invalid number of fields");
    if (headerSize < fieldInfo || headerSize > fileSize)
        damaged(name, "invalid header size");

    std::vector<uint8_t> head(headerSize);
    src.read(0, head.data(), headerSize);

    Table t;
    t.schema.versionId = versionId;
    t.schema.keyed = fileType == 0;
    t.schema.recordSize = recordSize;
    t.schema.sortOrder = head[0x29];
    t.schema.autoInc = le32(h + 0x49);
    t.schema.codePage = dataHeader ? le16(h + 0x6A) : 0;

    // Field descriptors: type and size byte.
    size_t pos = fieldInfo;
    if (pos + size_t(numFields) * 2 > headerSize)
        damaged(name, "the field list overruns the header");
    uint32_t off = 0;
    t.schema.fields.reserve(numFields);
    for (unsigned i = 0; i < numFields; ++i) {
        Field f;
        f.type = head[pos + 2 * i];
        f.sizeByte = head[pos + 2 * i + 1];
        f.length = fieldLength(f.type, f.sizeByte);
        if (f.length == 0)
            damaged(name, "field " + std::to_string(i + 1) + " has an invalid type or size");
        f.offset = off;
        off += f.length;
        t.schema.fields.push_back(std::move(f));
    }
    if (off != recordSize)
        damaged(name, "the fields do not add up to the record size");
    if (keyFields > numFields)
        damaged(name, "invalid number of key fields");
    pos += size_t(numFields) * 2;

    // Table name pointer, field name pointers, the table name, then the names.
    const size_t tableNameLen = versionId >= 12 ? 261 : 79;
    pos += 4 + size_t(numFields) * 4 + tableNameLen;
    for (Field& f : t.schema.fields) {
        if (pos >= headerSize)
            damaged(name, "the field names overrun the header");
        const auto* start = head.data() + pos;
        const auto* nul = static_cast<const uint8_t*>(std::memchr(start, 0, headerSize - pos));
        if (!nul)
            damaged(name, "the field names overrun the header");
        size_t len = size_t(nul - start);
        if (len == 0 || len > 260)
            damaged(name, "invalid field name");
        f.name.assign(reinterpret_cast<const char*>(start), len);
        pos += len + 1;
    }
    // Field numbers and the sort order name (version 4 and later); optional.
    if (dataHeader) {
        size_t sp = pos + size_t(numFields) * 2;
        if (sp < headerSize) {
            const auto* start = head.data() + sp;
            const auto* nul = static_cast<const uint8_t*>(std::memchr(start, 0, std::min<size_t>(headerSize - sp, 32)));
            if (nul && nul > start) {
                std::string so(reinterpret_cast<const char*>(start), size_t(nul - start));
                if (std::all_of(so.begin(), so.end(), [](char c) { return c > 32 && c < 127; }))
                    t.schema.sortOrderName = so;
            }
        }
    }

    // The data blocks: a chain from firstBlock, each visited once.
    t.rows = RowStore(recordSize);
    const uint32_t perBlock = (blockSize - kBlockHeader) / recordSize;
    if (firstBlock == 0) {
        if (numRecords != 0)
            damaged(name, "records counted but no data block");
        return t;
    }
    if (numRecords > uint64_t(fileBlocks) * perBlock)
        damaged(name, "more records counted than the blocks hold");
    std::vector<bool> seen(size_t(fileBlocks) + 1, false);
    std::vector<uint8_t> block(blockSize);
    uint32_t blk = firstBlock;
    uint64_t total = 0;
    while (blk != 0) {
        if (blk > fileBlocks)
            damaged(name, "a block link points outside the file");
        if (seen[blk])
            damaged(name, "the block chain loops");
        seen[blk] = true;
        const uint64_t at = uint64_t(headerSize) + uint64_t(blk - 1) * blockSize;
        if (at + kBlockHeader > fileSize)
            damaged(name, "the file is shorter than its blocks");
        src.read(at, block.data(), kBlockHeader);
        const uint16_t next = le16(block.data());
        const int16_t added = int16_t(le16(block.data() + 4));
        if ((added + int32_t(recordSize)) % int32_t(recordSize) != 0 || added < -int32_t(recordSize))
            damaged(name, "invalid block fill");
        const uint32_t n = uint32_t(added / int32_t(recordSize) + 1);
        if (n > perBlock)
            damaged(name, "invalid block fill");
        const uint64_t bytes = uint64_t(n) * recordSize;
        if (at + kBlockHeader + bytes > fileSize)
            damaged(name, "the file is shorter than its blocks");
        total += n;
        if (total > numRecords)
            damaged(name, "the blocks hold more records than counted");
        if (n > 0) {
            src.read(at + kBlockHeader, block.data() + kBlockHeader, size_t(bytes));
            for (uint32_t r = 0; r < n; ++r)
                std::memcpy(t.rows.append(), block.data() + kBlockHeader + size_t(r) * recordSize, recordSize);
        }
        blk = next;
    }
    if (total != numRecords)
        damaged(name, "the blocks hold fewer records than counted");
    return t;
}

Table readTable(std::span<const uint8_t> bytes, const std::string& name)
{
    SpanSource s(bytes);
    return readTable(s, name);
}

Table readTableFd(int fd, const std::string& name)
{
    FdSource s(fd, name);
    return readTable(s, name);
}

Table readTableFile(const std::string& path)
{
    const UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (fd.get() < 0)
        throw ParadoxError("Cannot open table '" + path + "': " + std::strerror(errno));
    return readTableFd(fd.get(), path);
}

// ---- Writing ------------------------------------------------------------------

namespace {

void writeAll(int fd, const uint8_t* p, size_t n, const std::string& name)
{
    if (const int err = WriteAll(fd, p, n))
        throw ParadoxError("Cannot write table '" + name + "': " + std::strerror(err));
}

}  // namespace

void writeTableFd(int fd, const Schema& schema, const RowStore& rows, const std::string& name)
{
    const uint32_t rs = schema.recordSize;
    if (rs == 0 || rs != rows.rowSize() || schema.fields.empty() || schema.fields.size() > 255)
        throw ParadoxError("Cannot write table '" + name + "': invalid layout");
    const uint64_t count = rows.size();
    if (count > 0xFFFFFFFFull)
        throw ParadoxError("Cannot write table '" + name + "': too many records");

    // The smallest block size that keeps the block count in 16 bits.
    uint32_t blockKb = 0;
    for (uint32_t kb : {4u, 16u, 32u}) {
        uint32_t bs = kb * 1024;
        if (rs + kBlockHeader > bs)
            continue;
        uint64_t per = (bs - kBlockHeader) / rs;
        if ((count + per - 1) / per <= 0xFFFF) {
            blockKb = kb;
            break;
        }
    }
    if (blockKb == 0)
        throw ParadoxError("Cannot write table '" + name + "': too many records for one table");
    const uint32_t blockSize = blockKb * 1024;
    const uint32_t per = (blockSize - kBlockHeader) / rs;
    const uint32_t blocks = uint32_t((count + per - 1) / per);
    const uint16_t numFields = uint16_t(schema.fields.size());

    // Header: common part, data part, descriptors, pointers, names.
    constexpr size_t tableNameLen = 261;
    size_t namesLen = 0;
    for (const Field& f : schema.fields)
        namesLen += f.name.size() + 1;
    const std::string& so = schema.sortOrderName;
    const size_t realHeader = kMainHeader + kDataHeader + numFields * 2 + 4 + numFields * 4 + tableNameLen + namesLen + numFields * 2 + so.size() + 1;
    const size_t headerSize = (realHeader + 0x7FF) & ~size_t(0x7FF);
    if (headerSize > 0xF800)
        throw ParadoxError("Cannot write table '" + name + "': the field names are too long");

    uint32_t autoInc = schema.autoInc;
    for (const Field& f : schema.fields)
        if (f.type == ftAutoInc)
            for (size_t i = 0; i < rows.size(); ++i)
                if (auto v = getInteger(rows.row(i), f); v && *v > 0 && uint32_t(*v) > autoInc)
                    autoInc = uint32_t(*v);

    std::vector<uint8_t> head(headerSize, 0);
    uint8_t* h = head.data();
    put16(h + 0x00, rs);
    put16(h + 0x02, uint32_t(headerSize));
    h[0x04] = 2;  // non-indexed data table
    h[0x05] = uint8_t(blockKb);
    put32(h + 0x06, uint32_t(count));
    put16(h + 0x0A, blocks);
    put16(h + 0x0C, blocks);
    put16(h + 0x0E, blocks ? 1 : 0);
    put16(h + 0x10, blocks);
    put16(h + 0x21, numFields);
    put32(h + 0x25, kEncryptionMarker);
    h[0x29] = schema.sortOrder;
    h[0x2D] = 2;
    h[0x2E] = 1;
    put32(h + 0x34, uint32_t(kMainHeader + kDataHeader));
    h[0x39] = 0x0C;  // version 7
    put16(h + 0x3A, blocks);
    h[0x3E] = 0x1F;
    h[0x3F] = 0x0F;
    put32(h + 0x49, autoInc);
    put16(h + 0x51, uint32_t(realHeader));
    h[0x56] = 0x20;
    // Data header.
    put16(h + 0x58, 0x010C);
    put16(h + 0x5A, 0x010C);
    put32(h + 0x60, uint32_t(std::time(nullptr)));
    put16(h + 0x64, numFields + 1u);
    put16(h + 0x66, uint32_t(0x20 + numFields * 6 + 4 + tableNameLen + namesLen));
    put16(h + 0x68, numFields);
    put16(h + 0x6A, schema.codePage ? schema.codePage : 1252);
    h[0x6C] = 1;
    h[0x6D] = 1;
    put16(h + 0x6E, uint32_t(0x18 + numFields * 8 + 4 + tableNameLen + namesLen + so.size()));
    size_t pos = kMainHeader + kDataHeader;
    for (const Field& f : schema.fields) {
        h[pos++] = f.type;
        h[pos++] = f.sizeByte;
    }
    pos += 4 + size_t(numFields) * 4;  // pointers are rebuilt by the engine on load
    // Table name: the file name without folder and extension.
    std::string base = name.substr(name.find_last_of('/') == std::string::npos ? 0 : name.find_last_of('/') + 1);
    if (auto dot = base.find_last_of('.'); dot != std::string::npos)
        base.resize(dot);
    base.resize(std::min<size_t>(base.size(), tableNameLen - 1));
    std::memcpy(h + pos, base.data(), base.size());
    pos += tableNameLen;
    for (const Field& f : schema.fields) {
        std::memcpy(h + pos, f.name.data(), f.name.size());
        pos += f.name.size() + 1;
    }
    for (unsigned i = 0; i < numFields; ++i) {
        put16(h + pos, i + 1);
        pos += 2;
    }
    std::memcpy(h + pos, so.data(), so.size());

    struct stat st {};
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && (::ftruncate(fd, 0) != 0 || ::lseek(fd, 0, SEEK_SET) != 0))
        throw ParadoxError("Cannot write table '" + name + "': " + std::strerror(errno));
    writeAll(fd, head.data(), head.size(), name);

    // Blocks, written in batches of whole blocks.
    constexpr uint32_t batchBlocks = 64;
    std::vector<uint8_t> buf(size_t(blockSize) * batchBlocks);
    size_t next = 0;
    for (uint32_t b = 1; b <= blocks;) {
        uint32_t inBatch = std::min(batchBlocks, blocks - b + 1);
        std::memset(buf.data(), 0, size_t(inBatch) * blockSize);
        for (uint32_t k = 0; k < inBatch; ++k, ++b) {
            uint8_t* blk = buf.data() + size_t(k) * blockSize;
            uint32_t n = uint32_t(std::min<uint64_t>(per, count - next));
            put16(blk, b < blocks ? b + 1 : 0);
            put16(blk + 2, b - 1);
            put16(blk + 4, uint32_t(int32_t(n - 1) * int32_t(rs)) & 0xFFFF);
            for (uint32_t r = 0; r < n; ++r, ++next)
                std::memcpy(blk + kBlockHeader + size_t(r) * rs, rows.row(next), rs);
        }
        writeAll(fd, buf.data(), size_t(inBatch) * blockSize, name);
    }
}

void writeTableFile(const std::string& path, const Schema& schema, const RowStore& rows)
{
    ReplacingFile out(path);
    writeTableFd(out.fd(), schema, rows, path);
    out.commit();
}

// ---- Field values -------------------------------------------------------------

bool isBlank(const uint8_t* row, const Field& f)
{
    const uint8_t* p = row + f.offset;
    return std::all_of(p, p + f.length, [](uint8_t b) { return b == 0; });
}

void clearField(uint8_t* row, const Field& f)
{
    std::memset(row + f.offset, 0, f.length);
}

std::optional<int32_t> getInteger(const uint8_t* row, const Field& f)
{
    const uint8_t* p = row + f.offset;
    if (isBlank(row, f))
        return std::nullopt;
    switch (f.type) {
    case ftShort: {
        uint16_t v = uint16_t((p[0] << 8) | p[1]) ^ 0x8000u;
        return int32_t(int16_t(v));
    }
    case ftLong:
    case ftAutoInc:
    case ftDate:
    case ftTime: {
        uint32_t v = (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3];
        return int32_t(v ^ 0x80000000u);
    }
    default: return std::nullopt;
    }
}

std::optional<double> getFloat(const uint8_t* row, const Field& f)
{
    if (f.type != ftNumber && f.type != ftCurrency && f.type != ftTimestamp)
        return std::nullopt;
    if (isBlank(row, f))
        return std::nullopt;
    const uint8_t* p = row + f.offset;
    uint64_t v = 0;
    for (int i = 0; i < 8; ++i)
        v = (v << 8) | p[i];
    if (v & 0x8000000000000000ull)
        v &= ~0x8000000000000000ull;
    else
        v = ~v;
    double d;
    std::memcpy(&d, &v, 8);
    return d;
}

std::optional<bool> getLogical(const uint8_t* row, const Field& f)
{
    if (f.type != ftLogical || row[f.offset] == 0)
        return std::nullopt;
    return row[f.offset] != 0x80;
}

std::string getText(const uint8_t* row, const Field& f)
{
    size_t len = f.length;
    if (f.type == ftMemo || f.type == ftFmtMemo)
        len = f.length - 10;
    else if (f.type != ftAlpha)
        return {};
    const char* p = reinterpret_cast<const char*>(row + f.offset);
    const void* nul = std::memchr(p, 0, len);
    return std::string(p, nul ? static_cast<const char*>(nul) - p : len);
}

void setInteger(uint8_t* row, const Field& f, int32_t v)
{
    uint8_t* p = row + f.offset;
    if (f.type == ftShort) {
        uint16_t u = uint16_t(uint16_t(int16_t(v)) ^ 0x8000u);
        p[0] = uint8_t(u >> 8);
        p[1] = uint8_t(u);
    } else {
        uint32_t u = uint32_t(v) ^ 0x80000000u;
        for (int i = 0; i < 4; ++i)
            p[i] = uint8_t(u >> (24 - 8 * i));
    }
}

void setFloat(uint8_t* row, const Field& f, double d)
{
    uint64_t v;
    std::memcpy(&v, &d, 8);
    if (v & 0x8000000000000000ull)
        v = ~v;
    else
        v |= 0x8000000000000000ull;
    uint8_t* p = row + f.offset;
    for (int i = 0; i < 8; ++i)
        p[i] = uint8_t(v >> (56 - 8 * i));
}

void setLogical(uint8_t* row, const Field& f, bool v)
{
    row[f.offset] = v ? 0x81 : 0x80;
}

void setText(uint8_t* row, const Field& f, std::string_view text)
{
    uint8_t* p = row + f.offset;
    std::memset(p, 0, f.length);
    size_t n = std::min<size_t>(text.size(), f.length);
    if (const void* nul = std::memchr(text.data(), 0, n))
        n = size_t(static_cast<const char*>(nul) - text.data());
    std::memcpy(p, text.data(), n);
}

}  // namespace paradox
