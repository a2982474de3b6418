// libFuzzer target: the window's whole frame path, offscreen. Bytes go in
// through the serial receive routine or input reports through the USB cable;
// each frame is decoded and shown on every display in the window's order
// (indicator, panel, limit alarm and MAX/MIN, digits, dial, recorder, bar,
// chart), and a frame that fails to decode goes to the general error report.
// Never a crash; the error report never stays open; the state stays bounded.
//
// Input: the first byte's low bit picks the path (0: serial, 1: USB) and the
// rest of it seeds the serial delivery sizes (1 to 32 bytes each). USB input
// is read as in fuzz_usb_bursts: a length byte (its low six bits), then that
// many report bytes; the report ID is the length byte's top two bits.
#include <QApplication>
#include <QDir>
#include <QProgressBar>
#include <QTemporaryDir>
#include <cstdlib>
#include <memory>

#include "app/TFCOMM.h"
#include "record/Recorder.h"
#include "record/paradox/ParadoxTable.h"
#include "support/FakeClock.h"
#include "support/NullSeams.h"
#include "support/WindowParts.h"
#include "ui_TFCOMM.h"

namespace {

// One window for the whole run, as on the line: its state carries over from
// one input to the next. Its reading log lives in a folder of its own.
struct Rig {
    QTemporaryDir dir;
    SilentDialogs dialogs;
    SilentBeeper beeper;
    FakeClock clock;
    NoHidBackend hid;
    std::unique_ptr<TFCOMM> w;
    int inputs = 0;

    Rig()
    {
        paradox::writeTableFile(QDir(dir.path()).filePath("Queltdb.DB").toStdString(), ReadingLogSchema(),
                                paradox::RowStore(ReadingLogSchema().recordSize));
        const QString previous = QDir::currentPath();
        QDir::setCurrent(dir.path());
        w = std::make_unique<TFCOMM>(AppServices{dialogs, beeper, clock, hid, {}});  // no serial port
        QDir::setCurrent(previous);
    }
};

Rig& TheRig()
{
    static int argc = 1;
    static char name[] = "fuzz_window_frames";
    static char* argv[] = {name, nullptr};
    static QApplication* app = [] {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        return new QApplication(argc, argv);
    }();
    (void)app;
    static Rig* rig = new Rig;
    return *rig;
}

}  // namespace

// The font library's caches, made once for the process when the window first
// lays out text and never given back; not ours.
extern "C" const char* __lsan_default_suppressions()
{
    return "leak:libfontconfig.so\n";
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    Rig& rig = TheRig();
    TFCOMM& w = *rig.w;
    WindowParts parts(w);
    const bool usb = data[0] & 1;
    uint32_t seed = (data[0] >> 1) * 2654435761u + 1;
    ++data;
    --size;

    size_t at = 0;
    while (at < size) {
        if (usb) {
            const uint8_t head = data[at++];
            const size_t n = std::min<size_t>(head & 0x3F, size - at);
            // As the cable runs a report handler of an attached device: inside
            // the window's guard, a failure shown after the hand-over.
            parts.errors.GuardPosted(
                [&] { parts.usbLink.HidDataTormo(nullptr, uint8_t(head >> 6), data + at, uint16_t(n)); });
            at += n;
        } else {
            seed = seed * 1103515245u + 12345u;
            const size_t n = std::min<size_t>(1 + (seed >> 16) % 32, size - at);
            w.ReceiveData(data + at, int32_t(n));
            at += n;
        }
        if (parts.assembler.HexAccumulator.size() > 4096 ||
            parts.usbLink.state.UsbBurstText.size() > 2 * UsbCableLink::kBurstBytes)
            std::abort();
    }
    // The reports and notices posted meanwhile are shown (and answered).
    QCoreApplication::processEvents();
    if (parts.errors.IsOpen())
        std::abort();
    const QProgressBar* bar = parts.ui->PBar2;
    if (bar->value() < bar->minimum() || bar->value() > bar->maximum())
        std::abort();
    // The chart and the log start again now and then, so a long run stays small.
    if (++rig.inputs % 2000 == 0) {
        w.BtNewClick();
        parts.recorderState.NextRecordNo = 1;
    }
    return 0;
}
