// The Linux backend, unchanged, on hidraw devices that umockdev emulates:
// enumeration, identity, report descriptors, feature reports, input reports
// through a device's reader, plug and unplug events, an unplug while reading.
#include <gtest/gtest.h>

#include "EmulatedHidBus.h"
#include "link/hid/HidDeviceController.h"
#include "platform/LinuxHidBackend.h"
#include "support/HidEventLog.h"
#include "support/HidReportLog.h"
#include "support/RunUntil.h"

#include <cstring>
#include <memory>

namespace {

using Bytes = std::vector<uint8_t>;

class LinuxHidBackendTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(EmulatedHidBus::PreloadActive())
            << "run with LD_PRELOAD=" << EmulatedHidBus::PreloadLibrary() << " (ctest sets it)";
        bus = std::make_unique<EmulatedHidBus>();
    }
    void TearDown() override
    {
        backend.reset();
        bus.reset();
    }
    // Made after the bus, so that it sees the bus's devices and events.
    LinuxHidBackend& Backend()
    {
        if (!backend)
            backend = std::make_unique<LinuxHidBackend>();
        return *backend;
    }
    std::unique_ptr<IHidHandle> Open(int id, HidOpenMode mode)
    {
        for (const HidInterface& i : Backend().Enumerate())
            if (i.Path == bus->Node(id)) {
                int error = 0;
                auto h = Backend().Open(i, mode, error);
                EXPECT_TRUE(h) << std::strerror(error);
                return h;
            }
        ADD_FAILURE() << "not found: " << bus->Node(id);
        return nullptr;
    }

    std::unique_ptr<EmulatedHidBus> bus;
    std::unique_ptr<LinuxHidBackend> backend;
};

TEST_F(LinuxHidBackendTest, EnumerationFindsEachNodeWithItsIdentity)
{
    EmulatedHidBus::Device cable;
    EmulatedHidBus::Device withSerial;
    withSerial.serial = "SN-0042";
    withSerial.vendorId = 0x1A2B;
    withSerial.productId = 0x00C3;
    EmulatedHidBus::Device bluetooth;
    bluetooth.usb = false;
    bluetooth.product = "Wireless Meter";
    bluetooth.serial = "aa:bb:cc:dd:ee:ff";
    bluetooth.vendorId = 0x046D;
    EmulatedHidBus::Device unnamed;
    unnamed.product.clear();
    const struct {
        EmulatedHidBus::Device device;
        HidAttributes attributes;
        std::u16string product, serial;
    } cases[] = {
        {cable, {0x1A86, 0xE008, 0x0100}, u"USB to Serial", u""},
        {withSerial, {0x1A2B, 0x00C3, 0x0100}, u"USB to Serial", u"SN-0042"},
        {bluetooth, {0x046D, 0xE008, 0}, u"Wireless Meter", u"aa:bb:cc:dd:ee:ff"},
        {unnamed, {0x1A86, 0xE008, 0x0100}, u"", u""},
    };
    std::vector<int> ids;
    for (const auto& c : cases)
        ids.push_back(bus->Plug(c.device));
    ASSERT_EQ(Backend().Enumerate().size(), std::size(cases));
    for (size_t k = 0; k < std::size(cases); ++k) {
        const auto& c = cases[k];
        auto h = Open(ids[k], HidOpenMode::Query);
        ASSERT_TRUE(h);
        HidAttributes a;
        ASSERT_TRUE(h->GetAttributes(a));
        EXPECT_EQ(a.VendorID, c.attributes.VendorID) << k;
        EXPECT_EQ(a.ProductID, c.attributes.ProductID) << k;
        EXPECT_EQ(a.VersionNumber, c.attributes.VersionNumber) << k;
        std::u16string product, serial, languages;
        EXPECT_EQ(h->GetProductString(product), !c.product.empty()) << k;
        EXPECT_EQ(product, c.product) << k;
        EXPECT_EQ(h->GetSerialNumberString(serial), !c.serial.empty()) << k;
        EXPECT_EQ(serial, c.serial) << k;
        // The language list is there and is no serial number.
        ASSERT_TRUE(h->GetIndexedString(0, languages)) << k;
        EXPECT_EQ(languages, std::u16string(1, char16_t(0x0409))) << k;
    }
}

TEST_F(LinuxHidBackendTest, AReplugIsANewInstance)
{
    const int first = bus->Plug({});
    const std::string before = Backend().Enumerate().at(0).Instance;
    EXPECT_EQ(Backend().Enumerate().at(0).Instance, before);  // stable while plugged
    bus->Unplug(first);
    EXPECT_TRUE(Backend().Enumerate().empty());
    bus->Plug({});
    ASSERT_EQ(Backend().Enumerate().size(), 1u);
    EXPECT_NE(Backend().Enumerate().at(0).Instance, before);
}

TEST_F(LinuxHidBackendTest, ReportDescriptorTellsLengthsAndReportIds)
{
    EmulatedHidBus::Device numbered;
    numbered.descriptor = EmulatedHidBus::NumberedDescriptor();
    const struct {
        EmulatedHidBus::Device device;
        HidReportCaps caps;
    } cases[] = {{{}, {9, 10, false}}, {numbered, {17, 0, true}}};
    for (const auto& c : cases) {
        const int id = bus->Plug(c.device);
        auto h = Open(id, HidOpenMode::ReadWrite);
        ASSERT_TRUE(h);
        HidReportCaps caps;
        ASSERT_TRUE(h->GetReportCaps(caps));
        EXPECT_EQ(caps.InputReportByteLength, c.caps.InputReportByteLength);
        EXPECT_EQ(caps.FeatureReportByteLength, c.caps.FeatureReportByteLength);
        EXPECT_EQ(caps.UsesReportIds, c.caps.UsesReportIds);
        bus->Unplug(id);
    }
}

