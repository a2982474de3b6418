#pragma once
// Reading logs for tests and benchmarks: a log table file of numbered sample
// records written at once, and one sample reading posted to an open table.
// Header-only, so it needs no test framework.
#include <QTime>
#include <string>

#include "record/ReadingTable.h"
#include "record/Recorder.h"
#include "record/paradox/ParadoxTable.h"

// Writes a log table of `records` records to `path`: No 1, 2, ..., times from
// 12:00:01 on, the values "1.234" and "-0.567" in turn, kΩ DC AUTO.
inline void WriteSampleLog(const std::string& path, int records)
{
    using namespace paradox;
    const Schema schema = ReadingLogSchema();
    RowStore rows(schema.recordSize);
    auto field = [&](const char* name) { return schema.fields[size_t(schema.find(name))]; };
    const Field no = field("No"), time = field("Time"), coupling = field("DC/AC"), value = field("Value"),
                unit = field("Unit"), range = field("AUTO"), nval = field("Nval");
    for (int i = 1; i <= records; ++i) {
        uint8_t* r = rows.append();
        setInteger(r, no, i);
        setInteger(r, time, (12 * 3600 + i % 43200) * 1000);
        setText(r, coupling, "DC");
        setText(r, value, i % 2 ? "1.234" : "-0.567");
        setText(r, unit, "k*");
        setText(r, range, "AUTO");
        setFloat(r, nval, 1234);
    }
    writeTableFile(path, schema, rows);
}

// Appends and posts one reading, No `no` with `value`, kΩ DC AUTO.
inline void AppendSampleReading(ReadingTable& t, int no, const char* value, const QTime& time = QTime(13, 5, 9))
{
    t.append();
    t.setFieldString("value", value);
    t.setFieldFloat("Nval", 1234);
    t.setFieldTime("time", time);
    t.setFieldInteger("no", no);
    t.setFieldString("DC/AC", "DC");
    t.setFieldString("unit", "k*");
    t.setFieldString("Auto", "AUTO");
    t.post();
}
