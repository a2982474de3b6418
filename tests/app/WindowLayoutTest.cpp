// The main window as its description lays it out: regions, LCD elements,
// toolbars, hidden controls and the main menu, checked on a window built from
// the description before any re-layout.
#include <QAbstractButton>
#include <QAction>
#include <QCheckBox>
#include <QFontInfo>
#include <QFontMetricsF>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QProgressBar>
#include <QPushButton>
#include <QStandardItemModel>
#include <QStyle>
#include <QStyleOptionButton>
#include <QToolButton>
#include <gtest/gtest.h>
#include <map>
#include <string>
#include <vector>

#include "record/grid/ReadingGridView.h"
#include "ui_TFCOMM.h"

namespace {

class WindowLayoutTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ui.setupUi(&window);
        window.ensurePolished();  // applies the fonts and colours of the description
    }

    QWidget* W(const char* name) const
    {
        auto* w = window.findChild<QWidget*>(name);
        EXPECT_NE(w, nullptr) << name;
        return w;
    }

    // The caption of a label, button, check box or edit.
    static QString Caption(QWidget* w)
    {
        if (auto* l = qobject_cast<QLabel*>(w)) return l->text();
        if (auto* b = qobject_cast<QAbstractButton*>(w)) return b->text();
        if (auto* e = qobject_cast<QLineEdit*>(w)) return e->text();
        return "<no caption>";
    }

    // The colour drawn at (x, y) of the widget.
    static QColor PixelAt(QWidget* w, int x, int y)
    {
        return w->grab().toImage().pixelColor(x, y);
    }

    QMainWindow window;
    Ui::TFCOMM ui;
};

const QColor kSilver(192, 192, 192);
const QColor kGray(128, 128, 128);

struct Placed {
    const char* parent;
    const char* name;
    int x, y, w, h;    // w, h < 0: size not fixed by the layout
    const char* text;  // nullptr: no caption to check
    bool shown;
};