TEST_F(LinuxHidBackendTest, FeatureReportGoesOutAsGiven)
{
    const int id = bus->Plug({});
    auto h = Open(id, HidOpenMode::ReadWrite);
    ASSERT_TRUE(h);
    const Bytes setup{0x00, 0x60, 0x09, 0x00, 0x00, 0x03, 0x00, 0x00, 0x00, 0x00};
    ASSERT_TRUE(h->SetFeature(setup.data(), setup.size()));
    EXPECT_EQ(bus->Features(id), std::vector<Bytes>{setup});
    auto query = Open(id, HidOpenMode::Query);
    EXPECT_FALSE(query->SetFeature(setup.data(), setup.size()));
}

// A controller on the backend, as the program has it.
struct Watcher : HidEventLog, HidReportLog {
    std::unique_ptr<THidDeviceController> ctl;

    explicit Watcher(IHidBackend& backend) : ctl(std::make_unique<THidDeviceController>(backend)) { Listen(*ctl); }
    // Checks out the device at `index` and reads from it.
    THidDevice* Read(int index)
    {
        THidDevice* d = ctl->CheckOutAt(index);
        if (!d)
            return nullptr;
        d->SetReadPollTime(20);
        d->DataErrorHandler = CollectErrors();
        d->SetDataHandler(Collect());
        return d;
    }
};

TEST_F(LinuxHidBackendTest, InputReportsReachTheHandlerWithTheirReportId)
{
    EmulatedHidBus::Device numbered;
    numbered.product = "Numbered";
    numbered.descriptor = EmulatedHidBus::NumberedDescriptor();
    const int cable = bus->Plug({});
    const int other = bus->Plug(numbered);
    Watcher w(Backend());
    ASSERT_EQ(w.ctl->Count(), 2);
    THidDevice* d = w.Read(0);
    ASSERT_TRUE(d && d->Reading());
    const Bytes r1{0x03, 0x2B, 0x30, 0x31, 0, 0, 0, 0};
    const Bytes r2{0x00, 0, 0, 0, 0, 0, 0, 0};
    bus->Queue(cable, {r1, r2});
    ASSERT_TRUE(RunUntil([&] { return w.reports.size() == 2; }));
    // No report IDs: 0 first, then the 8 bytes.
    EXPECT_EQ(w.reports[0], (HidReport{0, r1}));
    EXPECT_EQ(w.reports[1], (HidReport{0, r2}));
    w.ctl->ReturnDevice(d);

    w.reports.clear();
    THidDevice* n = w.Read(1);
    ASSERT_TRUE(n && n->Reading());
    bus->Queue(other, {{0x02, 0xA0, 0xA1, 0xA2}});
    ASSERT_TRUE(RunUntil([&] { return w.reports.size() == 1; }));
    EXPECT_EQ(w.reports[0], (HidReport{2, {0xA0, 0xA1, 0xA2}}));
    w.ctl->ReturnDevice(n);
    EXPECT_TRUE(w.errors.empty());
}

TEST_F(LinuxHidBackendTest, PlugAndUnplugAreTold)
{
    Watcher w(Backend());
    w.events.clear();
    EmulatedHidBus::Device meter;
    meter.product = "Meter";
    const int id = bus->Plug(meter);
    ASSERT_TRUE(RunUntil([&] { return w.events.size() >= 2; }));
    EXPECT_EQ(w.events, (std::vector<std::string>{"arrival Meter", "change"}));
    w.events.clear();
    bus->Unplug(id);
    ASSERT_TRUE(RunUntil([&] { return w.events.size() >= 2; }));
    EXPECT_EQ(w.events, (std::vector<std::string>{"removal Meter", "change"}));
    EXPECT_EQ(w.ctl->Count(), 0);
}

TEST_F(LinuxHidBackendTest, UnplugWhileReadingEndsInReadErrorsUntilDetached)
{
    const int id = bus->Plug({});
    Watcher w(Backend());
    THidDevice* d = w.Read(0);
    ASSERT_TRUE(d && d->Reading());
    EXPECT_EQ(d->ProductString(), u"USB to Serial");  // kept for the removal event
    bus->Queue(id, {{0x01, 0x2B, 0, 0, 0, 0, 0, 0}});
    ASSERT_TRUE(RunUntil([&] { return w.reports.size() == 1; }));
    w.events.clear();
    bus->Unplug(id);
    ASSERT_TRUE(RunUntil([&] { return !w.errors.empty() && w.events.size() >= 2; }));
    EXPECT_EQ(w.events, (std::vector<std::string>{"removal USB to Serial", "change"}));
    EXPECT_FALSE(d->Plugged());
    EXPECT_TRUE(d->Reading());  // until its holder detaches it
    d->SetDataHandler({});
    EXPECT_FALSE(d->Reading());
    w.ctl->ReturnDevice(d);
    EXPECT_EQ(w.ctl->Count(), 0);
}

}  // namespace
