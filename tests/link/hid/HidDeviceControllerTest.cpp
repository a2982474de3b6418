// THidDeviceController against scripted devices: the change pass (arrivals,
// removals of checked-in and checked-out devices, re-plugs, duplicates), the
// events it raises, enumeration, check-out and give-back.
#include <gtest/gtest.h>

#include "link/hid/HidDeviceController.h"
#include "support/FakeHidBackend.h"
#include "support/HidEventLog.h"

namespace {

FakeHidDeviceInfo Named(const std::u16string& product, const std::string& instance = {})
{
    FakeHidDeviceInfo s;
    s.product = product;
    s.instance = instance;
    return s;
}

// A controller whose events are written down.
struct Rig : HidEventLog {
    FakeHidBackend backend;
    std::unique_ptr<THidDeviceController> ctl;

    void Start()
    {
        ctl = std::make_unique<THidDeviceController>(backend);
        Listen(*ctl);
    }
    std::vector<std::string> Take()
    {
        std::vector<std::string> e;
        e.swap(events);
        return e;
    }
    std::vector<std::string> List() const
    {
        std::vector<std::string> names;
        for (int i = 0; i < ctl->Count(); ++i) {
            THidDevice* d = ctl->DeviceAt(i);
            d->SetInEvent(true);
            names.push_back(Name(d) + (d->Plugged() ? "" : " (unplugged)") + (d->CheckedOut() ? " (out)" : ""));
            d->SetInEvent(false);
        }
        return names;
    }
};

using Events = std::vector<std::string>;

TEST(HidDeviceController, InstallingTheChangeHandlerReportsOnceAndLaterOnlyRealChanges)
{
    Rig r;
    r.backend.Plug(Named(u"A"));
    r.Start();
    EXPECT_EQ(r.Take(), Events{"change"});
    EXPECT_EQ(r.List(), Events{"A"});
    r.backend.Notify();  // nothing changed
    EXPECT_EQ(r.Take(), Events{});
    EXPECT_EQ(r.ctl->Version(), "1.0.22");
    EXPECT_EQ(r.ctl->CheckedInCount(), 1);
}

TEST(HidDeviceController, WithoutHidTheListStaysEmptyAndOnlyTheFirstChangeIsTold)
{
    Rig r;
    r.backend.present = false;
    r.backend.Plug(Named(u"A"));
    r.Start();
    EXPECT_FALSE(r.backend.Watched());
    r.backend.Plug(Named(u"B"));
    r.ctl->DeviceChange();
    EXPECT_EQ(r.Take(), Events{"change"});
    EXPECT_EQ(r.ctl->Count(), 0);
    int visits = 0;
    r.ctl->OnEnumerate = THidEnumerateEvent([&](THidDevice*, int32_t) { return ++visits, true; }, &visits);
    EXPECT_EQ(r.ctl->EnumeratePlugged(), 0);
    EXPECT_EQ(visits, 0);
}

TEST(HidDeviceController, OnlyOneControllerPerBackend)
{
    FakeHidBackend backend;
    THidDeviceController first(backend);
    try {
        THidDeviceController second(backend);
        ADD_FAILURE();
    } catch (const EControllerError& e) {
        EXPECT_STREQ(e.what(), "Only one THidDeviceController allowed per program");
    }
}

TEST(HidDeviceController, ChangePassFollowsPlugsAndUnplugs)
{
    Rig r;
    auto a = r.backend.Plug(Named(u"A", "a#1"));
    auto b = r.backend.Plug(Named(u"B", "b#1"));
    r.Start();
    r.Take();
    THidDevice* outB = r.ctl->CheckOutAt(1);
    ASSERT_NE(outB, nullptr);
    int unplugs = 0;
    outB->UnplugHandler = THidPlugEvent([&](THidDevice*) { ++unplugs; }, &unplugs);

    // Arrival: at the end of the list.
    r.backend.Plug(Named(u"C", "c#1"));
    r.backend.Notify();
    EXPECT_EQ(r.Take(), (Events{"arrival C", "change"}));
    EXPECT_EQ(r.List(), (Events{"A", "B (out)", "C"}));

    // Removal of a checked-in device: it leaves the list.
    r.backend.Unplug(a);
    r.backend.Notify();
    EXPECT_EQ(r.Take(), (Events{"removal A", "change"}));
    EXPECT_EQ(r.List(), (Events{"B (out)", "C"}));

    // Removal of a checked-out device: it stays, unplugged, until given back;
    // every pass meanwhile tells its removal again, its unplug handler once.
    r.backend.Unplug(b);
    r.backend.Notify();
    r.backend.Notify();
    EXPECT_EQ(r.Take(), (Events{"removal B", "change", "removal B", "change"}));
    EXPECT_EQ(unplugs, 1);
    EXPECT_EQ(r.List(), (Events{"B (unplugged) (out)", "C"}));
    EXPECT_EQ(r.ctl->UnpluggedCount(), 1);
    r.ctl->ReturnDevice(outB);
    EXPECT_EQ(r.List(), Events{"C"});
    EXPECT_EQ(r.ctl->UnpluggedCount(), 0);

    // The same device plugged in again has a new instance: a new device.
    r.backend.Plug(Named(u"B", "b#2"));
    r.backend.Notify();
    EXPECT_EQ(r.Take(), (Events{"arrival B", "change"}));
    EXPECT_EQ(r.List(), (Events{"C", "B"}));
}

TEST(HidDeviceController, ARescanOfKnownDevicesMakesNoDuplicates)
{
    Rig r;
    r.backend.Plug(Named(u"A", "a#1"));
    r.backend.Plug(Named(u"B", "b#1"));
    r.Start();
    r.Take();
    for (int i = 0; i < 3; ++i)
        r.backend.Notify();
    EXPECT_EQ(r.Take(), Events{});
    EXPECT_EQ(r.List(), (Events{"A", "B"}));
}

TEST(HidDeviceController, GivingBackAPluggedDeviceLeavesAFreshOneInItsPlace)
{
    Rig r;
    auto node = r.backend.Plug(Named(u"A", "a#1"));
    auto bNode = r.backend.Plug(Named(u"B", "b#1"));
    r.Start();
    THidDevice* out = r.ctl->CheckOutAt(0);
    ASSERT_NE(out, nullptr);
    EXPECT_EQ(r.ctl->CheckOutAt(0), nullptr);  // checked out already
    EXPECT_EQ(r.ctl->CheckOutAt(2), nullptr);  // out of range
    EXPECT_EQ(r.ctl->CheckOutAt(-1), nullptr);
    const THidDataEvent handler([](THidDevice*, uint8_t, const uint8_t*, uint16_t) {}, &r);
    out->SetDataHandler(handler);
    EXPECT_TRUE(out->Reading());
    out->SetReadPollTime(250);
    EXPECT_EQ(out->ProductString(), u"A");
    node->info.product = u"A2";  // read afresh by the new object

    r.ctl->ReturnDevice(out);
    ASSERT_EQ(r.ctl->Count(), 2);
    THidDevice* fresh = r.ctl->DeviceAt(0);
    EXPECT_FALSE(fresh->CheckedOut());
    EXPECT_FALSE(fresh->Reading());  // checked in: it does not read
    EXPECT_TRUE(fresh->DataHandler() == handler);
    EXPECT_EQ(fresh->ReadPollTime(), 250);
    EXPECT_EQ(r.List(), (Events{"A2", "B"}));
    EXPECT_EQ(r.ctl->CheckedInCount(), 2);
    EXPECT_EQ(r.ctl->CheckedOutCount(), 0);

    // Given back after it vanished, before a change pass noticed: the slot goes.
    THidDevice* b = r.ctl->CheckOutAt(1);
    ASSERT_NE(b, nullptr);
    r.backend.Unplug(bNode);
    r.ctl->ReturnDevice(b);
    EXPECT_EQ(r.List(), Events{"A2"});
    EXPECT_EQ(r.ctl->CheckedOutCount(), 0);
}

TEST(HidDeviceController, EnumerationVisitsPluggedDevicesUntilTheHandlerSaysStop)
{
    Rig r;
    for (const char16_t* n : {u"A", u"B", u"C"})
        r.backend.Plug(Named(n));
    r.Start();
    std::vector<int32_t> seen;
    r.ctl->OnEnumerate = THidEnumerateEvent(
        [&](THidDevice* d, int32_t i) {
            EXPECT_TRUE(d->InEvent());
            seen.push_back(i);
            return i < 1;
        },
        &seen);
    EXPECT_EQ(r.ctl->EnumeratePlugged(), 2);
    EXPECT_EQ(seen, (std::vector<int32_t>{0, 1}));
    r.ctl->OnEnumerate = {};
    EXPECT_EQ(r.ctl->EnumeratePlugged(), 1);
}

TEST(HidDeviceController, HandlerSettersReplaceOnlyWhatTheControllerHadGiven)
{
    Rig r;
    r.backend.Plug(Named(u"A"));
    r.backend.Plug(Named(u"B"));
    r.Start();
    const THidDataEvent first([](THidDevice*, uint8_t, const uint8_t*, uint16_t) {}, &r);
    const THidDataEvent own([](THidDevice*, uint8_t, const uint8_t*, uint16_t) {}, &r.ctl);
    const THidDataEvent second([](THidDevice*, uint8_t, const uint8_t*, uint16_t) {}, &r.backend);
    r.ctl->SetOnDeviceData(first);
    r.ctl->DeviceAt(1)->SetDataHandler(own);
    r.ctl->SetOnDeviceData(second);
    EXPECT_TRUE(r.ctl->DeviceAt(0)->DataHandler() == second);
    EXPECT_TRUE(r.ctl->DeviceAt(1)->DataHandler() == own);

    r.ctl->DeviceAt(1)->SetReadPollTime(500);
    r.ctl->SetDevThreadSleepTime(40);
    EXPECT_EQ(r.ctl->DeviceAt(0)->ReadPollTime(), 40);
    EXPECT_EQ(r.ctl->DeviceAt(1)->ReadPollTime(), 500);
    EXPECT_EQ(r.ctl->DevThreadSleepTime(), 40);
}

}  // namespace