TEST_F(WindowLayoutTest, RegionsAndControlsSitWhereTheLayoutSays)
{
    const Placed table[] = {
        {"centralwidget", "BtCOM1", 5, 3, 61, 24, "COM 1", true},
        {"centralwidget", "BtCOM2", 5, 3, 61, 24, "COM 2", false},
        {"centralwidget", "BtCOM3", 5, 3, 61, 24, "COM 3", false},
        {"centralwidget", "BtCOM4", 5, 3, 61, 24, "COM 4", false},
        {"centralwidget", "COMCon", 68, 3, 94, 25, "COM Connect", true},
        {"centralwidget", "USBCon", 164, 3, 94, 25, "USB Connect", true},
        {"centralwidget", "BitBtn1", 552, 3, 57, 25, "EXIT", true},
        {"centralwidget", "Panel1", 3, 31, 285, 162, nullptr, true},
        {"centralwidget", "PBar2", 3, 192, 284, 17, nullptr, true},
        {"centralwidget", "Panel3", 3, 208, 285, 47, nullptr, true},
        {"centralwidget", "RepeatSet", 3, 258, 54, 20, "Repeat", true},
        {"centralwidget", "RecordSI", 57, 258, 143, 20, "Sampling Interval           'S", true},
        {"centralwidget", "RecordSITime", 159, 258, 27, 21, "10", true},
        {"centralwidget", "RecordNew", 200, 258, 23, 21, nullptr, true},
        {"centralwidget", "OpenDataFiles", 222, 258, 23, 21, nullptr, true},
        {"centralwidget", "saveas", 244, 258, 23, 21, nullptr, true},
        {"centralwidget", "BtPrint", 266, 258, 22, 21, nullptr, true},
        {"centralwidget", "DBGrid1", 0, 280, 289, 169, nullptr, true},
        {"centralwidget", "KD", 290, 31, 318, 139, nullptr, true},
        {"centralwidget", "KD2", 294, 39, 316, 134, nullptr, true},
        {"centralwidget", "Chtshow", 288, 163, 321, 286, nullptr, true},
        {"Panel3", "Label11", 8, 9, -1, -1, "MIN: ", true},
        {"Panel3", "MinText", 48, 9, -1, -1, "-4001", true},
        {"Panel3", "MinTextU", 96, 9, -1, -1, "*", true},
        {"Panel3", "Label12", 8, 29, -1, -1, "MAX: ", true},
        {"Panel3", "MaxText", 48, 29, -1, -1, "4001", true},
        {"Panel3", "MaxTextU", 96, 29, -1, -1, "*", true},
        {"Panel3", "SetMaxB", 140, 6, -1, -1, "SetMax:", true},
        {"Panel3", "SetMinB", 140, 29, -1, -1, "SetMin: ", true},
        {"Panel3", "Setmax", 208, 3, 65, 21, "4000", true},
        {"Panel3", "SetMin", 208, 26, 65, 21, "-4000", true},
        {"KD", "oltext", 109, 72, 113, 49, "OL !!", false},
        {"Chtshow", "Bevel1", 2, 2, 40, 20, nullptr, true},
        {"Chtshow", "BtFill", 5, 5, 36, 17, "Fill", true},
        {"Chtshow", "Maxrecord", 48, 3, 41, 21, "100", true},
        {"Chtshow", "BtNew", 91, 3, 35, 21, nullptr, true},
        {"Chtshow", "BtSave", 125, 3, 35, 21, nullptr, true},
        {"Chtshow", "BtFirst", 163, 3, 25, 21, nullptr, true},
        {"Chtshow", "BTPrevious", 187, 3, 25, 21, nullptr, true},
        {"Chtshow", "Bt10", 211, 3, 25, 21, "1", true},
        {"Chtshow", "BtNext", 235, 3, 25, 21, nullptr, true},
        {"Chtshow", "BTlast", 259, 3, 25, 21, nullptr, true},
        {"Chtshow", "TbFd", 288, 3, 25, 25, nullptr, true},
        {"Chtshow", "TbSx", 288, 3, 25, 25, nullptr, false},
        // The LCD's digits, sign, points and pictures.
        {"Panel1", "LcdFH", 5, 36, 28, 112, "-", true},
        {"Panel1", "LcdDa", 40, 28, 38, 112, "5", true},
        {"Panel1", "LcdDb", 88, 28, 38, 112, "9", true},
        {"Panel1", "LcdDc", 136, 28, 38, 112, "9", true},
        {"Panel1", "LcdDd", 184, 28, 38, 112, "9", true},
        {"Panel1", "LcdP1", 79, 113, 7, 8, nullptr, false},
        {"Panel1", "LcdP2", 127, 113, 7, 8, nullptr, false},
        {"Panel1", "LcdP3", 176, 113, 9, 8, nullptr, false},
        {"Panel1", "LCDREL", 129, 10, 24, 24, nullptr, false},
        {"Panel1", "LCDsend", 5, 4, 36, 29, nullptr, false},
        {"Panel1", "EF", 153, 9, 24, 25, nullptr, false},
        {"Panel1", "LCDFm", 176, 8, 25, 36, "&", false},
    };
    for (const Placed& p : table) {
        SCOPED_TRACE(p.name);
        QWidget* w = W(p.name);
        ASSERT_NE(w, nullptr);
        EXPECT_EQ(w->parentWidget()->objectName().toStdString(), p.parent);
        EXPECT_EQ(w->pos(), QPoint(p.x, p.y));
        if (p.w >= 0) {
            EXPECT_EQ(w->size(), QSize(p.w, p.h));
        }
        if (p.text) {
            EXPECT_EQ(Caption(w).toStdString(), p.text);
        }
        EXPECT_EQ(!w->isHidden(), p.shown);
    }
}

struct Annunciator {
    const char* name;
    int x, y;
    const char* caption;
    int px;
    bool bold;
    const char* family;
};

TEST_F(WindowLayoutTest, AnnunciatorsAreHiddenLabelsInTheirPlaceAndFont)
{
    const Annunciator table[] = {
        {"LcdAuto", 56, 131, "Auto range", 16, true, "SEGO-A2"},
        {"LcdDc1", 5, 46, "DC", 21, true, "SEGO-A2"},
        {"LcdAC", 6, 46, "AC", 21, true, "SEGO-A2"},
        {"LCDHold", 8, 102, "\"", 35, false, "SEGO-A2"},
        {"Labmax", 52, 18, "MAX", 16, true, "Arial"},
        {"Labmin", 92, 18, "MIN", 16, true, "Arial"},
        {"LCDBATT", 256, -1, "$", 35, false, "SEGO-A2"},
        {"LCDn", 208, 10, "n", 24, false, "SEGO-A2"},
        {"LCDu", 208, 3, "+", 32, false, "SEGO-A2"},
        {"Lcdm", 208, 9, "m", 24, false, "SEGO-A2"},
        {"LCDk", 238, 76, "k", 24, false, "SEGO-A2"},
        {"LCDM1", 238, 81, "M", 19, false, "SEGO-A2"},
        {"LCDFm", 176, 8, "&", 32, false, "SEGO-A2"},
        {"LCDDI", 176, 9, ")", 29, false, "SEGO-A2"},
        {"LCDBF", 248, 40, "%", 21, false, "SEGO-A2"},
        {"LcdV", 232, 11, "V", 24, false, "SEGO-A2"},
        {"LCDA", 232, 10, "A", 24, false, "SEGO-A2"},
        {"LCDohm", 264, 81, "*", 19, false, "SEGO-A2"},
        {"LCDHz", 248, 98, "Hz", 24, false, "SEGO-A2"},
        {"LCDF", 232, 10, "F", 24, false, "SEGO-A2"},
        {"LCDCS", 240, 57, "#", 24, false, "SEGO-A2"},
        {"LCDFS", 256, 57, "?", 24, false, "SEGO-A2"},
        {"LcdRPM", 166, 131, "RPM", 16, true, "SEGO-A2"},
        {"LCDBT", 232, 97, "(", 35, false, "SEGO-A2"},
        // The digits and the sign share the font at 100 pixels.
        {"LcdFH", 5, 36, "-", 100, false, "SEGO-A2"},
        {"LcdDa", 40, 28, "5", 100, false, "SEGO-A2"},
        {"LcdDd", 184, 28, "9", 100, false, "SEGO-A2"},
    };
    for (const Annunciator& a : table) {
        SCOPED_TRACE(a.name);
        auto* l = qobject_cast<QLabel*>(W(a.name));
        ASSERT_NE(l, nullptr);
        EXPECT_EQ(l->parentWidget(), ui.Panel1);
        EXPECT_EQ(l->pos(), QPoint(a.x, a.y));
        EXPECT_EQ(l->text().toStdString(), a.caption);
        EXPECT_EQ(l->font().family().toStdString(), a.family);
        EXPECT_EQ(l->font().pixelSize(), a.px);
        EXPECT_EQ(l->font().bold(), a.bold);
        EXPECT_FALSE(l->font().italic());
        // Transparent and black, and big enough for its character height.
        EXPECT_FALSE(l->autoFillBackground());
        EXPECT_EQ(l->palette().color(l->foregroundRole()), QColor(Qt::black));
        EXPECT_GE(l->height(), a.px);
        if (a.px < 100) {
            EXPECT_TRUE(l->isHidden());
        }
    }
}

struct FontCase {
    const char* name;
    const char* family;
    int px;
    bool bold;
    bool italic;
};

TEST_F(WindowLayoutTest, FontsArePixelSized)
{
    const FontCase table[] = {
        {"BtCOM1", "Arial", 16, true, false},
        {"BtCOM4", "Arial", 16, true, false},
        {"COMCon", "Arial", 13, true, false},
        {"USBCon", "Arial", 13, true, false},
        {"BitBtn1", "Arial", 14, true, true},
        {"RepeatSet", "Arial", 11, false, false},
        {"RecordSI", "Arial", 11, false, false},
        {"MinText", "Arial", 14, false, true},
        {"MaxText", "Arial", 14, false, true},
        {"Label11", "SEGO-A2", 11, true, false},
        {"MaxTextU", "SEGO-A2", 11, true, false},
        {"oltext", "Arial", 35, true, false},
        {"DBGrid1", "Arial", 12, false, false},
        // The window's default font.
        {"centralwidget", "MS Sans Serif", 11, true, false},
        {"Setmax", "MS Sans Serif", 11, true, false},
        {"SetMaxB", "MS Sans Serif", 11, true, false},
        {"BtFill", "MS Sans Serif", 11, true, false},
        {"Maxrecord", "MS Sans Serif", 11, true, false},
        {"BTCon", "MS Sans Serif", 11, true, false},
    };
    for (const FontCase& c : table) {
        SCOPED_TRACE(c.name);
        const QFont f = W(c.name)->font();
        EXPECT_EQ(f.family().toStdString(), c.family);
        EXPECT_EQ(f.pixelSize(), c.px);
        EXPECT_EQ(f.bold(), c.bold);
        EXPECT_EQ(f.italic(), c.italic);
    }
    const QFont header = ui.DBGrid1->horizontalHeader()->font();
    EXPECT_EQ(header.family(), "MS Sans Serif");
    EXPECT_EQ(header.pixelSize(), 11);
    EXPECT_FALSE(header.bold());
}

