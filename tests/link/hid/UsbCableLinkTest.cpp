// The USB cable component on scripted devices: the device list and the
// choice of the cable, "USB Connect" with its set-up report, the report
// handlers and bursts, the caps of the log and of a burst, and the message
// when the cable cannot be opened.
#include <gtest/gtest.h>

#include "link/hid/UsbCableLink.h"
#include "support/FakeDialogs.h"
#include "support/FakeHidBackend.h"
#include "support/RunUntil.h"

#include <QFile>

namespace {

using Bytes = std::vector<uint8_t>;

// The component with a controller, as the window installs them, and its
// buttons and decoder written down.
struct Rig {
    FakeHidBackend backend;
    FakeDialogs dialogs;
    std::unique_ptr<THidDeviceController> ctl;
    std::unique_ptr<UsbCableLink> link;
    bool usbCon = false;
    bool readBtn = false;
    UsbProfileFlags flags{false, false, false, true};
    std::vector<std::string> frameTexts;
    int decoded = 0;

    void Start()
    {
        ctl = std::make_unique<THidDeviceController>(backend);
        UsbCableLink::Hooks h;
        h.usbConDown = [this] { return usbCon; };
        h.raiseUsbCon = [this] { usbCon = false; };
        h.readBtnDown = [this] { return readBtn; };
        h.raiseReadBtn = [this] { readBtn = false; };
        h.profile = [this] { return flags; };
        h.burstEnded = [this](const std::string& t) { frameTexts.push_back(t); };
        h.decode = [this](const std::string& t) {
            EXPECT_EQ(t, frameTexts.back());  // the burst that just ended
            ++decoded;
        };
        h.guard = [](const std::function<void()>& f) { f(); };
        link = std::make_unique<UsbCableLink>(*ctl, dialogs, h);
        ctl->OnArrival = THidPlugEvent(link.get(), &UsbCableLink::HidCtlArrival);
        ctl->OnEnumerate = THidEnumerateEvent(link.get(), &UsbCableLink::HidCtlEnumerate);
        ctl->SetOnDeviceChange(TNotifyEvent(link.get(), &UsbCableLink::HidCtlDeviceChange));
        ctl->SetOnDeviceDataError(THidDataErrorEvent(link.get(), &UsbCableLink::HidCtlDeviceDataError));
        ctl->OnRemoval = THidPlugEvent(link.get(), &UsbCableLink::HidCtlRemoval);
    }
    ~Rig()
    {
        link.reset();
        ctl.reset();
    }
    void PressUsbConnect()
    {
        usbCon = !usbCon;
        link->USBConClick();
    }
    THidDevice* Selected() const
    {
        return link->Selected() < 0 ? nullptr : link->DevList()[size_t(link->Selected())].device;
    }
    QStringList Lines() const
    {
        QStringList l;
        for (const auto& line : link->DevList())
            l << line.text;
        return l;
    }
    QStringList Log() const { return link->HistoryListBox().stringList(); }
    void Report(const Bytes& data) { link->HidDataTormo(nullptr, 0, data.data(), uint16_t(data.size())); }
};

FakeHidDeviceInfo Device(const std::u16string& product, const std::u16string& serial = u"")
{
    FakeHidDeviceInfo s;
    s.product = product;
    s.serial = serial;
    return s;
}

TEST(UsbCableLink, DeviceListNamesEveryDeviceAndSelectsTheLastCable)
{
    Rig r;
    FakeHidDeviceInfo anonymous = Device(u"");
    anonymous.attributes = {0x1A2B, 0x00C3, 0};
    r.backend.Plug(Device(u"USB to Serial"));
    r.backend.Plug(Device(u"USB to Serial", u"0001"));
    r.backend.Plug(anonymous);
    auto second = r.backend.Plug(Device(u"USB to Serial"));
    r.backend.Plug(Device(u"Keyboard"));
    r.Start();
    EXPECT_EQ(r.Lines(), (QStringList{"USB to Serial", "USB to Serial (Serial=0001)", "Device VID=1A2B PID=00C3",
                                      "USB to Serial", "Keyboard"}));
    EXPECT_EQ(r.link->Selected(), 3);
    EXPECT_EQ(r.link->DevListBox().stringList(), r.Lines());
    for (const auto& line : r.link->DevList())
        EXPECT_TRUE(line.device && line.device->CheckedOut());
    r.PressUsbConnect();
    EXPECT_EQ(second->Features().size(), 1u);
}

TEST(UsbCableLink, WithoutTheCableUsbConnectSaysSoAndComesUp)
{
    Rig r;
    r.backend.Plug(Device(u"USB to Serial", u"0001"));  // a serial number: not the cable
    r.backend.Plug(Device(u"Keyboard"));
    r.Start();
    r.PressUsbConnect();
    EXPECT_EQ(r.dialogs.questions,
              QStringList{"USB interface cable is not securely connected, please check and re-try."});
    EXPECT_FALSE(r.usbCon);
    EXPECT_EQ(r.link->DevList().size(), 2u);
    EXPECT_EQ(r.link->state.CurrentDevice, nullptr);
}

TEST(UsbCableLink, UsbConnectSendsTheSetUpReportOnEachPressAndReadsWhileDown)
{
    Rig r;
    auto cable = r.backend.Plug(Device(u"USB to Serial"));
    r.Start();
    r.link->state.UsbIdleReports = 55;
    r.PressUsbConnect();
    ASSERT_NE(r.Selected(), nullptr);
    EXPECT_TRUE(r.Selected()->Reading());
    EXPECT_EQ(r.link->state.CurrentDevice, r.Selected());
    EXPECT_EQ(r.link->state.UsbIdleReports, 0);
    r.PressUsbConnect();
    EXPECT_FALSE(r.Selected()->Reading());
    const Bytes setup{0x00, 0x60, 0x09, 0x00, 0x00, 0x03, 0x00, 0x00, 0x00, 0x00};
    EXPECT_EQ(cable->Features(), (std::vector<Bytes>{setup, setup}));
    EXPECT_EQ(r.Log(), (QStringList{"00 60 09 00 00 03 00 00 00 00 ", "00 60 09 00 00 03 00 00 00 00 "}));
    EXPECT_TRUE(r.dialogs.questions.isEmpty());
}

TEST(UsbCableLink, SetUpSpeedAndHandlerFollowTheProfile)
{
    const struct {
        UsbProfileFlags flags;
        Bytes speed;
        bool reads;
    } cases[] = {
        {{false, false, false, true}, {0x60, 0x09, 0x00, 0x00}, true},
        {{false, false, true, false}, {0x00, 0x4B, 0x00, 0x00}, false},
        {{false, false, true, true}, {0x60, 0x09, 0x00, 0x00}, true},
        {{true, false, true, false}, {0x60, 0x09, 0x00, 0x00}, true},
        {{false, true, false, false}, {0x60, 0x09, 0x00, 0x00}, true},
        {{false, false, false, false}, {0x60, 0x09, 0x00, 0x00}, false},
    };
    for (const auto& c : cases) {
        Rig r;
        r.flags = c.flags;
        auto cable = r.backend.Plug(Device(u"USB to Serial"));
        r.Start();
        r.PressUsbConnect();
        const auto sent = cable->Features();
        ASSERT_EQ(sent.size(), 1u);
        EXPECT_EQ(Bytes(sent[0].begin() + 1, sent[0].begin() + 5), c.speed);
        EXPECT_EQ(r.Selected()->Reading(), c.reads);
    }
}

TEST(UsbCableLink, ReportsCountMeterBytesByTheLowFourBitsOfTheirFirstByte)
{
    const struct {
        uint8_t first;
        bool carries;
    } cases[] = {{0xF3, true}, {0x03, true}, {0x09, true}, {0xF0, false}, {0x00, false}, {0xFA, false}, {0x0F, false}};
    for (const auto& c : cases) {
        Rig r;
        r.Start();
        r.link->state.UsbIdleReports = 7;
        r.Report({c.first, 0x2B, 0x30, 0x31, 0x32, 0x33, 0x34, 0x35, 0x36, 0x37});
        const int n = c.carries ? (c.first & 0x0F) : 0;
        EXPECT_EQ(r.link->state.UsbBurstPending, c.carries) << int(c.first);
        EXPECT_EQ(r.link->state.UsbBurstText, std::string("2B3031323334353637").substr(0, size_t(2 * n)))
            << int(c.first);
        EXPECT_EQ(r.link->state.UsbIdleReports, c.carries ? 0 : 8) << int(c.first);
        EXPECT_EQ(r.Log().size(), c.carries ? 1 : 0) << int(c.first);
    }
}

TEST(UsbCableLink, BurstsBecomeFramesAtTheFirstReportWithoutMeterBytes)
{
    const Bytes firstHalf{0x07, 0x2B, 0x30, 0x31, 0x32, 0x33, 0x20, 0x34, 0x00};
    const Bytes secondHalf{0x07, 0x00, 0x00, 0x00, 0x00, 0x00, 0x0D, 0x0A, 0x00};
    const Bytes empty{0x00, 0x00};
    const struct {
        const char* name;
        std::vector<Bytes> reports;
        std::vector<std::string> frameTexts;
        int decoded;
    } cases[] = {
        {"7 + 7 bytes, then an empty report", {firstHalf, secondHalf, empty}, {"2B30313233203400000000000D0A"}, 1},
        {"an empty report between the halves", {firstHalf, empty, secondHalf, empty}, {"2B303132332034", "00000000000D0A"}, 0},
        {"12 bytes", {{0x06, 0x2B, 0x30, 0x31, 0x32, 0x33, 0x20}, {0x06, 0x34, 0, 0, 0, 0, 0}, empty}, {"2B3031323320340000000000"}, 0},
        {"first byte 0x30", {{0x07, 0x30, 0x30, 0x31, 0x32, 0x33, 0x20, 0x34}, secondHalf, empty}, {"3030313233203400000000000D0A"}, 0},
        {"a count past the end takes what is there", {{0x09, 0x2B, 0x30, 0x31}, {0x09, 0x32, 0x33, 0x20, 0x34, 0x00, 0x00, 0x00, 0x00, 0x00}, {0x02, 0x0D, 0x0A}, {}}, {"2B30313233203400000000000D0A"}, 1},
        {"two frames", {firstHalf, secondHalf, empty, empty, firstHalf, secondHalf, empty}, {"2B30313233203400000000000D0A", "2B30313233203400000000000D0A"}, 2},
    };
    for (const auto& c : cases) {
        Rig r;
        r.Start();
        for (const Bytes& b : c.reports)
            r.Report(b);
        EXPECT_EQ(r.frameTexts, c.frameTexts) << c.name;
        EXPECT_EQ(r.decoded, c.decoded) << c.name;
        EXPECT_FALSE(r.link->state.UsbBurstPending) << c.name;
        EXPECT_EQ(r.link->state.UsbBurstText, "") << c.name;
    }
}

TEST(UsbCableLink, ReportLinesAreLoggedAndTheLogAndBurstStayBounded)
{
    Rig r;
    r.Start();
    const Bytes report{0x03, 0x2B, 0x30, 0x31, 0xAB};
    EXPECT_EQ(UsbCableLink::ReportLine(0x00, report.data(), uint16_t(report.size())), "R 00  03 2B 30 31 AB ");
    for (int i = 0; i < UsbCableLink::kHistoryLines + 20; ++i)
        r.Report({0x01, uint8_t(i)});
    const QStringList log = r.Log();
    ASSERT_EQ(log.size(), UsbCableLink::kHistoryLines);
    EXPECT_EQ(log.back(), QString::asprintf("R 00  01 %02X ", uint8_t(UsbCableLink::kHistoryLines + 19)));
    EXPECT_EQ(r.link->state.UsbBurstText.size(), 2 * UsbCableLink::kBurstBytes);
    r.Report({0x00});
    EXPECT_EQ(r.frameTexts.back().size(), 2 * UsbCableLink::kBurstBytes);
    r.link->ClearBtnClick();
    EXPECT_TRUE(r.Log().isEmpty());
}

TEST(UsbCableLink, ACableThatCannotBeOpenedSaysWhy)
{
    Rig r;
    FakeHidDeviceInfo cable = Device(u"USB to Serial");
    cable.readWrite = false;
    cable.path = "/dev/hidraw7";
    r.backend.Plug(cable);
    r.Start();
    r.PressUsbConnect();
    EXPECT_FALSE(r.usbCon);
    EXPECT_FALSE(r.Selected()->Reading());
    ASSERT_EQ(r.dialogs.messages.size(), 1);
    const QString text = r.dialogs.messages[0];
    EXPECT_TRUE(text.contains("/dev/hidraw7")) << text.toStdString();
    EXPECT_TRUE(text.contains(QString::fromLocal8Bit(std::strerror(EACCES)))) << text.toStdString();
    EXPECT_TRUE(text.contains("udev rule")) << text.toStdString();
}

TEST(UsbCableLink, UnplugAndReplugRebuildTheListWithoutReadingAgain)
{
    Rig r;
    auto cable = r.backend.Plug(Device(u"USB to Serial"));
    r.backend.Plug(Device(u"Keyboard"));
    r.Start();
    r.PressUsbConnect();
    ASSERT_TRUE(r.Selected()->Reading());
    r.backend.Unplug(cable);
    r.backend.Notify();
    EXPECT_EQ(r.Lines(), QStringList{"Keyboard"});
    EXPECT_EQ(r.link->Selected(), -1);
    EXPECT_EQ(r.link->state.CurrentDevice, nullptr);
    EXPECT_TRUE(r.usbCon);  // the button keeps its state
    EXPECT_TRUE(r.Log().contains("Removal of USB to Serial"));

    r.backend.Plug(Device(u"USB to Serial"));
    r.backend.Notify();
    EXPECT_EQ(r.Lines(), (QStringList{"Keyboard", "USB to Serial"}));
    ASSERT_EQ(r.link->Selected(), 1);
    EXPECT_FALSE(r.Selected()->Reading());
    EXPECT_TRUE(r.Log().contains("Arrival of USB to Serial"));
    EXPECT_EQ(r.ctl->Count(), 2);  // the unplugged cable was given back and is gone
}

TEST(UsbCableLink, ReadErrorsAreLoggedAndTheWatchdogStopsTheReader)
{
    Rig r;
    auto cable = r.backend.Plug(Device(u"USB to Serial"));
    r.Start();
    cable->readOpenFails = true;
    r.PressUsbConnect();
    ASSERT_TRUE(RunUntil([&] { return r.Log().size() >= 2; }));
    EXPECT_EQ(r.Log()[1], QStringLiteral("READ ERROR: %1 (13)").arg(QString::fromLocal8Bit(std::strerror(ENODEV))));
    r.link->DetachCurrentDevice();
    EXPECT_FALSE(r.Selected()->Reading());
}

TEST(UsbCableLink, TheUdevRulesOpenTheCableToTheUserAtTheSeat)
{
    QFile rules(QString::fromLocal8Bit(qgetenv("QUELT_SOURCE_DIR")) + "/platform/udev/60-quelt-usb-cable.rules");
    ASSERT_TRUE(rules.open(QIODevice::ReadOnly));
    QStringList active;
    for (const QString& line : QString::fromUtf8(rules.readAll()).split('\n'))
        if (!line.trimmed().isEmpty() && !line.trimmed().startsWith('#'))
            active << line;
    // By the name the program looks for, and by the two chips' ids, each of
    // which also gets the autosuspend set-up without which it stays silent.
    const QString byName = QStringLiteral("ATTRS{product}==\"%1\"").arg(UsbCableLink::kCableName);
    const QStringList expected = {
        "SUBSYSTEM==\"hidraw\" " + byName + " TAG+=\"uaccess\"",
        "SUBSYSTEM==\"hidraw\" ATTRS{idVendor}==\"1a86\" ATTRS{idProduct}==\"e008\" TAG+=\"uaccess\"",
        "SUBSYSTEM==\"hidraw\" ATTRS{idVendor}==\"04fa\" ATTRS{idProduct}==\"2490\" TAG+=\"uaccess\"",
        "SUBSYSTEM==\"usb\" ATTR{idVendor}==\"1a86\" ATTR{idProduct}==\"e008\" ATTR{power/control}=\"auto\" ATTR{power/autosuspend}=\"0\"",
        "SUBSYSTEM==\"usb\" ATTR{idVendor}==\"04fa\" ATTR{idProduct}==\"2490\" ATTR{power/control}=\"auto\" ATTR{power/autosuspend}=\"0\"",
    };
    ASSERT_EQ(active.size(), expected.size());
    for (qsizetype i = 0; i < expected.size(); ++i)
        for (const QString& part : expected[i].split(' '))
            EXPECT_TRUE(active[i].contains(part)) << "rule " << i << ": " << part.toStdString();
}

}  // namespace
