// The Paradox codec against pxlib as an independent reader and writer, and
// its handling of damaged files.
#include "record/paradox/ParadoxTable.h"
#include "support/PxlibIo.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <algorithm>
#include <cmath>
#include <functional>
#include <filesystem>
#include <fstream>
#include <iterator>

using namespace paradox;

namespace {

// A directory from the test environment, else the one known at build time.
const char* envOr(const char* name, const char* fallback)
{
    const char* v = std::getenv(name);
    return v && *v ? v : fallback;
}

std::vector<uint8_t> slurp(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

// Every interpreted type once; values in pxlib's terms.
const std::vector<pxio::FieldDef> kAllTypes = {
    {"Name", pxfAlpha, 10},
    {"Small", pxfShort, 2},
    {"Big", pxfLong, 4},
    {"Serial", pxfAutoInc, 4},
    {"Amount", pxfNumber, 8},
    {"Price", pxfCurrency, 8},
    {"Flag", pxfLogical, 1},
    {"Day", pxfDate, 4},
    {"Clock", pxfTime, 4},
    {"Stamp", pxfTimestamp, 8},
};

std::vector<FieldSpec> specsOf(const std::vector<pxio::FieldDef>& defs)
{
    std::vector<FieldSpec> s;
    for (const auto& d : defs)
        s.push_back({d.name, uint8_t(d.type), uint8_t(d.len)});
    return s;
}

struct Sample {
    std::string name;
    int32_t small, big, serial;
    double amount, price;
    bool flag;
    int32_t day, clock;
    double stamp;
};

const std::vector<Sample> kSamples = {
    {"first", 1, 1, 1, 0.0, 1.25, true, 730000, 0, 63000000000000.0},
    {"-12.3", -32767, -2147483647, 2, -1234.5, -0.01, true, 1, 86399999, 1.0},
    {"ten chars!", 32767, 2147483647, 3, 1e300, 99999.99, true, 738000, 45296789, 63850000000000.0},
};

class ParadoxCodec : public ::testing::Test {
protected:
    QTemporaryDir dir;
    std::string path(const char* name) const { return (dir.path() + "/" + name).toStdString(); }
};

}  // namespace

TEST_F(ParadoxCodec, OurTableReadsBackThroughPxlib)
{
    Schema s = Schema::make(specsOf(kAllTypes));
    RowStore rows(s.recordSize);
    for (const Sample& x : kSamples) {
        uint8_t* r = rows.append();
        setText(r, s.fields[0], x.name);
        setInteger(r, s.fields[1], x.small);
        setInteger(r, s.fields[2], x.big);
        setInteger(r, s.fields[3], x.serial);
        setFloat(r, s.fields[4], x.amount);
        setFloat(r, s.fields[5], x.price);
        setLogical(r, s.fields[6], x.flag);
        setInteger(r, s.fields[7], x.day);
        setInteger(r, s.fields[8], x.clock);
        setFloat(r, s.fields[9], x.stamp);
    }
    rows.append();  // a record with every field blank
    writeTableFile(path("ours.db"), s, rows);

    pxio::ReadResult px = pxio::readTable(path("ours.db"));
    ASSERT_EQ(px.fields.size(), kAllTypes.size());
    for (size_t j = 0; j < kAllTypes.size(); ++j) {
        EXPECT_EQ(px.fields[j].name, kAllTypes[j].name);
        EXPECT_EQ(px.fields[j].type, kAllTypes[j].type);
    }
    ASSERT_EQ(px.rows.size(), kSamples.size() + 1);
    for (size_t i = 0; i < kSamples.size(); ++i) {
        const auto& r = px.rows[i];
        const Sample& x = kSamples[i];
        EXPECT_EQ(r[0].s, x.name);
        EXPECT_EQ(r[1].l, x.small);
        EXPECT_EQ(r[2].l, x.big);
        EXPECT_EQ(r[3].l, x.serial);
        EXPECT_EQ(r[4].d, x.amount);
        EXPECT_EQ(r[5].d, x.price);
        EXPECT_EQ(r[6].l != 0, x.flag);
        EXPECT_EQ(r[7].l, x.day);
        EXPECT_EQ(r[8].l, x.clock);
        EXPECT_EQ(r[9].d, x.stamp);
    }
    // All-zero bytes are blank; pxlib shows some blank numbers as 0 or as
    // the 32-bit minimum (what the all-zero bytes decode to) instead of null.
    for (const auto& v : px.rows.back())
        EXPECT_TRUE(v.isNull || (v.d == 0 && v.s.empty() && (v.l == 0 || v.l == -2147483648L))) << v.l;
}

TEST_F(ParadoxCodec, PxlibTableOpensInOurReader)
{
    std::vector<std::vector<pxio::Value>> rows;
    for (const Sample& x : kSamples)
        rows.push_back({pxio::Value::ofText(x.name), pxio::Value::ofLong(x.small), pxio::Value::ofLong(x.big),
                        pxio::Value::ofLong(x.serial), pxio::Value::ofDouble(x.amount), pxio::Value::ofDouble(x.price),
                        pxio::Value::ofLong(x.flag), pxio::Value::ofLong(x.day), pxio::Value::ofLong(x.clock),
                        pxio::Value::ofDouble(x.stamp)});
    rows.push_back(std::vector<pxio::Value>(kAllTypes.size()));
    pxio::writeTable(path("px.db"), kAllTypes, rows);

    Table t = readTableFile(path("px.db"));
    ASSERT_EQ(t.schema.fields.size(), kAllTypes.size());
    for (size_t j = 0; j < kAllTypes.size(); ++j) {
        EXPECT_EQ(t.schema.fields[j].name, kAllTypes[j].name);
        EXPECT_EQ(t.schema.fields[j].type, uint8_t(kAllTypes[j].type));
    }
    ASSERT_EQ(t.rows.size(), kSamples.size() + 1);
    const auto& f = t.schema.fields;
    for (size_t i = 0; i < kSamples.size(); ++i) {
        const uint8_t* r = t.rows.row(i);
        const Sample& x = kSamples[i];
        EXPECT_EQ(getText(r, f[0]), x.name);
        EXPECT_EQ(getInteger(r, f[1]), x.small);
        EXPECT_EQ(getInteger(r, f[2]), x.big);
        EXPECT_EQ(getInteger(r, f[3]), x.serial);
        EXPECT_EQ(getFloat(r, f[4]), x.amount);
        EXPECT_EQ(getFloat(r, f[5]), x.price);
        EXPECT_EQ(getLogical(r, f[6]), x.flag);
        EXPECT_EQ(getInteger(r, f[7]), x.day);
        EXPECT_EQ(getInteger(r, f[8]), x.clock);
        EXPECT_EQ(getFloat(r, f[9]), x.stamp);
    }
    const uint8_t* blank = t.rows.row(kSamples.size());
    for (const Field& fld : f)
        EXPECT_TRUE(isBlank(blank, fld)) << fld.name;
}

TEST_F(ParadoxCodec, ManyRecordsCrossBlocksBothWays)
{
    // Enough records for several hundred blocks in either writer.
    const std::vector<pxio::FieldDef> defs = {{"No", pxfLong, 4}, {"Value", pxfAlpha, 6}};
    std::vector<std::vector<pxio::Value>> rows;
    for (int i = 1; i <= 40000; ++i)
        rows.push_back({pxio::Value::ofLong(i), pxio::Value::ofText(std::to_string(i % 999999))});
    pxio::writeTable(path("px.db"), defs, rows);

    Table t = readTableFile(path("px.db"));
    ASSERT_EQ(t.rows.size(), 40000u);
    for (size_t i : {size_t(0), size_t(12345), size_t(39999)}) {
        EXPECT_EQ(getInteger(t.rows.row(i), t.schema.fields[0]), int32_t(i + 1));
        EXPECT_EQ(getText(t.rows.row(i), t.schema.fields[1]), std::to_string((i + 1) % 999999));
    }

    writeTableFile(path("ours.db"), t.schema, t.rows);
    pxio::ReadResult back = pxio::readTable(path("ours.db"));
    ASSERT_EQ(back.rows.size(), 40000u);
    for (size_t i : {size_t(0), size_t(20000), size_t(39999)})
        EXPECT_EQ(back.rows[i][0].l, long(i + 1));
}

TEST_F(ParadoxCodec, TextIsClampedToTheFieldLength)
{
    Schema s = Schema::make({{"Unit", ftAlpha, 2}, {"After", ftLong, 0}});
    RowStore rows(s.recordSize);
    uint8_t* r = rows.append();
    setText(r, s.fields[0], "k*extra");
    setInteger(r, s.fields[1], 7);
    EXPECT_EQ(getText(r, s.fields[0]), "k*");
    EXPECT_EQ(getInteger(r, s.fields[1]), 7);  // the neighbour is untouched
    writeTableFile(path("clamp.db"), s, rows);
    pxio::ReadResult px = pxio::readTable(path("clamp.db"));
    EXPECT_EQ(px.rows.at(0).at(0).s, "k*");
    EXPECT_EQ(px.rows.at(0).at(1).l, 7);
}

TEST_F(ParadoxCodec, RawBytesOfUninterpretedTypesSurviveACopy)
{
    Schema s = Schema::make({{"Id", ftLong, 0}, {"Note", ftMemo, 20}, {"Raw", ftBytes, 5}, {"Dec", ftBcd, 2}});
    RowStore rows(s.recordSize);
    uint8_t* r = rows.append();
    for (uint32_t i = 0; i < s.recordSize; ++i)
        r[i] = uint8_t(i * 7 + 1);
    writeTableFile(path("raw.db"), s, rows);
    Table t = readTableFile(path("raw.db"));
    ASSERT_EQ(t.rows.size(), 1u);
    EXPECT_EQ(std::memcmp(t.rows.row(0), r, s.recordSize), 0);
    EXPECT_EQ(t.schema.fields[3].length, 17);
}

TEST(ParadoxRowStore, EraseKeepsOrderAcrossChunks)
{
    RowStore rows(4096);  // 256 rows per chunk
    for (uint32_t i = 0; i < 1000; ++i)
        std::memcpy(rows.append(), &i, 4);
    for (size_t victim : {size_t(999), size_t(0), size_t(255), size_t(500)})
        rows.erase(victim);
    std::vector<uint32_t> expect;
    for (uint32_t i = 1; i < 999; ++i)
        if (i != 256 && i != 502)  // at rows 255 and 500 after the first removals
            expect.push_back(i);
    ASSERT_EQ(rows.size(), expect.size());
    for (size_t i = 0; i < rows.size(); ++i) {
        uint32_t v;
        std::memcpy(&v, rows.row(i), 4);
        ASSERT_EQ(v, expect[i]) << i;
    }
}

// ---- Damaged files ------------------------------------------------------------

namespace {

std::vector<uint8_t> validTable(int records)
{
    QTemporaryDir d;
    std::string p = (d.path() + "/t.db").toStdString();
    Schema s = Schema::make({{"No", ftLong, 0}, {"Value", ftAlpha, 6}});
    RowStore rows(s.recordSize);
    for (int i = 0; i < records; ++i)
        setInteger(rows.append(), s.fields[0], i);
    writeTableFile(p, s, rows);
    return slurp(p);
}

void put16(std::vector<uint8_t>& b, size_t at, uint16_t v)
{
    b[at] = uint8_t(v);
    b[at + 1] = uint8_t(v >> 8);
}

}  // namespace

TEST(ParadoxDamage, EachDamageGivesAClearError)
{
    const std::vector<uint8_t> good = validTable(1000);  // 409 records of 10 bytes per 4 KiB block: 3 blocks
    const size_t firstBlock = 0x800;
    struct Case {
        const char* what;
        std::function<void(std::vector<uint8_t>&)> damage;
        const char* message;
    };
    const std::vector<Case> cases = {
        {"empty file", [](auto& b) { b.clear(); }, "too short"},
        {"index file type", [](auto& b) { b[4] = 1; }, "is not a Paradox data table"},
        {"unknown version", [](auto& b) { b[0x39] = 40; }, "unsupported file version"},
        {"encrypted", [](auto& b) { b[0x5C] = 1; }, "password protected"},
        {"zero block size", [](auto& b) { b[5] = 0; }, "invalid block size"},
        {"record larger than a block", [](auto& b) { put16(b, 0, 5000); }, "invalid record size"},
        {"field sizes disagree", [](auto& b) { put16(b, 0, 11); }, "do not add up"},
        {"no fields", [](auto& b) { put16(b, 0x21, 0); }, "invalid number of fields"},
        {"huge field count", [](auto& b) { put16(b, 0x21, 60000); }, "invalid number of fields"},
        {"bad field type", [](auto& b) { b[0x78] = 0x7F; }, "invalid type or size"},
        {"header beyond file", [](auto& b) { put16(b, 2, 0xFFFF); b.resize(0x1000); }, "invalid header size"},
        {"names without end", [](auto& b) { std::fill(b.begin() + 0x78 + 4 + 4 + 8 + 261, b.begin() + 0x800, 'x'); }, "field names overrun"},
        {"truncated blocks", [](auto& b) { b.resize(0x800 + 4096 * 2 + 100); }, "shorter than its blocks"},
        {"link outside the file", [=](auto& b) { put16(b, firstBlock, 9999); }, "outside the file"},
        {"chain loops", [=](auto& b) { put16(b, firstBlock + 4096, 1); }, "loops"},
        {"overfull block", [=](auto& b) { put16(b, firstBlock + 4, 500 * 10); }, "invalid block fill"},
        {"odd block fill", [=](auto& b) { put16(b, firstBlock + 4, 15); }, "invalid block fill"},
        {"too many records counted", [](auto& b) { b[6] = 0xFF; b[7] = 0xFF; b[8] = 0xFF; }, "more records counted"},
        {"too few records counted", [](auto& b) { b[6] = 0x10; b[7] = 0; }, "more records than counted"},
        {"chain cut short", [=](auto& b) { put16(b, firstBlock, 0); }, "fewer records than counted"},
        {"no first block", [](auto& b) { put16(b, 0x0E, 0); }, "no data block"},
    };
    for (const Case& c : cases) {
        std::vector<uint8_t> b = good;
        c.damage(b);
        try {
            readTable(std::span<const uint8_t>(b), "t.db");
            ADD_FAILURE() << c.what << ": no error";
        } catch (const ParadoxError& e) {
            EXPECT_NE(std::string(e.what()).find(c.message), std::string::npos) << c.what << ": " << e.what();
            EXPECT_NE(std::string(e.what()).find("t.db"), std::string::npos) << c.what;
        }
    }
}

namespace {

std::vector<std::filesystem::path> filesIn(const char* sub)
{
    const char* src = envOr("QUELT_SOURCE_DIR", QUELT_SOURCE_DIR_DEFAULT);
    std::vector<std::filesystem::path> out;
    if (!src)
        return out;
    std::filesystem::path dir = std::filesystem::path(src) / "fuzz" / sub;
    if (std::filesystem::is_directory(dir))
        for (const auto& e : std::filesystem::directory_iterator(dir))
            if (e.is_regular_file())
                out.push_back(e.path());
    return out;
}

}  // namespace

TEST(ParadoxDamage, FuzzSeedTablesOpen)
{
    const auto files = filesIn("corpus");
    ASSERT_FALSE(files.empty()) << "QUELT_SOURCE_DIR not set or seed folder missing";
    for (const auto& p : files)
        EXPECT_NO_THROW(readTableFile(p.string())) << p;
}

// Damaged tables the fuzzer came up with, one for each check of the reader;
// each file is named after the words its error must contain.
TEST(ParadoxDamage, FuzzRegressionFilesGiveClearErrors)
{
    const auto files = filesIn("regressions");
    ASSERT_FALSE(files.empty());
    for (const auto& p : files) {
        std::string words = p.filename().string();
        std::replace(words.begin(), words.end(), '-', ' ');
        std::vector<uint8_t> b = slurp(p.string());
        try {
            readTable(std::span<const uint8_t>(b), "fuzz");
            ADD_FAILURE() << p << " read without error";
        } catch (const ParadoxError& err) {
            EXPECT_NE(std::string(err.what()).find("'fuzz'"), std::string::npos) << p << ": " << err.what();
            EXPECT_NE(QString::fromStdString(err.what()).indexOf(QString::fromStdString(words), 0, Qt::CaseInsensitive), -1) << p << ": " << err.what();
        }
    }
}
