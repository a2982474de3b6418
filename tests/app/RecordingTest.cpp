#include "WindowFixture.h"

#include "record/grid/ReadingGridView.h"
#include "record/grid/ReadingTableModel.h"
#include "support/ScreenGrab.h"

#include <QAction>
#include <QCheckBox>
#include <QImage>
#include <QHeaderView>
#include <QLineEdit>
#include <QPainter>
#include <QScreen>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>

#include "display/ScaleView.h"

namespace {

TEST(Recording, WithoutAUsableLogStartUpGoesOnAndReadingsAreShownButToldUnloggedOnce)
{
    WindowFixture withLog;
    const TFCOMM& ref = *withLog.w;
    struct Case {
        const char* name;
        std::function<void(const QString& log, std::optional<ReadingTable>& holder)> prepare;
        const char* error;
    } cases[] = {
        {"missing", [](const QString&, auto&) {}, "No such file or directory"},
        {"damaged", [](const QString& log, auto&) {
             MakeLogTable(log);
             QFile(log).resize(100);
         },
         "is damaged"},
        {"not a table", [](const QString& log, auto&) {
             QFile f(log);
             ASSERT_TRUE(f.open(QIODevice::WriteOnly));
             f.write(QByteArray(3000, 'x'));
         },
         "is not a Paradox data table"},
        {"held by another handle", [](const QString& log, auto& holder) {
             MakeLogTable(log);
             holder.emplace();
             holder->setTableName(log.toStdString());
             holder->open();
         },
         "is busy"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QTemporaryDir dir;
        std::optional<ReadingTable> holder;
        c.prepare(QDir(dir.path()).filePath("Queltdb.DB"), holder);
        FakeDialogs dialogs;
        FakeBeeper beeper;
        FakeClock clock;
        FakeHidBackend hid;
        const QString previous = QDir::currentPath();
        QDir::setCurrent(dir.path());
        TFCOMM w(AppServices{dialogs, beeper, clock, hid, FakeSerialFactory(std::make_shared<FakeSerialLine>())});
        QDir::setCurrent(previous);

        // The failure is reported once; every other start-up step ran.
        ASSERT_EQ(dialogs.errors.size(), 1);
        EXPECT_TRUE(dialogs.errors[0].contains(c.error)) << dialogs.errors[0].toStdString();
        EXPECT_FALSE(Parts(w).readingTable.isOpen());
        EXPECT_EQ(w.windowTitle(), ref.windowTitle());
        EXPECT_EQ(Parts(w).attachedRoutine, Parts(ref).attachedRoutine);
        EXPECT_EQ(Parts(w).scale, Parts(ref).scale);
        EXPECT_EQ(Parts(w).limits.MaxLimit, Parts(ref).limits.MaxLimit);
        EXPECT_EQ(Parts(w).limits.MinLimit, Parts(ref).limits.MinLimit);
        EXPECT_EQ(Parts(w).limits.LastUnitText, Parts(ref).limits.LastUnitText);
        EXPECT_EQ(Parts(w).chart.FollowLastPage, Parts(ref).chart.FollowLastPage);
        EXPECT_EQ(Parts(w).recorderState.RecordLimit, Parts(ref).recorderState.RecordLimit);
        for (auto label : {&Ui::TFCOMM::Setmax, &Ui::TFCOMM::SetMin})
            EXPECT_EQ((Parts(w).ui->*label)->text(), (Parts(ref).ui->*label)->text());
        for (auto label : {&Ui::TFCOMM::MinText, &Ui::TFCOMM::MaxText, &Ui::TFCOMM::LcdDa})
            EXPECT_EQ((Parts(w).ui->*label)->text(), (Parts(ref).ui->*label)->text());
        EXPECT_EQ(Parts(w).scaleView->KD1(), Parts(ref).scaleView->KD1());

        // Readings are decoded, shown and checked against the limits; the
        // first one due for the log brings one message, the rest none.
        Parts(w).ui->SetMaxB->click();
        Parts(w).ui->Setmax->setText("5000");
        for (const char* digits : {"1234", "5999", "0042", "1234", "0007"}) {
            const std::vector<uint8_t> run = MeterRun('+', digits, '1', 0x30, 0, 0, 0x80);
            w.ReceiveData(run.data(), int32_t(run.size()));
            QCoreApplication::processEvents();
        }
        EXPECT_EQ(Parts(w).ui->LcdDa->text() + Parts(w).ui->LcdDb->text() + Parts(w).ui->LcdDc->text() + Parts(w).ui->LcdDd->text(), "0007");
        EXPECT_EQ(Parts(w).ui->MaxText->text(), "5.999");
        EXPECT_EQ(beeper.beeps, 1);
        EXPECT_EQ(Parts(w).ui->DBGrid1->model()->rowCount(), 0);
        EXPECT_EQ(dialogs.errors.size(), 1);
        ASSERT_EQ(dialogs.messages.size(), 1) << dialogs.messages.join(" | ").toStdString();
        EXPECT_TRUE(dialogs.messages[0].startsWith("Readings are not being logged: the log table "))
            << dialogs.messages[0].toStdString();
        EXPECT_TRUE(dialogs.messages[0].contains("Queltdb.DB is not open")) << dialogs.messages[0].toStdString();
        EXPECT_TRUE(dialogs.messages[0].contains(c.error)) << dialogs.messages[0].toStdString();
        EXPECT_EQ(Parts(w).recorderState.NextRecordNo, 1);
    }
}

TEST(Recording, ASecondProgramCannotOpenTheSameLog)
{
    WindowFixture first;
    FakeDialogs dialogs;
    FakeBeeper beeper;
    FakeClock clock;
    FakeHidBackend hid;
    const QString previous = QDir::currentPath();
    QDir::setCurrent(first.workDir.path());
    TFCOMM second(AppServices{dialogs, beeper, clock, hid, FakeSerialFactory(std::make_shared<FakeSerialLine>())});
    QDir::setCurrent(previous);
    ASSERT_EQ(dialogs.errors.size(), 1);
    EXPECT_TRUE(dialogs.errors[0].contains("busy")) << dialogs.errors[0].toStdString();
}

TEST(Recording, ReadingsGoIntoTheGridAndAreGoneAfterExit)
{
    WindowFixture f;
    TFCOMM& w = *f.w;
    ReadingGridView* grid = Parts(w).ui->DBGrid1;
    f.Feed(MeterRun('+', "1234", '1', 0x30, 0, 0, 0x80));
    f.Feed(MeterRun('-', "0042", '0', 0x08, 0, 0x20, 0x20));
    ASSERT_EQ(grid->model()->rowCount(), 2);
    QCoreApplication::processEvents();  // the grid follows the current record once per event-loop turn
    EXPECT_EQ(grid->currentIndex().row(), 1);
    auto cell = [&](int row, int col) { return grid->model()->index(row, col).data().toString(); };
    EXPECT_EQ(cell(0, 0), "1");
    EXPECT_EQ(cell(0, 3), "1.234");
    EXPECT_EQ(cell(0, 4), "V");
    EXPECT_EQ(cell(1, 2), "AC");
    EXPECT_EQ(cell(1, 3), "-0042");
    EXPECT_EQ(cell(1, 4), "k*");
    EXPECT_EQ(cell(1, 5), "MANU");
    EXPECT_TRUE(cell(1, 1).contains("34")) << cell(1, 1).toStdString();
    EXPECT_FALSE(grid->model()->flags(grid->model()->index(0, 3)) & Qt::ItemIsEditable);

    // A burst of readings in one turn of the event loop: the grid ends on the
    // newest, in sight.
    w.show();
    for (int i = 0; i < 40; ++i) f.Feed(MeterRun('+', "0001"));
    QCoreApplication::processEvents();
    EXPECT_EQ(grid->currentIndex().row(), 41);
    // As the log grows, its last row rests on the grid's bottom edge.
    EXPECT_EQ(grid->visualRect(grid->model()->index(41, 0)).bottom(), grid->viewport()->height() - 1);
    // The row indicator marks that row, and that row alone, with its arrow.
    const QImage strip = grid->rowIndicator()->grab().toImage();
    const int titles = grid->rowIndicator()->height() - grid->viewport()->height();
    const int y = titles + grid->visualRect(grid->model()->index(41, 0)).center().y();
    EXPECT_LT(qGray(strip.pixel(4, y)), 128);
    EXPECT_GT(qGray(strip.pixel(4, y - grid->rowHeight())), 128);

    // Exit discards the pending records: the file still holds none.
    const QString path = QDir(f.workDir.path()).filePath("Queltdb.DB");
    Parts(w).ui->BtExit1->trigger();
    ReadingTable again;
    again.setTableName(path.toStdString());
    again.open();
    EXPECT_EQ(again.recordCount(), 0u);
}

TEST(Recording, RecordMenuAndNew)
{
    WindowFixture f;
    TFCOMM& w = *f.w;
    QAction* items[] = {Parts(w).ui->N10001, Parts(w).ui->N50001, Parts(w).ui->N100001, Parts(w).ui->N500001, Parts(w).ui->N1000001, Parts(w).ui->limitess};
    const int32_t limits[] = {1000, 5000, 10000, 50000, 100000, 10000000};
    EXPECT_EQ(Parts(w).recorderState.RecordLimit, 10000);
    for (int i = 0; i < 6; ++i) {
        items[i]->trigger();
        EXPECT_EQ(Parts(w).recorderState.RecordLimit, limits[i]);
        for (int j = 0; j < 6; ++j) EXPECT_EQ(items[j]->isChecked(), i == j);
    }

    f.Feed(MeterRun('+', "0001"));
    f.Feed(MeterRun('+', "0002"));
    Parts(w).ui->RecordNew->click();
    EXPECT_EQ(f.dialogs.questions, QStringList{" Record deleted "});
    EXPECT_EQ(Parts(w).ui->DBGrid1->model()->rowCount(), 0);
    f.Feed(MeterRun('+', "0003"));
    EXPECT_EQ(Parts(w).ui->DBGrid1->model()->index(0, 0).data().toString(), "1");
}

TEST(Recording, ControlsOfTheRecorder)
{
    WindowFixture f;
    TFCOMM& w = *f.w;
    Parts(w).ui->RepeatSet->setChecked(false);
    for (int i = 0; i < 3; ++i) f.Feed(MeterRun('+', "0001"));
    EXPECT_EQ(Parts(w).ui->DBGrid1->model()->rowCount(), 1);

    Parts(w).ui->RepeatSet->setChecked(true);
    Parts(w).ui->RecordSI->setChecked(true);
    Parts(w).ui->RecordSITime->setText("2");
    f.Feed(MeterRun('+', "0002"));
    EXPECT_EQ(Parts(w).ui->DBGrid1->model()->rowCount(), 1);  // the countdown restarted from 2
    w.TrecordTimer();
    w.TrecordTimer();
    f.Feed(MeterRun('+', "0003"));
    f.Feed(MeterRun('+', "0004"));
    EXPECT_EQ(Parts(w).ui->DBGrid1->model()->rowCount(), 2);
}

TEST(Recording, CtrlDeleteAsksAndDeletesTheSelectedRecord)
{
    WindowFixture f;
    TFCOMM& w = *f.w;
    for (const char* d : {"0001", "0002", "0003"}) f.Feed(MeterRun('+', d));
    QCoreApplication::processEvents();
    ReadingGridView* grid = Parts(w).ui->DBGrid1;
    grid->setCurrentIndex(grid->model()->index(1, 0));
    f.dialogs.answers = {DialogButton::Cancel, DialogButton::Ok};
    w.DeleteRecordKey();
    EXPECT_EQ(grid->model()->rowCount(), 3);
    w.DeleteRecordKey();
    EXPECT_EQ(f.dialogs.questions, (QStringList{"Delete record?", "Delete record?"}));
    ASSERT_EQ(grid->model()->rowCount(), 2);
    EXPECT_EQ(grid->model()->index(1, 3).data().toString(), "0003");
}

// The grid and the table's current record are one: the grid shows the record
// that the table made current (the last one appended or brought back by the
// journal, the first one of a table just opened), the row the user selects with
// the mouse or the keys becomes the current record, and after Ctrl+Delete the
// record that followed takes the deleted one's place and is current.
TEST(Recording, TheSelectedRowIsTheCurrentRecord)
{
    const std::vector<const char*> values = {"0001", "0002", "0003", "0004", "0005"};
    auto append = [&](WindowFixture& f) {
        for (const char* d : values) f.Feed(MeterRun('+', d));
    };
    const struct Case {
        const char* name;
        int recordsInTheFile;
        std::function<void(WindowFixture&)> fill;
        int startRow;
        std::function<void(ReadingGridView*)> select;
        int selectedRow;
        const char* currentAfterDelete;  // its Value
        int rowAfterDelete;
    } cases[] = {
        {"ClickAfterAppending", 0, append, 4,
         [](ReadingGridView* g) { QTest::mouseClick(g->viewport(), Qt::LeftButton, {}, QPoint(60, g->rowHeight() * 3 / 2)); },
         1, "0003", 1},
        {"KeysAfterOpening", 5, [](WindowFixture&) {}, 0,
         [](ReadingGridView* g) {
             QTest::keyClick(g, Qt::Key_Down);
             QTest::keyClick(g, Qt::Key_Down);
         },
         2, "0004", 2},
        // The last record has no follower: the one before it becomes current.
        {"LastRecord", 5, [](WindowFixture&) {}, 0,
         [](ReadingGridView* g) { QTest::keyClick(g, Qt::Key_End, Qt::ControlModifier); }, 4, "0004", 3},
        // Another table opened as the log, in place of one with records of its own.
        {"AnotherTableOpened", 0,
         [&](WindowFixture& f) {
             f.Feed(MeterRun('+', "0042"));
             QCoreApplication::processEvents();
             const QString old = QDir(f.workDir.path()).filePath("old.db");
             MakeLogTable(old, 5);
             f.dialogs.files = {old};
             Parts(*f.w).ui->OpenDataFiles->click();
         },
         0, [](ReadingGridView* g) { QTest::keyClick(g, Qt::Key_Down); }, 1, "0003", 1},
        // A run that ended without the user's exit, brought back by the journal.
        {"BroughtBackByTheJournal", 0,
         [&](WindowFixture& f) {
             append(f);
             f.w.reset();
             f.Start();
         },
         4, [](ReadingGridView* g) { QTest::keyClick(g, Qt::Key_Up); }, 3, "0005", 3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        WindowFixture f(std::nullopt, true, c.recordsInTheFile);
        c.fill(f);
        TFCOMM& w = *f.w;
        w.show();
        QCoreApplication::processEvents();
        ReadingGridView* grid = Parts(w).ui->DBGrid1;
        ASSERT_EQ(Parts(w).readingTable.recordCount(), 5u);
        EXPECT_EQ(Parts(w).readingTable.currentRecord(), c.startRow);
        EXPECT_EQ(grid->currentIndex().row(), c.startRow);

        grid->setFocus();
        c.select(grid);
        EXPECT_EQ(grid->currentIndex().row(), c.selectedRow);
        EXPECT_EQ(Parts(w).readingTable.currentRecord(), c.selectedRow);

        f.dialogs.answers = {DialogButton::Ok};
        QTest::keyClick(grid, Qt::Key_Delete, Qt::ControlModifier);
        QCoreApplication::processEvents();
        ASSERT_EQ(Parts(w).readingTable.recordCount(), 4u);
        EXPECT_EQ(Parts(w).readingTable.currentRecord(), c.rowAfterDelete);
        EXPECT_EQ(Parts(w).readingTable.fieldText("Value"), c.currentAfterDelete);
        EXPECT_EQ(grid->currentIndex().row(), c.rowAfterDelete);
        EXPECT_TRUE(grid->selectionModel()->isRowSelected(c.rowAfterDelete, {}));
        EXPECT_EQ(f.dialogs.errors, QStringList());
    }
}

// A log table whose records carry these numbers.
void MakeNumberedLog(const QString& path, const std::vector<int32_t>& numbers)
{
    const paradox::Schema schema = ReadingLogSchema();
    paradox::RowStore rows(schema.recordSize);
    for (int32_t n : numbers)
        paradox::setInteger(rows.append(), schema.fields[size_t(schema.find("No"))], n);
    paradox::writeTableFile(path.toStdString(), schema, rows);
}

// Dark pixels of a row's No cell as the grid shows it, and of the same text
// drawn whole in a cell as wide as it needs: equal when nothing is cut.
int InkInNoCell(ReadingGridView* grid, int row)
{
    const QImage shown = grid->viewport()->grab().toImage();
    const QRect cell = grid->visualRect(grid->model()->index(row, 0)).adjusted(0, 0, -1, -1);  // the grid lines off
    int ink = 0;
    for (int y = cell.top(); y <= cell.bottom(); ++y)
        for (int x = std::max(cell.left(), 0); x <= cell.right(); ++x)
            ink += qGray(shown.pixel(x, y)) < 100;
    return ink;
}

int InkOfWholeText(ReadingGridView* grid, const QString& text)
{
    QImage image(400, grid->rowHeight() - 1, QImage::Format_RGB32);
    image.fill(QColor(192, 192, 192));
    QPainter painter(&image);
    painter.setFont(grid->font());
    painter.setPen(grid->palette().color(QPalette::Text));
    painter.drawText(image.rect().adjusted(2, 0, -2, 0), Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, text);
    painter.end();
    int ink = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            ink += qGray(image.pixel(x, y)) < 100;
    return ink;
}

TEST(Recording, TheNoColumnShowsEveryRecordNumberWhole)
{
    WindowFixture f;
    TFCOMM& w = *f.w;
    w.show();
    ReadingGridView* grid = Parts(w).ui->DBGrid1;
    const int others[] = {53, 37, 43, 36, 100};
    auto otherWidths = [&] {
        std::vector<int> widths;
        for (int c = 1; c < 6; ++c) widths.push_back(grid->columnWidth(c));
        return widths;
    };
    const std::vector<int> stored(std::begin(others), std::end(others));
    // Wide enough for the text in the grid's font, its margins and the grid line.
    auto fits = [&](const QString& number) {
        const qreal advance = QFontMetricsF(grid->font()).horizontalAdvance(number);
        return advance + 2 * 2 + 1 <= grid->columnWidth(0);
    };
    // The row in sight, not highlighted.
    auto seeWhole = [&](int row) {
        QCoreApplication::processEvents();
        grid->selectionModel()->clearSelection();
        grid->scrollTo(grid->model()->index(row, 0), QAbstractItemView::PositionAtTop);
        const QString text = grid->model()->index(row, 0).data().toString();
        SCOPED_TRACE(text.toStdString());
        EXPECT_TRUE(fits(text)) << grid->columnWidth(0);
        EXPECT_GT(InkOfWholeText(grid, text), 0);
        EXPECT_EQ(InkInNoCell(grid, row), InkOfWholeText(grid, text));
        EXPECT_EQ(otherWidths(), stored);
    };
    EXPECT_EQ(grid->columnWidth(0), 39);

    // Recorded: the column widens only when a number has more digits than
    // any before it.
    auto* model = qobject_cast<ReadingTableModel*>(grid->model());
    ASSERT_TRUE(model);
    QSignalSpy widened(model, &ReadingTableModel::longestRecordNumberChanged);
    Parts(w).recorderState.NextRecordNo = 99998;
    for (int i = 0; i < 30; ++i) f.Feed(MeterRun('+', "0100"));
    ASSERT_EQ(Parts(w).readingTable.recordCount(), 30u);
    EXPECT_EQ(widened.count(), 2);  // at 99998 and at 100000
    EXPECT_EQ(model->longestRecordNumber(), "100000");
    seeWhole(2);
    Parts(w).recorderState.NextRecordNo = 1070837;
    f.Feed(MeterRun('+', "0100"));
    f.Feed(MeterRun('+', "0100"));
    seeWhole(30);

    // New starts again from the stored width.
    Parts(w).ui->RecordNew->click();
    QCoreApplication::processEvents();
    EXPECT_EQ(Parts(w).readingTable.recordCount(), 0u);
    EXPECT_EQ(grid->columnWidth(0), 39);

    // Old data files: the longest number anywhere in the file, up to the
    // largest a record can carry.
    const struct {
        const char* name;
        std::vector<int32_t> numbers;
        int row;  // where the longest number is
    } files[] = {
        {"SevenDigitsInTheMiddle", {1, 1070837, 5}, 1},
        {"NegativeAndLarge", {-999999, 215372, 3}, 0},
        {"TheLargestNumber", {10000001, 2}, 0},
        {"ShortNumbers", {7, 12}, 1},
    };
    for (const auto& c : files) {
        SCOPED_TRACE(c.name);
        const QString path = QDir(f.workDir.path()).filePath(QString::fromLatin1(c.name) + ".db");
        MakeNumberedLog(path, c.numbers);
        f.dialogs.files = {path};
        Parts(w).ui->OpenDataFiles->click();
        ASSERT_EQ(Parts(w).readingTable.recordCount(), c.numbers.size());
        seeWhole(c.row);
    }
    EXPECT_EQ(grid->columnWidth(0), 39);  // the short numbers of the last file
}

TEST(Recording, TheGridOnScreenIsTheGridDrawnAfreshAfterEveryReading)
{
    // New readings move the rows in sight up instead of painting them again,
    // and only the new row and the rows whose selection changed are painted:
    // what the window shows must still be the grid as it is, after each
    // reading, after a burst of readings in one turn, and after the user
    // scrolls away and back.
    WindowFixture f;
    TFCOMM& w = *f.w;
    w.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
    ReadingGridView* grid = Parts(w).ui->DBGrid1;
    const auto same = [&](const char* when) {
        SCOPED_TRACE(when);
        QCoreApplication::processEvents();
        QCoreApplication::sendPostedEvents();
        QCoreApplication::processEvents();
        for (QWidget* part : {grid->viewport(), grid->rowIndicator(), static_cast<QWidget*>(grid->verticalScrollBar())})
            EXPECT_EQ(OnScreen(part), DrawnAfresh(part)) << part->metaObject()->className();
    };
    const char* values[] = {"0100", "2345", "5999", "0007", "1234", "4321"};
    for (int i = 0; i < 40; ++i) {
        f.Feed(MeterRun(i % 2 ? '-' : '+', values[i % 6]));
        same("one reading");
    }
    for (int i = 0; i < 3; ++i)
        f.Feed(MeterRun('+', values[i]));
    same("three readings in one turn");
    grid->scrollTo(grid->model()->index(0, 0), QAbstractItemView::PositionAtTop);
    same("scrolled to the top");
    f.Feed(MeterRun('+', "0200"));
    same("a reading scrolls back to the end");
    grid->verticalScrollBar()->setValue(grid->verticalScrollBar()->value() - 2);
    same("two rows up with the scroll bar");
}

TEST(Recording, TheScrollBarIsNotPaintedForReadingsThatLeaveItsHandleWhereItIs)
{
    // Once the handle is as short as it gets and rests at the end, a new row
    // changes nothing the bar shows: it is not painted again (each paint of
    // its tall groove wakes Qt's painting threads).
    WindowFixture f;
    TFCOMM& w = *f.w;
    w.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
    QScrollBar* bar = Parts(w).ui->DBGrid1->verticalScrollBar();
    const auto settle = [] {
        QCoreApplication::processEvents();
        QCoreApplication::sendPostedEvents();
        QCoreApplication::processEvents();
    };
    for (int i = 0; i < 300; ++i) f.Feed(MeterRun('+', "0100"));
    settle();
    struct Paints : QObject {
        int count = 0;
        bool eventFilter(QObject*, QEvent* e) override
        {
            count += e->type() == QEvent::Paint;
            return false;
        }
    } paints;
    bar->installEventFilter(&paints);
    const QImage before = OnScreen(bar);
    for (int i = 0; i < 20; ++i) {
        f.Feed(MeterRun('+', "0100"));
        settle();
    }
    EXPECT_EQ(bar->value(), bar->maximum());
    EXPECT_EQ(paints.count, 0);
    EXPECT_EQ(OnScreen(bar), before);
    EXPECT_EQ(OnScreen(bar), DrawnAfresh(bar));
}

}  // namespace
