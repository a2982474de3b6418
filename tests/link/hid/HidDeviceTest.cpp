// THidDevice and its reader against scripted devices: creation and identity,
// the reader's hand-over (including a stop asked while a hand-over waits),
// read errors without a busy loop, and an unplug while reading.
#include <gtest/gtest.h>

#include "link/hid/HidDevice.h"
#include "link/hid/HidDeviceController.h"
#include "support/FakeHidBackend.h"
#include "support/HidReportLog.h"
#include "support/RunUntil.h"

#include <thread>

namespace {

// A device made by hand (no controller), checked out so it may read.
struct Rig : HidReportLog {
    FakeHidBackend backend;
    std::shared_ptr<FakeHidNode> node;
    std::unique_ptr<THidDevice> device;

    explicit Rig(FakeHidDeviceInfo info = {})
    {
        node = backend.Plug(std::move(info));
        device = std::make_unique<THidDevice>(std::make_unique<THidPnPInfo>(backend.Enumerate().at(0)), nullptr,
                                              backend);
        device->SetCheckedOut(true);
        device->DataErrorHandler = CollectErrors();
    }
};

TEST(HidDevice, CreationOpensAndIdentifiesTheInterface)
{
    const struct {
        const char* name;
        bool readWrite, queryable, identifiable;
        const char* failure;  // nullptr: a device is made
    } cases[] = {
        {"read and write", true, true, true, nullptr},
        {"queries only, as for a keyboard", false, true, true, nullptr},
        {"not at all", false, false, true, "device cannot be opened"},
        {"no attributes", true, true, false, "device cannot be identified"},
    };
    for (const auto& c : cases) {
        FakeHidBackend backend;
        FakeHidDeviceInfo info;
        info.readWrite = c.readWrite;
        info.queryable = c.queryable;
        info.identifiable = c.identifiable;
        backend.Plug(info);
        const HidInterface where = backend.Enumerate().at(0);
        if (c.failure) {
            try {
                THidDevice d(std::make_unique<THidPnPInfo>(where), nullptr, backend);
                ADD_FAILURE() << c.name;
            } catch (const EControllerError& e) {
                EXPECT_STREQ(e.what(), c.failure) << c.name;
            }
            continue;
        }
        THidDevice d(std::make_unique<THidPnPInfo>(where), nullptr, backend);
        EXPECT_EQ(d.ReadWriteAccess(), c.readWrite) << c.name;
        EXPECT_EQ(d.ReadWriteError(), c.readWrite ? 0 : EACCES) << c.name;
        EXPECT_EQ(d.Attributes().VendorID, 0x1A86) << c.name;
        EXPECT_EQ(d.Attributes().ProductID, 0xE008) << c.name;
        // A device that only answers queries never reads.
        d.SetCheckedOut(true);
        d.SetDataHandler(THidDataEvent([](THidDevice*, uint8_t, const uint8_t*, uint16_t) {}, &d));
        EXPECT_EQ(d.Reading(), c.readWrite) << c.name;
    }
}

TEST(HidDevice, SerialNumberIsKeptOnlyWhenItDiffersFromTheLanguageList)
{
    const std::u16string english(1, char16_t(0x0409));
    const struct {
        const char* name;
        std::u16string serial, languages;
        bool languagesReadable;
        std::u16string kept;
    } cases[] = {
        {"a genuine serial number", u"A1B2", english, true, u"A1B2"},
        {"equal to the language list", english, english, true, u""},
        {"equal over the list's length", english + u"X", english, true, u""},
        {"language list unreadable", u"A1B2", english, false, u""},
        {"language list empty", u"A1B2", u"", true, u""},
        {"none", u"", english, true, u""},
    };
    for (const auto& c : cases) {
        FakeHidDeviceInfo info;
        info.serial = c.serial;
        info.languages = c.languages;
        info.languagesReadable = c.languagesReadable;
        Rig r(info);
        EXPECT_EQ(r.device->SerialString(), c.kept) << c.name;
    }
}

TEST(HidDevice, ProductStringIsReadOnceAndTriedAgainWhileEmpty)
{
    FakeHidDeviceInfo info;
    info.product.clear();
    Rig r(info);
    EXPECT_EQ(r.device->ProductString(), u"");
    r.node->info.product = u"Meter";
    EXPECT_EQ(r.device->ProductString(), u"Meter");
    r.node->info.product = u"Other";
    EXPECT_EQ(r.device->ProductString(), u"Meter");
}

TEST(HidDevice, ReadPollTimeAcceptsTenToTenThousand)
{
    Rig r;
    for (const auto& [value, kept] : std::vector<std::pair<int32_t, int32_t>>{
             {9, 100}, {10, 10}, {10000, 10000}, {10001, 10000}, {-1, 10000}}) {
        r.device->SetReadPollTime(value);
        EXPECT_EQ(r.device->ReadPollTime(), kept) << value;
    }
}

TEST(HidDevice, ReportsReachTheHandlerInOrderAndASecondHandlerTakesOver)
{
    Rig r;
    r.device->SetReadPollTime(10);
    r.node->Queue({0x00, 0x03, 0x2B, 0x30, 0x31});
    r.node->Queue({0x00, 0x00});
    r.device->SetDataHandler(r.Collect());
    ASSERT_TRUE(RunUntil([&] { return r.reports.size() == 2; }));
    EXPECT_EQ(r.reports[0], (HidReport{0, {0x03, 0x2B, 0x30, 0x31}}));
    EXPECT_EQ(r.reports[1], (HidReport{0, {0x00}}));

    // The running reader calls whichever handler is attached now.
    int second = 0;
    r.device->SetDataHandler(
        THidDataEvent([&](THidDevice*, uint8_t, const uint8_t*, uint16_t) { ++second; }, &second));
    r.node->Queue({0x00, 0x01, 0x41});
    ASSERT_TRUE(RunUntil([&] { return second == 1; }));
    EXPECT_EQ(r.node->ReadOpens(), 1);  // the same reader, the same read handle
    EXPECT_EQ(r.reports.size(), 2u);

    r.device->SetDataHandler({});
    EXPECT_FALSE(r.device->Reading());
}

TEST(HidDevice, StopAskedWhileAHandOverWaitsDeliversTheReportAndEnds)
{
    Rig r;
    r.device->SetDataHandler(r.Collect());
    r.node->Queue({0x00, 0x02, 0x2B, 0x30});
    // The reader takes the report and asks this thread to run the handler,
    // while this thread does not serve its event loop but stops the reader.
    for (int i = 0; i < 2000 && r.node->Queued() != 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    ASSERT_TRUE(r.node->Queued() == 0);
    r.device->SetDataHandler({});
    EXPECT_FALSE(r.device->Reading());
    ASSERT_EQ(r.reports.size(), 1u);  // handed over inside the stop
    EXPECT_EQ(r.reports[0], (HidReport{0, {0x02, 0x2B, 0x30}}));
}

TEST(HidDevice, StopAskedFromInsideTheReadersOwnHandOverEndsItAfterwards)
{
    Rig r;
    int calls = 0;
    r.device->SetDataHandler(THidDataEvent(
        [&](THidDevice* d, uint8_t, const uint8_t*, uint16_t) {
            ++calls;
            d->SetDataHandler({});  // the reader waits for this very call
        },
        &calls));
    r.node->Queue({0x00, 0x01, 0x41});
    r.node->Queue({0x00, 0x01, 0x42});
    ASSERT_TRUE(RunUntil([&] { return calls == 1; }));
    EXPECT_FALSE(r.device->Reading());
    r.device.reset();  // joins what is left of the reader
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(r.node->Queued(), 1u);  // nothing was read after the stop
}

TEST(HidDevice, AReadThatCannotStartIsTriedAgainOneSliceLater)
{
    Rig r;
    r.node->readOpenFails = true;
    r.device->SetReadPollTime(10000);
    r.device->SetDataHandler(r.Collect());
    ASSERT_TRUE(RunUntil([&] { return r.errors.size() == 1; }));
    // Retrying at once would have failed again by now, many times over.
    r.device->SetDataHandler({});  // and the stop ends the wait
    EXPECT_EQ(r.errors, std::vector<uint32_t>{ENODEV});
    EXPECT_EQ(r.node->ReadOpens(), 1);
}

TEST(HidDevice, UnplugWhileReadingReportsErrorsUntilDetached)
{
    Rig r;
    int unplugs = 0;
    r.device->UnplugHandler = THidPlugEvent([&](THidDevice*) { ++unplugs; }, &unplugs);
    r.device->SetReadPollTime(10);
    r.device->SetDataHandler(r.Collect());
    ASSERT_TRUE(RunUntil([&] { return r.node->ReadsWaiting() == 1; }));
    r.backend.Unplug(r.node);
    r.device->MarkUnplugged();
    r.device->MarkUnplugged();
    EXPECT_EQ(unplugs, 1);
    EXPECT_FALSE(r.device->Plugged());
    EXPECT_TRUE(r.device->Reading());                             // a reader still attached goes on ...
    ASSERT_TRUE(RunUntil([&] { return r.errors.size() >= 2; }));  // ... reporting errors
    r.device->SetDataHandler({});
    EXPECT_FALSE(r.device->Reading());
    EXPECT_TRUE(r.reports.empty());
}

}  // namespace