TEST_F(WindowLayoutTest, ColoursOfPanelsAndTexts)
{
    window.show();
    // Sample points inside the bevels and clear of any caption or child.
    const struct {
        const char* name;
        int x, y;
        QColor colour;
    } backgrounds[] = {
        {"centralwidget", 400, 15, kGray},
        {"Panel1", 270, 150, Qt::white},
        {"Panel3", 280, 3, kSilver},
        {"KD", 300, 130, Qt::white},
        {"BtCOM1", 3, 12, kSilver},
        {"RecordSITime", 22, 10, kSilver},
        {"Maxrecord", 36, 10, kSilver},
        {"oltext", 3, 3, kGray},
        {"LcdP1", 3, 4, Qt::black},
    };
    for (const auto& b : backgrounds) {
        SCOPED_TRACE(b.name);
        EXPECT_EQ(PixelAt(W(b.name), b.x, b.y), b.colour);
    }
    EXPECT_EQ(PixelAt(ui.DBGrid1->viewport(), 150, 80), kSilver);
    // The sunken edges are shaded from each panel's own colour.
    EXPECT_EQ(PixelAt(W("Panel1"), 0, 0), QColor(170, 170, 170));
    EXPECT_EQ(PixelAt(W("KD"), 0, 0), QColor(170, 170, 170));
    EXPECT_EQ(PixelAt(W("Panel3"), 0, 0), QColor(128, 128, 128));

    const struct {
        const char* name;
        QColor colour;
    } texts[] = {
        {"RepeatSet", Qt::white},
        {"RecordSI", Qt::white},
        {"oltext", Qt::white},
        {"Bt10", Qt::blue},
        {"MinText", Qt::black},
        {"BtCOM1", Qt::black},
    };
    for (const auto& t : texts) {
        SCOPED_TRACE(t.name);
        QWidget* w = W(t.name);
        EXPECT_EQ(w->palette().color(w->foregroundRole()), t.colour);
    }
}

TEST_F(WindowLayoutTest, ClientAreaHasAFixedSizeAndNoCaption)
{
    EXPECT_EQ(window.objectName(), "FCOMM");
    EXPECT_EQ(ui.centralwidget->minimumSize(), QSize(614, 455));
    EXPECT_EQ(ui.centralwidget->maximumSize(), QSize(614, 455));
    EXPECT_TRUE(window.windowTitle().isEmpty());
}

TEST_F(WindowLayoutTest, OverlappingControlsLieInTheRightOrder)
{
    // Later siblings are drawn over earlier ones.
    const struct {
        const char* below;
        const char* above;
    } pairs[] = {
        {"KD2", "KD"},
        {"RecordSI", "RecordSITime"},
        {"Bevel1", "BtFill"},
        {"Panel1", "PBar2"},
    };
    for (const auto& p : pairs) {
        QWidget* below = W(p.below);
        QWidget* above = W(p.above);
        const auto siblings = below->parentWidget()->children();
        EXPECT_LT(siblings.indexOf(below), siblings.indexOf(above)) << p.below << " / " << p.above;
    }
}

