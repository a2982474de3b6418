// The reading log's table layer against pxlib on the same work.
#include "record/ReadingTable.h"
#include "support/PxlibIo.h"

#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QTemporaryDir>

#include <malloc.h>

using namespace paradox;

namespace {

constexpr int kRecords = 1000000;

QTemporaryDir& tempDir()
{
    static QTemporaryDir dir;
    return dir;
}

std::string tempPath(const char* name)
{
    return (tempDir().path() + "/" + name).toStdString();
}

Schema logSchema()
{
    return Schema::make({{"No", ftLong, 0}, {"Time", ftTime, 0}, {"DC/AC", ftAlpha, 2}, {"Value", ftAlpha, 6}, {"Unit", ftAlpha, 2}, {"AUTO", ftAlpha, 4}, {"Nval", ftNumber, 0}});
}

const std::vector<pxio::FieldDef> kPxLog = {{"No", pxfLong, 4}, {"Time", pxfTime, 4}, {"DC/AC", pxfAlpha, 2}, {"Value", pxfAlpha, 6}, {"Unit", pxfAlpha, 2}, {"AUTO", pxfAlpha, 4}, {"Nval", pxfNumber, 8}};

RowStore logRows(const Schema& s, int n)
{
    RowStore rows(s.recordSize);
    for (int i = 1; i <= n; ++i) {
        uint8_t* r = rows.append();
        setInteger(r, s.fields[0], i);
        setInteger(r, s.fields[1], (i * 1000) % 86400000);
        setText(r, s.fields[2], "DC");
        setText(r, s.fields[3], "-1.234");
        setText(r, s.fields[4], "mV");
        setText(r, s.fields[5], "AUTO");
        setFloat(r, s.fields[6], -1234);
    }
    return rows;
}

// A 1 M-record log file written once, for the read benchmarks.
const std::string& millionFile()
{
    static const std::string path = [] {
        std::string p = tempPath("million.db");
        Schema s = logSchema();
        writeTableFile(p, s, logRows(s, kRecords));
        return p;
    }();
    return path;
}

size_t heapBytes()
{
    const struct mallinfo2 m = mallinfo2();
    return m.uordblks + m.hblkhd;  // small blocks and mmap-ed ones
}

void appendRecords(ReadingTable& t, int n)
{
    const QTime time(12, 34, 56);
    for (int i = 1; i <= n; ++i) {
        t.append();
        t.setFieldString("Value", "-1.234");
        t.setFieldFloat("Nval", -1234);
        t.setFieldTime("Time", time);
        t.setFieldInteger("No", i);
        t.setFieldString("DC/AC", "DC");
        t.setFieldString("Unit", "mV");
        t.setFieldString("AUTO", "AUTO");
        t.post();
    }
}

// Appending pending records through the handle, as the recorder does; the
// counter is the heap growth per record. (pxlib has no in-memory append: its
// append is the file write measured by BM_PxlibWriteTable.)
void BM_AppendPending(benchmark::State& state)
{
    const int n = int(state.range(0));
    const std::string file = tempPath("empty.db");
    Schema s = logSchema();
    writeTableFile(file, s, RowStore(s.recordSize));
    double perRecord = 0;
    for (auto _ : state) {
        ReadingTable t;
        t.setTableName(file);
        t.open();
        const size_t before = heapBytes();
        appendRecords(t, n);
        perRecord = double(heapBytes() - before) / n;
        benchmark::DoNotOptimize(t.recordCount());
    }
    state.counters["bytes/record"] = perRecord;
    state.SetItemsProcessed(state.iterations() * n);
}
BENCHMARK(BM_AppendPending)->Arg(kRecords)->Arg(10000001)->Unit(benchmark::kMillisecond)->Iterations(1);

void BM_ReadTable(benchmark::State& state)
{
    const std::string& file = millionFile();
    for (auto _ : state) {
        Table t = readTableFile(file);
        benchmark::DoNotOptimize(t.rows.size());
    }
    state.SetItemsProcessed(state.iterations() * kRecords);
}
BENCHMARK(BM_ReadTable)->Unit(benchmark::kMillisecond);

void BM_OpenAndWalkTable(benchmark::State& state)
{
    const std::string& file = millionFile();
    for (auto _ : state) {
        ReadingTable t;
        t.setTableName(file);
        t.open();
        size_t chars = 0;
        for (t.first(); !t.eof(); t.next())
            chars += t.fieldText("Value").size();
        benchmark::DoNotOptimize(chars);
    }
    state.SetItemsProcessed(state.iterations() * kRecords);
}
BENCHMARK(BM_OpenAndWalkTable)->Unit(benchmark::kMillisecond)->Iterations(2);

void BM_PxlibReadTable(benchmark::State& state)
{
    const std::string& file = millionFile();
    for (auto _ : state) {
        pxdoc_t* doc = PX_new();
        PX_open_file(doc, file.c_str());
        std::vector<char> rec(30);
        int n = PX_get_num_records(doc);
        for (int i = 0; i < n; ++i)
            PX_get_record(doc, i, rec.data());
        PX_close(doc);
        PX_delete(doc);
        benchmark::DoNotOptimize(n);
    }
    state.SetItemsProcessed(state.iterations() * kRecords);
}
BENCHMARK(BM_PxlibReadTable)->Unit(benchmark::kMillisecond)->Iterations(2);

void BM_WriteTable(benchmark::State& state)
{
    Schema s = logSchema();
    RowStore rows = logRows(s, kRecords);
    for (auto _ : state)
        writeTableFile(tempPath("out.db"), s, rows);
    state.SetItemsProcessed(state.iterations() * kRecords);
}
BENCHMARK(BM_WriteTable)->Unit(benchmark::kMillisecond);

void BM_PxlibWriteTable(benchmark::State& state)
{
    Schema s = logSchema();
    RowStore rows = logRows(s, kRecords);
    for (auto _ : state) {
        pxdoc_t* doc = PX_new();
        auto* f = static_cast<pxfield_t*>(doc->malloc(doc, int(kPxLog.size() * sizeof(pxfield_t)), const_cast<char*>("f")));
        for (size_t i = 0; i < kPxLog.size(); ++i)
            f[i] = pxfield_t{PX_strdup(doc, kPxLog[i].name.c_str()), kPxLog[i].type, kPxLog[i].len, 0};
        PX_create_file(doc, f, int(kPxLog.size()), tempPath("px-out.db").c_str(), pxfFileTypNonIndexDB);
        for (size_t i = 0; i < rows.size(); ++i)
            PX_put_record(doc, reinterpret_cast<char*>(const_cast<uint8_t*>(rows.row(i))));
        PX_close(doc);
        PX_delete(doc);
    }
    state.SetItemsProcessed(state.iterations() * kRecords);
}
BENCHMARK(BM_PxlibWriteTable)->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace
