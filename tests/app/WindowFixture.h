#pragma once
// Builds the window with fakes for every seam.
#include <gtest/gtest.h>

#include <QDir>
#include <QTemporaryDir>
#include <memory>
#include <vector>

#include "platform/Clock.h"
#include "record/Recorder.h"

#include "app/TFCOMM.h"
#include "support/FakeDialogs.h"
#include "support/FakeHidBackend.h"
#include "support/FakeSerialDevice.h"
#include "ui_TFCOMM.h"

class FakeClock final : public IClock {
public:
    QTime now{12, 34, 56};
    QTime timeOfDay() override { return now; }
};

// Creates an empty reading log table at path.
inline void MakeLogTable(const QString& path)
{
    paradox::writeTableFile(path.toStdString(), ReadingLogSchema(), paradox::RowStore(ReadingLogSchema().recordSize));
}

// Runs the window in a working directory of its own that holds an empty log.
struct WindowFixture {
    QTemporaryDir workDir;
    FakeClock clock;
    FakeDialogs dialogs;
    FakeBeeper beeper;
    std::shared_ptr<FakeSerialLine> line = std::make_shared<FakeSerialLine>();
    FakeHidBackend hid;
    std::unique_ptr<TFCOMM> w;

    explicit WindowFixture(std::optional<std::array<bool, kProfileFlagCount>> flags = std::nullopt,
                           bool withLog = true)
    {
        if (withLog) MakeLogTable(QDir(workDir.path()).filePath("Queltdb.DB"));
        const QString previous = QDir::currentPath();
        QDir::setCurrent(workDir.path());
        w = std::make_unique<TFCOMM>(AppServices{dialogs, beeper, FakeSerialFactory(line), &clock, &hid}, flags);
        QDir::setCurrent(previous);
    }

    // Feeds bytes as the serial component delivers them.
    void Feed(const std::vector<uint8_t>& bytes) { w->ReceiveData(bytes.data(), int32_t(bytes.size())); }
};

// A 14-byte run: lead byte, sign, four digits, spare, point code, four status bytes, bar, 0x0D.
inline std::vector<uint8_t> MeterRun(char sign, const char* digits, char point = '0', uint8_t s1 = 0,
                                     uint8_t s2 = 0, uint8_t s3 = 0, uint8_t s4 = 0)
{
    return {0x0A, uint8_t(sign), uint8_t(digits[0]), uint8_t(digits[1]), uint8_t(digits[2]),
            uint8_t(digits[3]), 0x20, uint8_t(point), s1, s2, s3, s4, 0x00, 0x0D};
}