TEST_F(WindowLayoutTest, ControlsOutOfViewAndProfileFlags)
{
    const struct {
        const char* name;
        const char* caption;
        bool shown;
    } panels[] = {{"BTCon", "Connect", true}, {"BtDiscon", "Disconnect", false}, {"BtExit", "Exit", true}};
    for (const auto& p : panels) {
        QWidget* w = W(p.name);
        EXPECT_GE(w->y(), 455) << p.name;
        EXPECT_EQ(Caption(w).toStdString(), p.caption);
        EXPECT_EQ(!w->isHidden(), p.shown) << p.name;
    }
    EXPECT_EQ(ui.BTCon->pos(), ui.BtDiscon->pos());

    const char* flags[] = {"IFEvrin", "IFQuelt", "IFOstra", "IFHarvo", "IFLintra", "IFTormo",
                           "IFBramo", "IFDessa", "IFElvik", "IFAvrel", "IFNusko"};
    for (const char* f : flags) {
        auto* box = qobject_cast<QCheckBox*>(W(f));
        ASSERT_NE(box, nullptr) << f;
        EXPECT_TRUE(box->isHidden()) << f;
        EXPECT_EQ(box->isChecked(), std::string(f) == "IFTormo") << f;
    }
}

TEST_F(WindowLayoutTest, ToolTipsOnlyOnTheRecordAndChartToolbars)
{
    const std::map<std::string, std::string> tips = {
        {"RecordNew", "Close Data"},
        {"OpenDataFiles", "Open old data files"},
        {"saveas", "Save data files"},
        {"BtFill", "Graphic Fill"},
        {"BtNew", "New"},
        {"BtSave", "Save"},
        {"BtFirst", "First"},
        {"BTPrevious", "Previous"},
        {"Bt10", "Page No."},
        {"BtNext", "Next"},
        {"BTlast", "last"},
        {"TbFd", "Graphic Enlarge"},
        {"TbSx", "Graphic Restore"},
    };
    for (QWidget* w : window.findChildren<QWidget*>()) {
        const auto it = tips.find(w->objectName().toStdString());
        EXPECT_EQ(w->toolTip().toStdString(), it == tips.end() ? "" : it->second)
            << w->objectName().toStdString();
    }
    for (const auto& [name, tip] : tips) EXPECT_NE(window.findChild<QWidget*>(name.c_str()), nullptr);
}

TEST_F(WindowLayoutTest, ControlStatesAtStart)
{
    for (QPushButton* b : {ui.COMCon, ui.USBCon}) {
        EXPECT_TRUE(b->isCheckable());
        EXPECT_FALSE(b->isChecked());
        EXPECT_FALSE(b->autoExclusive());  // both may be up: the window handles the pair
    }
    EXPECT_TRUE(ui.RepeatSet->isChecked());
    EXPECT_FALSE(ui.RecordSI->isChecked());
    EXPECT_FALSE(ui.SetMaxB->isChecked());
    EXPECT_FALSE(ui.SetMinB->isChecked());
    EXPECT_TRUE(ui.BtFill->isChecked());
    EXPECT_TRUE(ui.CONok->isHidden());
    EXPECT_FALSE(ui.CONokN->isHidden());
    EXPECT_EQ(ui.CONok->geometry(), ui.CONokN->geometry());
    EXPECT_LE(ui.CONok->x() + ui.CONok->y(), 4);  // at the dial panel's top-left
    EXPECT_TRUE(ui.KD2->hasScaledContents());

    EXPECT_EQ(ui.PBar2->minimum(), 0);
    EXPECT_EQ(ui.PBar2->maximum(), 60);
    EXPECT_EQ(ui.PBar2->value(), 30);
    EXPECT_FALSE(ui.PBar2->isTextVisible());
}

TEST_F(WindowLayoutTest, ReadingGridShowsRowsReadOnlyAndIsNoTabStop)
{
    ReadingGridView* g = ui.DBGrid1;
    EXPECT_EQ(g->editTriggers(), QAbstractItemView::NoEditTriggers);
    EXPECT_EQ(g->selectionBehavior(), QAbstractItemView::SelectRows);
    EXPECT_TRUE(g->showGrid());
    EXPECT_TRUE(g->tabKeyNavigation());
    EXPECT_FALSE(g->horizontalHeader()->isHidden());
    EXPECT_FALSE(g->rowIndicator()->isHidden());
    EXPECT_EQ(g->rowHeight(), 18);
    QStandardItemModel log(3, 6);
    g->setModel(&log);
    EXPECT_EQ(g->horizontalHeader()->sectionResizeMode(0), QHeaderView::Interactive);
    EXPECT_FALSE(g->focusPolicy() & Qt::TabFocus);
    EXPECT_TRUE(g->focusPolicy() & Qt::ClickFocus);
}

