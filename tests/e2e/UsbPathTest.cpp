// The USB path end to end: the window on the system's HID devices (the Linux
// backend, unchanged), with the meter's cable emulated by umockdev. The cable
// is plugged in, "USB Connect" is clicked as a user clicks it, the meter's
// frames come as bursts of input reports, and the silence watchdog ends the
// link. meter-sim --usb is started as a user starts it.
#include "LiveRig.h"

#include "EmulatedHidBus.h"
#include "MeterFrame.h"
#include "UsbCable.h"

namespace e2e {
namespace {

using Bytes = std::vector<uint8_t>;

// The window and the emulated bus it sees; the bus is made first.
struct UsbRig {
    Workspace ws;
    std::unique_ptr<EmulatedHidBus> bus;
    std::unique_ptr<LiveWindow> window;
    int cable = 0;

    UsbRig()
    {
        EXPECT_TRUE(EmulatedHidBus::PreloadActive()) << "run with LD_PRELOAD=" << EmulatedHidBus::PreloadLibrary();
        bus = std::make_unique<EmulatedHidBus>();
        EmulatedHidBus::Device keyboard;
        keyboard.product = "Keyboard";
        bus->Plug(keyboard);
        cable = bus->Plug({});
        window = std::make_unique<LiveWindow>(ws.Path());
    }
    ~UsbRig()
    {
        window.reset();
        bus.reset();
    }
    TFCOMM& W() { return *window->w; }
    // The meter's next frames as the cable sends them.
    void Send(const metersim::Display& d)
    {
        const auto run = metersim::EncodeRun(d);
        auto reports = metersim::CableReports(metersim::CableBurst(Bytes(run.begin(), run.end())));
        reports.push_back(metersim::EmptyCableReport());
        bus->Queue(cable, reports);
    }
};

TEST(UsbPath, FramesFromTheCableReachTheDisplaysAndTheLog)
{
    UsbRig rig;
    TFCOMM& w = rig.W();
    ASSERT_EQ(Parts(w).usbLink.DevListBox().stringList(), (QStringList{"Keyboard", "USB to Serial"}));
    ASSERT_EQ(Parts(w).usbLink.Selected(), 1);

    QTest::mouseClick(Parts(w).ui->USBCon, Qt::LeftButton);
    ASSERT_TRUE(Parts(w).ui->USBCon->isChecked());
    EXPECT_EQ(rig.bus->Features(rig.cable), (std::vector<Bytes>{{0x00, 0x60, 0x09, 0x00, 0x00, 0x03, 0, 0, 0, 0}}));

    namespace flag = metersim::flag;
    rig.Send(metersim::Reading(5012, 1, flag::Auto | flag::Dc | flag::Volt));
    rig.Send(metersim::Reading(5012, 1, flag::Auto | flag::Dc | flag::Volt));
    ASSERT_TRUE(WaitFor([&] { return rig.bus->Queued(rig.cable) == 0; }));
    ASSERT_TRUE(WaitFor([&] { return Parts(w).readingTable.recordCount() == 2; }));
    EXPECT_EQ(Parts(w).reading.UnitText, "V");
    EXPECT_EQ(Parts(w).reading.CouplingText, "DC");
    EXPECT_EQ(Parts(w).reading.RangeModeText, "AUTO");
    const QString digits = Parts(w).ui->LcdDa->text() + Parts(w).ui->LcdDb->text() + Parts(w).ui->LcdDc->text() + Parts(w).ui->LcdDd->text();
    EXPECT_EQ(digits, "5012");
    EXPECT_EQ(Parts(w).ui->MaxText->text(), "5.012");

    rig.Send(metersim::Reading(-123, 2, flag::Ac | flag::Milli | flag::Ampere));
    ASSERT_TRUE(WaitFor([&] { return Parts(w).reading.ValueText == "-01.23"; })) << Parts(w).reading.ValueText;
    EXPECT_EQ(Parts(w).reading.UnitText, "mA");
    EXPECT_EQ(Parts(w).reading.CouplingText, "AC");
    EXPECT_TRUE(rig.window->Boxes().isEmpty()) << rig.window->Boxes().join(" | ").toStdString();
}

TEST(UsbPath, SilenceEndsTheLinkWithTheWatchdogsMessage)
{
    UsbRig rig;
    TFCOMM& w = rig.W();
    QTest::mouseClick(Parts(w).ui->USBCon, Qt::LeftButton);
    THidDevice* device = Parts(w).usbLink.state.CurrentDevice;
    ASSERT_TRUE(device && device->Reading());
    rig.bus->Queue(rig.cable, std::vector<Bytes>(1899, metersim::EmptyCableReport()));
    ASSERT_TRUE(WaitFor([&] { return rig.bus->Queued(rig.cable) == 0; }));
    rig.bus->Queue(rig.cable, {metersim::EmptyCableReport()});
    const QString message = "USB interface cable is securely connected, please check if the meter is ready.";
    ASSERT_TRUE(WaitFor([&] { return rig.window->dialogs.questions.contains(message); }));
    EXPECT_FALSE(Parts(w).ui->USBCon->isChecked());
    EXPECT_FALSE(device->Reading());
}

TEST(UsbPath, UnplugWhileConnectedAndPlugInAgain)
{
    UsbRig rig;
    TFCOMM& w = rig.W();
    QTest::mouseClick(Parts(w).ui->USBCon, Qt::LeftButton);
    ASSERT_TRUE(Parts(w).usbLink.state.CurrentDevice && Parts(w).usbLink.state.CurrentDevice->Reading());
    rig.bus->Unplug(rig.cable);
    ASSERT_TRUE(WaitFor([&] { return Parts(w).usbLink.DevListBox().stringList() == QStringList{"Keyboard"}; }));
    EXPECT_EQ(Parts(w).usbLink.Selected(), -1);
    EXPECT_TRUE(Parts(w).usbLink.HistoryListBox().stringList().contains("Removal of USB to Serial"));
    for (const auto& line : Parts(w).usbLink.DevList())
        EXPECT_FALSE(line.device->Reading());

    rig.cable = rig.bus->Plug({});
    ASSERT_TRUE(WaitFor([&] { return Parts(w).usbLink.Selected() == 1; }));
    QTest::mouseClick(Parts(w).ui->USBCon, Qt::LeftButton);  // up: the disconnect steps
    QTest::mouseClick(Parts(w).ui->USBCon, Qt::LeftButton);  // down: reading again
    rig.Send(metersim::Reading(42, 0, metersim::flag::Dc | metersim::flag::Volt));
    ASSERT_TRUE(WaitFor([&] { return Parts(w).reading.ValueText == "0042"; })) << Parts(w).reading.ValueText;
}

TEST(UsbPath, MeterSimPlaysTheCableForAProgram)
{
    Workspace ws;
    ChildProcess sim(BinDir() + "/meter-sim",
                     {"--usb", "--count", "2", "--", "/bin/sh", "-c", "test -c /dev/hidraw0 && ls /sys/class/hidraw"},
                     ws.Path(), ws.File("meter-sim.log"));
    const std::optional<int> status = sim.WaitEnded();
    ASSERT_TRUE(status.has_value());
    EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 0) << sim.Log().toStdString();
    EXPECT_TRUE(sim.Log().contains("hidraw0")) << sim.Log().toStdString();
}

}  // namespace
}  // namespace e2e
