// The USB cable in the window, on a scripted cable: frames reach the
// displays, "COM Connect" leaves the USB reader running, and the silence
// watchdog of the connection timer ends the link after 1900 empty reports.
#include "WindowFixture.h"

#include "support/RunUntil.h"

#include <QLabel>
#include <QTest>

namespace {

using Bytes = std::vector<uint8_t>;

// The frame of a reading as the cable sends it: 7 + 7 meter bytes (the frame,
// then the lead byte of the next run), then a report without meter bytes.
std::vector<Bytes> CableFrame(const char* digits)
{
    const Bytes run = MeterRun('+', digits, '0', 0x20, 0x00, 0x00, 0x80);  // AUTO, volts
    Bytes burst(run.begin() + 1, run.end());
    burst.push_back(run[0]);
    std::vector<Bytes> reports;
    for (size_t at = 0; at < burst.size(); at += 7) {
        Bytes r{0x00, 0x07};  // report ID 0, seven meter bytes
        r.insert(r.end(), burst.begin() + long(at), burst.begin() + long(at + 7));
        reports.push_back(r);
    }
    reports.push_back(Bytes(9, 0x00));
    return reports;
}

struct CableWindow : WindowFixture {
    std::shared_ptr<FakeHidNode> cable;
    CableWindow()
    {
        cable = hid.Plug({});
        hid.Notify();
    }
    THidDevice* Device() const { return Parts(*w).usbLink.state.CurrentDevice; }
};

TEST(UsbCable, FramesFromTheCableReachTheDisplaysAlsoAfterComConnect)
{
    CableWindow f;
    TFCOMM& w = *f.w;
    Click(Parts(w).ui->USBCon);
    ASSERT_TRUE(Parts(w).ui->USBCon->isChecked());
    ASSERT_NE(f.Device(), nullptr);
    ASSERT_TRUE(f.Device()->Reading());
    for (const Bytes& r : CableFrame("1234"))
        f.cable->Queue(r);
    ASSERT_TRUE(RunUntil([&] { return Parts(w).reading.ValueText == "1234"; })) << Parts(w).reading.ValueText;

    // "COM Connect" raises "USB Connect" without running its command.
    Click(Parts(w).ui->COMCon);
    EXPECT_FALSE(Parts(w).ui->USBCon->isChecked());
    EXPECT_TRUE(f.Device()->Reading());
    for (const Bytes& r : CableFrame("5678"))
        f.cable->Queue(r);
    ASSERT_TRUE(RunUntil([&] { return Parts(w).reading.ValueText == "5678"; })) << Parts(w).reading.ValueText;
    // The arrival, the set-up report and four report lines.
    EXPECT_EQ(Parts(w).usbLink.HistoryListBox().rowCount(), 6);
    EXPECT_EQ(Parts(w).ui->HistoryListBox->currentIndex().row(), 5);
}

TEST(UsbCable, SilenceWatchdogEndsTheLinkAtNineteenHundredEmptyReports)
{
    for (const int empties : {1899, 1900}) {
        CableWindow f;
        TFCOMM& w = *f.w;
        Click(Parts(w).ui->USBCon);
        ASSERT_TRUE(f.Device()->Reading());
        const Bytes empty(8, 0x00);
        for (int i = 0; i < empties; ++i)
            Parts(w).usbLink.HidDataTormo(f.Device(), 0, empty.data(), uint16_t(empty.size()));
        for (int tick = 0; tick < 6; ++tick)
            w.ConTimerTimer();
        const bool ends = empties >= 1900;
        EXPECT_EQ(Parts(w).ui->USBCon->isChecked(), !ends) << empties;
        EXPECT_EQ(f.Device()->Reading(), !ends) << empties;
        EXPECT_EQ(Parts(w).usbLink.state.UsbIdleReports, ends ? 0 : empties) << empties;
        EXPECT_EQ(f.dialogs.questions,
                  ends ? QStringList{"USB interface cable is securely connected, please check if the meter is ready."}
                       : QStringList{})
            << empties;
    }
}

TEST(UsbCable, HiddenUsbControlsLieOutOfView)
{
    WindowFixture f;
    Ui::TFCOMM& ui = *Parts(*f.w).ui;
    for (QWidget* c : std::initializer_list<QWidget*>{ui.SetFeature, ui.ReadBtn, ui.ClearBtn, ui.InfoBtn,
                                                      ui.DevListBox, ui.HistoryListBox, ui.USBtxt}) {
        const bool outside = c->x() >= 614 || c->y() >= 455 || c->width() == 0 || c->isHidden();
        EXPECT_TRUE(outside) << c->objectName().toStdString();
    }
    EXPECT_EQ(ui.SetFeature->text(), "SetFeature");
    EXPECT_EQ(ui.ReadBtn->text(), "Read");
    EXPECT_TRUE(ui.ReadBtn->isCheckable());
    EXPECT_EQ(ui.ClearBtn->text(), "Clear");
    EXPECT_EQ(ui.InfoBtn->text(), "Info");
    EXPECT_EQ(ui.DevListBox->width(), 0);
    EXPECT_EQ(ui.HistoryListBox->width(), 0);
}

}  // namespace
