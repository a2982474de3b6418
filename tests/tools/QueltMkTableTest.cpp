// quelt-mktable as a program: the empty log it makes, read back by pxlib and
// by the program's own table handle, and the files it refuses to touch.
#include "record/ReadingTable.h"
#include "support/PxlibIo.h"
#include "support/SampleLog.h"

#include <gtest/gtest.h>

#include <QProcess>
#include <QTemporaryDir>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

namespace {

std::vector<uint8_t> slurp(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

class QueltMkTable : public ::testing::Test {
protected:
    QTemporaryDir dir;
    std::string path(const char* name) const { return (dir.path() + "/" + name).toStdString(); }
};

}  // namespace

TEST_F(QueltMkTable, MakesAnEmptyLogThatPxlibAndTheHandleRead)
{
    const char* bin = std::getenv("QUELT_BIN_DIR");
    ASSERT_NE(bin, nullptr);
    const QString tool = QString::fromLocal8Bit(bin) + "/quelt-mktable";
    EXPECT_EQ(QProcess::execute(tool, {QString::fromStdString(path("Queltdb.DB"))}), 0);
    EXPECT_EQ(QProcess::execute(tool, {QString::fromStdString(path("no/such/dir/x.db"))}), 2);
    EXPECT_EQ(QProcess::execute(tool, {}), 2);
    // A file already there (it may be a log full of readings) is left alone.
    {
        std::ofstream(path("Kept.DB"), std::ios::binary) << "a day of readings";
    }
    EXPECT_EQ(QProcess::execute(tool, {QString::fromStdString(path("Kept.DB"))}), 1);
    const std::string kept = "a day of readings";
    EXPECT_EQ(slurp(path("Kept.DB")), std::vector<uint8_t>(kept.begin(), kept.end()));

    pxio::ReadResult px = pxio::readTable(path("Queltdb.DB"));
    std::vector<std::pair<std::string, char>> fields;
    for (const auto& f : px.fields)
        fields.emplace_back(f.name, f.type);
    EXPECT_EQ(fields, (std::vector<std::pair<std::string, char>>{{"No", pxfLong}, {"Time", pxfTime}, {"DC/AC", pxfAlpha}, {"Value", pxfAlpha}, {"Unit", pxfAlpha}, {"AUTO", pxfAlpha}, {"Nval", pxfNumber}}));
    EXPECT_TRUE(px.rows.empty());

    ReadingTable t;
    t.setTableName(path("Queltdb.DB"));
    t.open();
    AppendSampleReading(t, 1, "6.000");
    EXPECT_EQ(t.fieldText("value"), "6.000");
}
