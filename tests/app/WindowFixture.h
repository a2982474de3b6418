#pragma once
// Builds the window with fakes for every seam.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <memory>
#include <vector>

#include "record/Recorder.h"

#include "app/TFCOMM.h"
#include "support/FakeClock.h"
#include "support/FakeDialogs.h"
#include "support/FakeHidBackend.h"
#include "support/FakeSerialDevice.h"
#include "support/MeterRun.h"
#include "support/WindowParts.h"
#include "ui_TFCOMM.h"

// Creates a reading log table at path with `records` records: No 1, 2, ...
// and the Value "0001", "0002", ...
inline void MakeLogTable(const QString& path, int records = 0)
{
    const paradox::Schema schema = ReadingLogSchema();
    paradox::RowStore rows(schema.recordSize);
    for (int i = 1; i <= records; ++i) {
        uint8_t* row = rows.append();
        paradox::setInteger(row, schema.fields[size_t(schema.find("No"))], i);
        paradox::setText(row, schema.fields[size_t(schema.find("Value"))], QString::asprintf("%04d", i).toStdString());
    }
    paradox::writeTableFile(path.toStdString(), schema, rows);
}

// Makes `dir` the working directory while it lives; the one before comes
// back however the scope ends (an assertion that returns early included).
class InDirectory {
public:
    explicit InDirectory(const QString& dir) : previous_(QDir::currentPath()) { QDir::setCurrent(dir); }
    ~InDirectory() { QDir::setCurrent(previous_); }
    InDirectory(const InDirectory&) = delete;
    InDirectory& operator=(const InDirectory&) = delete;

private:
    QString previous_;
};

// Runs the window in a working directory of its own that holds an empty log.
struct WindowFixture {
    QTemporaryDir workDir;
    FakeClock clock;
    FakeDialogs dialogs;
    FakeBeeper beeper;
    std::shared_ptr<FakeSerialLine> line = std::make_shared<FakeSerialLine>();
    FakeHidBackend hid;
    std::optional<std::array<bool, kProfileFlagCount>> flags;
    AppSettings* settings = nullptr;  // the kept settings the window applies and writes; none
    std::unique_ptr<TFCOMM> w;

    // `logRecords`: records the log holds when the program starts.
    explicit WindowFixture(std::optional<std::array<bool, kProfileFlagCount>> profileFlags = std::nullopt,
                           bool withLog = true, int logRecords = 0, AppSettings* keptSettings = nullptr)
        : flags(profileFlags),
          settings(keptSettings)
    {
        if (withLog) MakeLogTable(QDir(workDir.path()).filePath("Queltdb.DB"), logRecords);
        Start();
    }

    // Starts the program in the working directory. After `w.reset()`, a run
    // that ended without the user's exit (its journal is left behind).
    void Start()
    {
        InDirectory in(workDir.path());
        AppServices services{dialogs, beeper, clock, hid, FakeSerialFactory(line)};
        services.settings = settings;
        w = std::make_unique<TFCOMM>(services, flags);
    }

    // Feeds bytes as the serial component delivers them.
    void Feed(const std::vector<uint8_t>& bytes) { w->ReceiveData(bytes.data(), int32_t(bytes.size())); }
};

// A left click on a widget, as the user gives it.
inline void Click(QWidget* w) { QTest::mouseClick(w, Qt::LeftButton); }

// The whole content of a file; empty when it cannot be read.
inline QByteArray FileBytes(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}
