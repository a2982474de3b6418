#include "WindowFixture.h"

#include "record/grid/ReadingGridView.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QTest>
#include <functional>
#include <vector>

#include "display/ScaleGeometry.h"
#include "display/ScaleView.h"

namespace {

struct ControlState {
    bool comSetup, startEnabled, startChecked, stopEnabled, btConVisible, btDisconVisible, panelsEnabled;
};

ControlState State(TFCOMM& w)
{
    return {Parts(w).ui->ComSetup1->menuAction()->isEnabled(), Parts(w).ui->START1->isEnabled(), Parts(w).ui->START1->isChecked(),
            Parts(w).ui->STOP1->isEnabled(), Parts(w).ui->BTCon->isVisibleTo(&w), Parts(w).ui->BtDiscon->isVisibleTo(&w),
            Parts(w).ui->BtCOM1->isEnabled()};
}

void ExpectConnected(TFCOMM& w, bool connected)
{
    const ControlState s = State(w);
    EXPECT_EQ(s.comSetup, !connected);
    EXPECT_EQ(s.startEnabled, !connected);
    EXPECT_EQ(s.startChecked, connected);
    EXPECT_EQ(s.stopEnabled, connected);
    EXPECT_EQ(s.btConVisible, !connected);
    EXPECT_EQ(s.btDisconVisible, connected);
    EXPECT_EQ(s.panelsEnabled, !connected);
}

TEST(Commands, PortPanelCyclesThroughTheFourPorts)
{
    WindowFixture f;
    TFCOMM& w = *f.w;
    QLabel* panels[] = {Parts(w).ui->BtCOM1, Parts(w).ui->BtCOM2, Parts(w).ui->BtCOM3, Parts(w).ui->BtCOM4};
    QAction* items[] = {Parts(w).ui->COM11, Parts(w).ui->COM21, Parts(w).ui->COM31, Parts(w).ui->COM41};
    for (int click = 1; click <= 4; ++click) {
        Click(panels[(click - 1) % 4]);
        const int port = click % 4;  // 0-based port now selected
        EXPECT_EQ(Parts(w).COMM2.ComPort(), TComPortNumber(port));
        for (int i = 0; i < 4; ++i) {
            EXPECT_EQ(panels[i]->isVisibleTo(&w), i == port) << click << " " << i;
            EXPECT_EQ(items[i]->isChecked(), i == port);
        }
    }
    EXPECT_EQ(Parts(w).ui->BtCOM1->text(), "COM 1");
}

TEST(Commands, ConnectAndDisconnectFromEveryControl)
{
    WindowFixture f;
    TFCOMM& w = *f.w;
    ExpectConnected(w, false);
    EXPECT_FALSE(Parts(w).ui->STOP1->isChecked());

    Click(Parts(w).ui->COMCon);
    EXPECT_TRUE(Parts(w).COMM2.IsConnected());
    ExpectConnected(w, true);
    // While connected no port can be chosen.
    Click(Parts(w).ui->BtCOM1);
    EXPECT_EQ(Parts(w).COMM2.ComPort(), pnCOM1);

    f.line->Queue(MeterRun('+', "4321"));
    Parts(w).COMM2.PollTick();
    EXPECT_EQ(Parts(w).reading.ValueText, "4321");

    Click(Parts(w).ui->COMCon);
    EXPECT_FALSE(Parts(w).COMM2.IsConnected());
    ExpectConnected(w, false);
    EXPECT_TRUE(Parts(w).ui->STOP1->isChecked());

    Parts(w).ui->START1->trigger();
    ExpectConnected(w, true);
    Parts(w).ui->STOP1->trigger();
    ExpectConnected(w, false);
    Click(Parts(w).ui->BTCon);
    ExpectConnected(w, true);
    Click(Parts(w).ui->BtDiscon);
    ExpectConnected(w, false);
    EXPECT_TRUE(f.dialogs.messages.isEmpty());
}

TEST(Commands, FailedConnectIsToldAndLeavesTheControlsDisconnected)
{
    struct Case {
        int err;
        bool mentionsGroup;
    } cases[] = {{ENOENT, false}, {EACCES, true}, {EBUSY, false}};
    for (const Case& c : cases) {
        WindowFixture f;
        f.line->openFails = true;
        f.line->openErrno = c.err;
        Click(Parts(*f.w).ui->COMCon);
        ASSERT_EQ(f.dialogs.messages.size(), 1);
        const QString text = f.dialogs.messages[0];
        EXPECT_TRUE(text.startsWith("Could not open COM1")) << text.toStdString();
        EXPECT_TRUE(text.contains(QString::fromLocal8Bit(std::strerror(c.err)))) << text.toStdString();
        EXPECT_EQ(text.contains("dialout"), c.mentionsGroup);
        EXPECT_FALSE(Parts(*f.w).ui->COMCon->isChecked());
        ExpectConnected(*f.w, false);
    }
}

TEST(Commands, ConnectButtonsFormOneGroupThatMayBeAllUp)
{
    WindowFixture f;
    TFCOMM& w = *f.w;
    f.hid.Plug({});  // the USB cable
    f.hid.Notify();
    Click(Parts(w).ui->COMCon);
    Click(Parts(w).ui->USBCon);
    EXPECT_TRUE(Parts(w).ui->USBCon->isChecked());
    EXPECT_FALSE(Parts(w).ui->COMCon->isChecked());
    EXPECT_TRUE(Parts(w).COMM2.IsConnected());  // raising "COM Connect" runs none of its command
    Click(Parts(w).ui->COMCon);
    EXPECT_FALSE(Parts(w).ui->USBCon->isChecked());
    EXPECT_TRUE(Parts(w).ui->COMCon->isChecked());
    Click(Parts(w).ui->COMCon);
    EXPECT_FALSE(Parts(w).ui->USBCon->isChecked());
    EXPECT_FALSE(Parts(w).ui->COMCon->isChecked());
}

TEST(Commands, ExitFlows)
{
    {
        WindowFixture f;
        f.dialogs.answers = {DialogButton::No};
        Click(Parts(*f.w).ui->BitBtn1);
        EXPECT_EQ(f.dialogs.questions, QStringList{QString::fromUtf8("Are you ensure to exit the program？")});
        EXPECT_TRUE(Parts(*f.w).readingTable.isOpen());  // the program goes on
        f.dialogs.answers = {DialogButton::Yes};
        Click(Parts(*f.w).ui->BitBtn1);
        EXPECT_FALSE(Parts(*f.w).readingTable.isOpen());  // the program ends: the log is closed
    }
    {
        WindowFixture f;
        Parts(*f.w).ui->BtExit1->trigger();
        EXPECT_FALSE(Parts(*f.w).readingTable.isOpen());  // the program ends: the log is closed
        EXPECT_TRUE(f.dialogs.questions.isEmpty());
    }
    {
        WindowFixture f;
        f.w->show();
        EXPECT_TRUE(f.w->close());
        EXPECT_FALSE(Parts(*f.w).readingTable.isOpen());  // the program ends: the log is closed
        EXPECT_TRUE(f.dialogs.questions.isEmpty());
    }
}

TEST(Commands, KeyFiltersDropOtherCharacters)
{
    WindowFixture f;
    TFCOMM& w = *f.w;
    struct {
        QLineEdit* edit;
        const char* typed;
        const char* result;
    } cases[] = {
        {Parts(w).ui->Maxrecord, "a1-2+b", "12"},
        {Parts(w).ui->RecordSITime, "x5 -", "5"},
        {Parts(w).ui->Setmax, "a-1+2x", "-1+2"},
        {Parts(w).ui->SetMin, "5-", "5-"},
    };
    for (const auto& c : cases) {
        c.edit->clear();
        f.dialogs.errors.clear();
        QTest::keyClicks(c.edit, c.typed);
        EXPECT_EQ(c.edit->text(), c.result) << c.typed;
    }
}

TEST(Commands, PageSizeBoxConversion)
{
    WindowFixture f;
    TFCOMM& w = *f.w;
    Parts(w).ui->Maxrecord->setText("250");
    EXPECT_EQ(Parts(w).chart.PointsPerPage, 250);
    Parts(w).ui->Maxrecord->setText("0");
    EXPECT_EQ(Parts(w).chart.PointsPerPage, 0);
    Parts(w).ui->Maxrecord->setText("");
    EXPECT_EQ(Parts(w).chart.PointsPerPage, 0);
    EXPECT_EQ(f.dialogs.errors, QStringList{"'' is not a valid integer value"});
}

TEST(Commands, ReLayoutGivesTheDialItsStoredSize)
{
    const FormLayout l = ComputeFormLayout(621, 486, 139);
    EXPECT_EQ(l.BtExitLeft, 541);
    EXPECT_EQ(l.BTConLeft, 431);
    EXPECT_EQ(l.DBGrid1Height, 175);
    EXPECT_EQ(l.ChtshowWidth, 321);
    EXPECT_EQ(l.KDWidth, 318);
    EXPECT_EQ(l.KD2Width, 316);
    EXPECT_EQ(l.KD2Height, 133);
    EXPECT_EQ(l.ChtshowTop, 173);

    WindowFixture f;
    TFCOMM& w = *f.w;
    w.show();
    EXPECT_EQ(Parts(w).ui->KD->size(), QSize(318, 139));
    EXPECT_EQ(Parts(w).ui->Chtshow->width(), 321);
    EXPECT_EQ(Parts(w).ui->DBGrid1->geometry().bottom() + 1, 455);  // the grid ends at the client area's foot
    EXPECT_EQ(Parts(w).ui->Chtshow->y(), 173);
    EXPECT_EQ(Parts(w).ui->KD2->size(), QSize(316, 133));

    // The dial the window draws: labels, dots and the needle of a zero reading
    // where the panel's stored size puts them.
    ASSERT_EQ(Parts(w).scaleView->panelSize(), QSize(318, 139));
    const DialFace face = ScaleGeometry(318, 139).Face(Parts(w).scale, {});
    ASSERT_EQ(face.labels.size(), 9u);
    EXPECT_EQ(face.labels[0], (DialLabel{{0, 93}, "-60"}));
    EXPECT_EQ(face.labels[4], (DialLabel{{156, 8}, "0"}));
    EXPECT_EQ(face.labels[8], (DialLabel{{302, 93}, "60"}));
    ASSERT_EQ(face.dots.size(), 1201u);
    EXPECT_EQ(face.dots[0].corner, QPoint(17, 107));
    EXPECT_EQ(face.dots[600].corner, QPoint(159, 27));
    EXPECT_EQ(face.dots[1200].corner, QPoint(301, 107));
    f.Feed(MeterRun('+', "0000"));
    EXPECT_EQ(Parts(w).scaleView->needle(), (NeedleLine{{159, 34}, {159, 389}}));
    // Drawn on the surface: the dots at both ends and the top, the upright needle.
    const QImage& kd1 = Parts(w).scaleView->KD1();
    for (const QPoint dot : {QPoint(17, 107), QPoint(159, 27), QPoint(301, 107)})
        EXPECT_NE(kd1.pixelColor(dot + QPoint(1, 1)), QColor(Qt::white)) << dot.x() << "," << dot.y();
    for (int y = 40; y < kd1.height(); y += 10)
        EXPECT_EQ(kd1.pixelColor(159, y), QColor(Qt::black)) << y;
}

TEST(Commands, PortPanelStepsOnceForALeftButtonPressedAndReleasedOnIt)
{
    WindowFixture f;
    TFCOMM& w = *f.w;
    auto panel = [&] {
        QLabel* const panels[] = {Parts(w).ui->BtCOM1, Parts(w).ui->BtCOM2, Parts(w).ui->BtCOM3, Parts(w).ui->BtCOM4};
        return panels[Parts(w).COMM2.ComPort()];
    };
    const struct {
        const char* what;
        std::function<void(QLabel*)> act;
        int steps;
    } cases[] = {
        {"right click", [](QLabel* p) { QTest::mouseClick(p, Qt::RightButton); }, 0},
        {"middle click", [](QLabel* p) { QTest::mouseClick(p, Qt::MiddleButton); }, 0},
        {"pressed on the panel, released beside it",
         [](QLabel* p) {
             QTest::mousePress(p, Qt::LeftButton);
             QTest::mouseRelease(p, Qt::LeftButton, {}, QPoint(p->width() + 5, 5));
         },
         0},
        {"released on the panel without a press there",
         [](QLabel* p) { QTest::mouseRelease(p, Qt::LeftButton); }, 0},
        {"left held while the right one clicks",
         [](QLabel* p) {
             QTest::mousePress(p, Qt::LeftButton);
             QTest::mouseClick(p, Qt::RightButton);
             QTest::mouseRelease(p, Qt::LeftButton);
         },
         1},
        {"left click", [](QLabel* p) { QTest::mouseClick(p, Qt::LeftButton); }, 1},
    };
    for (const auto& c : cases) {
        const int before = Parts(w).COMM2.ComPort();
        c.act(panel());
        EXPECT_EQ(Parts(w).COMM2.ComPort(), (before + c.steps) % 4) << c.what;
        EXPECT_TRUE(panel()->isVisibleTo(&w)) << c.what;
    }
}

TEST(Commands, KeyFiltersLetEditingKeysAndShortcutsThrough)
{
    WindowFixture f;
    TFCOMM& w = *f.w;
    w.show();
    w.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&w));

    // Keys with the text the X11 platform gives them.
    struct Key {
        Qt::Key key;
        const char* text = "";
        Qt::KeyboardModifiers modifiers = Qt::NoModifier;
    };
    const Key home{Qt::Key_Home}, end{Qt::Key_End}, left{Qt::Key_Left}, right{Qt::Key_Right},
        del{Qt::Key_Delete, "\x7f"}, backspace{Qt::Key_Backspace, "\b"},
        ctrlA{Qt::Key_A, "\x01", Qt::ControlModifier}, ctrlC{Qt::Key_C, "\x03", Qt::ControlModifier},
        ctrlX{Qt::Key_X, "\x18", Qt::ControlModifier}, ctrlV{Qt::Key_V, "\x16", Qt::ControlModifier},
        // Other platforms give the letter itself with Ctrl.
        ctrlLetterV{Qt::Key_V, "v", Qt::ControlModifier};
    const struct {
        QLineEdit* edit;
        const char* start;
        const char* clipboard;  // nullptr: as the keys leave it
        std::vector<Key> keys;
        const char* result;
    } cases[] = {
        {Parts(w).ui->Setmax, "1234", nullptr, {home, del}, "234"},
        {Parts(w).ui->RecordSITime, "10", nullptr, {left, left, del}, "0"},
        {Parts(w).ui->Maxrecord, "100", nullptr, {home, right, del, end, backspace}, "1"},
        {Parts(w).ui->SetMin, "-25", nullptr, {ctrlA, ctrlX, ctrlV, ctrlLetterV}, "-25-25"},
        {Parts(w).ui->Maxrecord, "12", nullptr, {ctrlA, ctrlC, end, ctrlV}, "1212"},
        // A paste brings in no character that typing could not.
        {Parts(w).ui->RecordSITime, "10", "4a", {end, ctrlV}, "10"},
        {Parts(w).ui->Setmax, "", "-5", {ctrlV}, "-5"},
        {Parts(w).ui->Setmax, "", "5 V", {ctrlV}, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.start) + " -> " + c.result);
        c.edit->setText(c.start);
        c.edit->setFocus();
        if (c.clipboard) QGuiApplication::clipboard()->setText(c.clipboard);
        for (const Key& k : c.keys) QTest::sendKeyEvent(QTest::Click, c.edit, k.key, QString::fromLatin1(k.text), k.modifiers);
        EXPECT_EQ(c.edit->text().toStdString(), c.result);
    }

    // Tab and Shift+Tab leave the box and come back.
    Parts(w).ui->Setmax->setFocus();
    QTest::sendKeyEvent(QTest::Click, Parts(w).ui->Setmax, Qt::Key_Tab, "\t", Qt::NoModifier);
    EXPECT_NE(QApplication::focusWidget(), Parts(w).ui->Setmax);
    QTest::sendKeyEvent(QTest::Click, QApplication::focusWidget(), Qt::Key_Backtab, "\t", Qt::ShiftModifier);
    EXPECT_EQ(QApplication::focusWidget(), Parts(w).ui->Setmax);
}

}  // namespace
