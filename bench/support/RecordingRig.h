#pragma once
// An empty log table of its own in a temporary folder, open, and a recorder
// that writes the same reading into it at every call of Record(), with no
// limit and no interval: records go in as the recorder writes them.
#include <QDir>
#include <QTemporaryDir>

#include <string>

#include "meter/Reading.h"
#include "record/paradox/ParadoxTable.h"
#include "record/ReadingTable.h"
#include "record/Recorder.h"
#include "support/FakeClock.h"
#include "support/NullSeams.h"

struct RecordingRig {
    QTemporaryDir dir;
    const std::string path = QDir(dir.path()).filePath("Queltdb.DB").toStdString();
    ReadingTable table;
    RecorderState state;
    FakeClock clock;
    Recorder recorder{state, table, clock};
    Reading reading;
    const RecorderControls controls{};

    RecordingRig()
    {
        paradox::writeTableFile(path, ReadingLogSchema(), paradox::RowStore(ReadingLogSchema().recordSize));
        table.setTableName(path);
        table.open();
        state.RecordLimit = kLimitless;
        reading.ValueText = "1.234";
        reading.CountValue = 1234;
        reading.UnitText = "V";
        reading.CouplingText = "DC";
        reading.RangeModeText = "AUTO";
    }

    void Record() { recorder.INDataToTable(reading, controls); }
};
