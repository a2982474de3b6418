#include "WindowFixture.h"

#include <QLabel>
#include <QProgressBar>

#include "display/ScaleView.h"

namespace {

TEST(FramePath, AFrameDrivesEveryDisplay)
{
    WindowFixture f;
    TFCOMM& w = *f.w;
    // Volts, DC, auto range: 1.234 V.
    f.Feed(MeterRun('+', "1234", '1', 0x30, 0, 0, 0x80));
    EXPECT_EQ(Parts(w).reading.ValueText, "1.234");
    EXPECT_EQ(Parts(w).ui->LcdDa->text() + Parts(w).ui->LcdDb->text() + Parts(w).ui->LcdDc->text() + Parts(w).ui->LcdDd->text(), "1234");
    EXPECT_FALSE(Parts(w).ui->LcdFH->isVisibleTo(Parts(w).ui->Panel1));
    EXPECT_TRUE(Parts(w).ui->LcdV->isVisibleTo(Parts(w).ui->Panel1));
    EXPECT_TRUE(Parts(w).ui->LCDsend->isVisibleTo(Parts(w).ui->Panel1));
    EXPECT_TRUE(Parts(w).ui->CONok->isVisibleTo(Parts(w).ui->KD));
    EXPECT_FALSE(Parts(w).ui->CONokN->isVisibleTo(Parts(w).ui->KD));
    EXPECT_EQ(Parts(w).ui->PBar2->maximum(), 60);
    EXPECT_EQ(Parts(w).ui->PBar2->value(), 12);
    // The first frame is a range change: MAX/MIN stay empty, the unit shows.
    EXPECT_EQ(Parts(w).ui->MaxText->text(), "");
    EXPECT_EQ(Parts(w).ui->MaxTextU->text(), "V");
    f.Feed(MeterRun('-', "0500", '1', 0x30, 0, 0, 0x80));
    EXPECT_EQ(Parts(w).ui->MaxText->text(), "-0.500");
    EXPECT_EQ(Parts(w).ui->MinText->text(), "-0.500");
    EXPECT_TRUE(Parts(w).ui->LcdFH->isVisibleTo(Parts(w).ui->Panel1));
    // The needle follows the reading: -050 + 600.
    const NeedleLine n = Parts(w).scaleView->needle();
    EXPECT_LT(n.tip.x(), 159);
}

TEST(FramePath, HertzInstallsItsSetAndOverloadCountsAgainstIt)
{
    WindowFixture f;
    f.Feed(MeterRun('+', "0500", '0', 0, 0, 0, 0x08));
    EXPECT_EQ(Parts(*f.w).scale, ScaleSet::Set10());
    EXPECT_EQ(Parts(*f.w).ui->PBar2->maximum(), 1000);
    f.Feed(MeterRun('+', "?0:?", '0'));
    EXPECT_EQ(Parts(*f.w).reading.CountValue, 1001);
    EXPECT_EQ(Parts(*f.w).scale, ScaleSet::Set6());
}

TEST(FramePath, LimitAlarmBeepsAndShowsThePanel)
{
    WindowFixture f;
    TFCOMM& w = *f.w;
    Parts(w).ui->SetMaxB->click();
    Parts(w).ui->Setmax->setText("1000");
    f.Feed(MeterRun('+', "1001"));
    EXPECT_EQ(f.beeper.beeps, 1);
    EXPECT_TRUE(Parts(w).ui->oltext->isVisibleTo(Parts(w).ui->KD));
    f.Feed(MeterRun('+', "1000"));
    EXPECT_EQ(f.beeper.beeps, 1);
    EXPECT_FALSE(Parts(w).ui->oltext->isVisibleTo(Parts(w).ui->KD));
}

TEST(FramePath, BadLimitTextIsReportedAndTheLimitKept)
{
    WindowFixture f;
    Parts(*f.w).ui->Setmax->setText("5-");
    ASSERT_EQ(f.dialogs.errors.size(), 1);
    EXPECT_EQ(f.dialogs.errors[0], "'5-' is not a valid integer value");
    EXPECT_EQ(Parts(*f.w).limits.MaxLimit, 6000);
}

TEST(FramePath, BadFramesWhileAReportIsOpenShowOneBox)
{
    WindowFixture f;
    const std::vector<uint8_t> bad = MeterRun('+', "12:4");
    int delivered = 0;
    // While the box is open the poll timer keeps delivering bad frames.
    f.dialogs.whileOpen = [&] {
        for (int i = 0; i < 20; ++i, ++delivered) f.Feed(bad);
    };
    f.Feed(bad);
    f.Feed(bad);                              // a second failure before the report opens joins the first
    EXPECT_TRUE(f.dialogs.errors.isEmpty());  // shown from the event loop
    QCoreApplication::processEvents();
    f.dialogs.whileOpen = nullptr;
    EXPECT_EQ(delivered, 20);
    ASSERT_EQ(f.dialogs.errors.size(), 1);
    EXPECT_EQ(f.dialogs.errors[0], "'12A4' is not a valid integer value");
    // Decoding goes on: one run lost, then frames decode.
    f.Feed(MeterRun('+', "1111"));
    f.Feed(MeterRun('+', "2222"));
    EXPECT_EQ(Parts(*f.w).reading.ValueText, "2222");
    QCoreApplication::processEvents();
    EXPECT_EQ(f.dialogs.errors.size(), 1);
}

TEST(FramePath, AFailedFrameIsShownUpToItsFailureAndNoFurther)
{
    // After a good frame in volts: a letter as point code fails in the
    // symbols (the panel is reset), a letter among the digits in the value
    // (the panel shows the frame's symbols); nothing after the failure moves.
    struct Case {
        const char* name;
        std::vector<uint8_t> run;
        bool voltLit;
    };
    const Case cases[] = {
        {"symbols", MeterRun('+', "1234", ':', 0x30, 0, 0, 0x80), false},
        {"value", MeterRun('+', "12:4", '0', 0x30, 0, 0, 0x80), true},
    };
    for (const Case& c : cases) {
        WindowFixture f;
        const WindowParts w = Parts(*f.w);
        f.Feed(MeterRun('+', "0500", '1', 0x30, 0, 0, 0x80));
        f.Feed(MeterRun('+', "0600", '1', 0x30, 0, 0, 0x80));
        const size_t records = w.readingTable.recordCount();
        const auto points = w.chart.pointCount();
        f.w->ConTimerTimer();
        f.w->ConTimerTimer();
        f.w->ConTimerTimer();
        ASSERT_FALSE(w.ui->CONok->isVisibleTo(w.ui->KD)) << c.name;
        f.Feed(c.run);
        QCoreApplication::processEvents();
        EXPECT_EQ(f.dialogs.errors.size(), 1) << c.name;
        EXPECT_TRUE(w.ui->CONok->isVisibleTo(w.ui->KD)) << c.name;  // the indicator comes first
        EXPECT_EQ(w.ui->LcdV->isVisibleTo(w.ui->Panel1), c.voltLit) << c.name;
        EXPECT_EQ(w.ui->LcdDa->text() + w.ui->LcdDb->text() + w.ui->LcdDc->text() + w.ui->LcdDd->text(), "0600")
            << c.name;
        EXPECT_EQ(w.ui->MaxText->text(), "0.600") << c.name;
        EXPECT_EQ(w.ui->PBar2->value(), 6) << c.name;
        EXPECT_EQ(w.readingTable.recordCount(), records) << c.name;
        EXPECT_EQ(w.chart.pointCount(), points) << c.name;
    }
}

TEST(FramePath, IndicatorGoesOutOnTheThirdTick)
{
    WindowFixture f;
    TFCOMM& w = *f.w;
    f.Feed(MeterRun('+', "0000"));
    w.ConTimerTimer();
    w.ConTimerTimer();
    EXPECT_TRUE(Parts(w).ui->CONok->isVisibleTo(Parts(w).ui->KD));
    w.ConTimerTimer();
    EXPECT_FALSE(Parts(w).ui->CONok->isVisibleTo(Parts(w).ui->KD));
    EXPECT_TRUE(Parts(w).ui->CONokN->isVisibleTo(Parts(w).ui->KD));
}

TEST(FramePath, UsbSilenceRaisesUsbConnectOnce)
{
    WindowFixture f;
    TFCOMM& w = *f.w;
    Parts(w).ui->USBCon->setChecked(true);
    Parts(w).usbLink.state.UsbIdleReports = 1900;
    for (int i = 0; i < 6; ++i) w.ConTimerTimer();
    EXPECT_FALSE(Parts(w).ui->USBCon->isChecked());
    EXPECT_EQ(Parts(w).usbLink.state.UsbIdleReports, 0);
    EXPECT_EQ(f.dialogs.questions,
              QStringList{"USB interface cable is securely connected, please check if the meter is ready."});
}

}  // namespace

namespace {

TEST(FramePath, ReadingsStayLiveWhileAReportIsOpen)
{
    WindowFixture f;
    TFCOMM& w = *f.w;
    Parts(w).ui->COMCon->click();
    ASSERT_TRUE(Parts(w).COMM2.IsConnected());
    std::string seenWhileOpen;
    f.dialogs.whileOpen = [&] {
        // The poll timer goes on while the box is open.
        f.line->Queue(MeterRun('+', "3333"));
        f.line->Queue(MeterRun('+', "4444"));
        Parts(w).COMM2.PollTick();
        seenWhileOpen = Parts(w).reading.ValueText;
    };
    f.line->Queue(MeterRun('+', "12:4"));
    Parts(w).COMM2.PollTick();
    QCoreApplication::processEvents();
    EXPECT_EQ(f.dialogs.errors, QStringList{"'12A4' is not a valid integer value"});
    EXPECT_EQ(seenWhileOpen, "4444");  // the run after the bad frame is lost, the next decodes
}

}  // namespace