struct MenuItem {
    const char* name;  // nullptr: separator
    const char* text;
    bool checkable, checked, enabled;
};

TEST_F(WindowLayoutTest, MainMenuInOrder)
{
    const struct {
        const char* name;
        const char* title;
        std::vector<MenuItem> items;
    } menus[] = {
        {"ComSetup1", "ComSetup", {{"COM11", "COM1", true, true, true}, {"COM21", "COM2", true, false, true}, {"COM31", "COM3", true, false, true}, {"COM41", "COM4", true, false, true}}},
        {"Connect1", "Connect", {{"START1", "START", true, false, true}, {"STOP1", "STOP", true, false, false}}},
        {"Blank1", "", {}},
        {"Graphic1", "Graphic", {{"First1", "First", false, false, true}, {"Previous1", "Previous", false, false, true}, {"Next1", "Next", false, false, true}, {"Last1", "Last", false, false, true}, {nullptr, "", false, false, true}, {"New1", "New", false, false, true}, {"Save1", "Save", false, false, true}, {nullptr, "", false, false, true}, {"Fill1", "Fill", true, true, true}}},
        {"Record1", "Record", {{"RecordNew1", "New", false, false, true}, {"RecordSave1", "Save", false, false, true}, {"RecordExportCsv1", "Export CSV…", false, false, true}, {"RecordLogCsv1", "Log to CSV file…", true, false, true}, {nullptr, "", false, false, true}, {"N10001", "1000", true, false, true}, {"N50001", "5000", true, false, true}, {"N100001", "10000", true, true, true}, {"N500001", "50000", true, false, true}, {"N1000001", "100000", true, false, true}, {"limitess", "limitless", true, false, true}}},
        {"Blank2", "", {}},
    };
    const QList<QAction*> top = ui.MainMenu1->actions();
    ASSERT_EQ(top.size(), 7);
    for (int i = 0; i < 6; ++i) {
        const auto& m = menus[i];
        SCOPED_TRACE(m.name);
        QMenu* menu = top[i]->menu();
        ASSERT_NE(menu, nullptr);
        EXPECT_EQ(menu->objectName().toStdString(), m.name);
        EXPECT_EQ(menu->title().toStdString(), m.title);
        // The blank items have no caption, no items and no action.
        EXPECT_EQ(top[i]->isEnabled(), *m.title != '\0');
        const QList<QAction*> items = menu->actions();
        ASSERT_EQ(items.size(), qsizetype(m.items.size()));
        for (size_t k = 0; k < m.items.size(); ++k) {
            const MenuItem& want = m.items[k];
            QAction* a = items[qsizetype(k)];
            if (!want.name) {
                EXPECT_TRUE(a->isSeparator()) << k;
                continue;
            }
            EXPECT_EQ(a->objectName().toStdString(), want.name);
            EXPECT_EQ(a->text().toStdString(), want.text);
            EXPECT_EQ(a->isCheckable(), want.checkable) << want.name;
            EXPECT_EQ(a->isChecked(), want.checked) << want.name;
            EXPECT_EQ(a->isEnabled(), want.enabled) << want.name;
        }
    }
    EXPECT_EQ(top[6]->objectName(), "BtExit1");
    EXPECT_EQ(top[6]->text(), "Exit");
    EXPECT_EQ(top[6]->menu(), nullptr);
    EXPECT_TRUE(top[6]->isEnabled());
}

TEST_F(WindowLayoutTest, MenuHasNoShortcutsOrAcceleratorLetters)
{
    for (QAction* a : window.findChildren<QAction*>()) {
        EXPECT_TRUE(a->shortcut().isEmpty()) << a->objectName().toStdString();
        EXPECT_FALSE(a->text().contains('&')) << a->objectName().toStdString();
    }
}

// Every caption shows whole with the faces a Debian system gives the window's
// fonts: DejaVu Sans standing in for the default font, Liberation Sans (metric
// compatible) for Arial. Trailing blanks need not show.
TEST(WindowCaptions, ShowWholeWithTheStandInFonts)
{
    QFont::insertSubstitution("MS Sans Serif", "DejaVu Sans");
    QFont::insertSubstitution("Arial", "Liberation Sans");
    QMainWindow window;
    Ui::TFCOMM ui;
    ui.setupUi(&window);
    window.show();
    ASSERT_EQ(QFontInfo(ui.SetMaxB->font()).family(), "DejaVu Sans");
    ASSERT_EQ(QFontInfo(ui.RecordSI->font()).family(), "Liberation Sans");

    const struct {
        const char* name;
        const char* text;  // nullptr: the caption it has
    } captions[] = {
        {"BtCOM1", nullptr},
        {"BtCOM2", nullptr},
        {"BtCOM3", nullptr},
        {"BtCOM4", nullptr},
        {"COMCon", nullptr},
        {"USBCon", nullptr},
        {"BitBtn1", nullptr},
        {"Labmax", nullptr},
        {"Labmin", nullptr},
        {"Label11", nullptr},
        {"Label12", nullptr},
        {"SetMaxB", nullptr},
        {"SetMinB", nullptr},
        // The widest texts MAX and MIN show on the 6000-count profile.
        {"MinText", "-6001"},
        {"MaxText", "-6001"},
        {"MinText", "-5.999"},
        {"MaxText", "-5.999"},
        {"RepeatSet", nullptr},
        {"RecordSI", nullptr},
        {"oltext", nullptr},
        {"BtFill", nullptr},
    };
    for (const auto& c : captions) {
        auto* w = window.findChild<QWidget*>(c.name);
        ASSERT_NE(w, nullptr) << c.name;
        QString text;
        QRect room;  // where the caption is drawn, in the widget
        if (auto* l = qobject_cast<QLabel*>(w)) {
            text = l->text();
            room = l->contentsRect().adjusted(l->margin(), 0, -l->margin(), 0);
        } else if (auto* b = qobject_cast<QAbstractButton*>(w)) {
            text = b->text();
            QStyleOptionButton o;
            o.initFrom(b);
            o.text = text;
            const bool box = qobject_cast<QCheckBox*>(b) != nullptr;
            room = b->style()->subElementRect(box ? QStyle::SE_CheckBoxContents : QStyle::SE_PushButtonContents, &o, b);
        }
        if (c.text) text = c.text;
        SCOPED_TRACE(std::string(c.name) + " \"" + text.toStdString() + "\"");
        const QFontMetricsF metrics(w->font());
        EXPECT_LE(metrics.horizontalAdvance(text.trimmed()), room.width());

        // The words of a check box's caption lie in view: no control placed
        // after it covers them (the interval box covers only the blanks of
        // "Sampling Interval           'S").
        if (!qobject_cast<QCheckBox*>(w)) continue;
        const QWidget* parent = w->parentWidget();
        const QList<QObject*> siblings = parent->children();
        for (qsizetype start = 0; start < text.size();) {
            if (text[start] == ' ') {
                ++start;
                continue;
            }
            qsizetype end = start;
            while (end < text.size() && text[end] != ' ') ++end;
            const qreal left = room.left() + metrics.horizontalAdvance(text.left(start));
            const qreal right = room.left() + metrics.horizontalAdvance(text.left(end));
            const QRect word = QRectF(QPointF(left, 0), QPointF(right, w->height())).toAlignedRect().translated(w->pos());
            for (qsizetype k = siblings.indexOf(w) + 1; k < siblings.size(); ++k) {
                auto* over = qobject_cast<QWidget*>(siblings[k]);
                if (over && !over->isHidden() && over->geometry().intersects(word))
                    ADD_FAILURE() << "\"" << text.mid(start, end - start).toStdString() << "\" lies under "
                                  << over->objectName().toStdString();
            }
            start = end;
        }
    }
}

}  // namespace
