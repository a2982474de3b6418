#include "app/TFCOMM.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QDir>
#include <QFile>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMouseEvent>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QShortcut>
#include <QValidator>
#include <algorithm>
#include <cstdio>
#include <exception>

#include "app/AppSettings.h"
#include "app/Pictures.h"
#include "meter/FrameDecoder.h"
#include "display/LcdFont.h"
#include "display/LcdPanel.h"
#include "display/ScaleView.h"
#include "platform/Beeper.h"
#include "meter/Convert.h"
#include "platform/Dialogs.h"
#include "platform/TerminationSignals.h"
#include "record/grid/ReadingGridDelegate.h"
#include "record/grid/ReadingGridView.h"
#include "record/grid/ReadingTableModel.h"
#include "report/ReportPreview.h"
#include "chart/TrendChartView.h"
#include "ui_TFCOMM.h"

namespace {

QCheckBox* ProfileBox(Ui::TFCOMM* ui, ProfileFlag f)
{
    QCheckBox* const boxes[] = {ui->IFEvrin, ui->IFQuelt, ui->IFOstra, ui->IFHarvo,
                                ui->IFLintra, ui->IFTormo, ui->IFBramo, ui->IFDessa,
                                ui->IFElvik, ui->IFAvrel, ui->IFNusko};
    return boxes[int(f)];
}

// Where "Save" writes the chart's picture: the working directory.
QString ChartPicturePath()
{
    return QDir::toNativeSeparators(QDir::current().absoluteFilePath("databmp.bmp"));
}

// The key filter of the interval and page-size boxes: digits and backspace.
bool RecordSITimeKeyAccepts(QChar c)
{
    return (c >= '0' && c <= '9') || c == QChar(8);
}

// Whether a key press types a character into a line edit. Keys that edit or
// move (Delete, Backspace, Tab, the arrows, Home, End) carry no text or a
// control character that the box does not insert, and keys held with Ctrl or
// Meta are shortcuts (select all, copy, cut, paste, undo): none of them types.
bool TypesACharacter(const QKeyEvent& key)
{
    if (key.modifiers() & (Qt::ControlModifier | Qt::MetaModifier))
        return false;
    const QString text = key.text();
    return !text.isEmpty() && text.front().isPrint();
}

// Keeps out of a box any text with a character its key filter drops, whatever
// brings it: a paste, a drop or an input method.
class KeyFilterValidator final : public QValidator {
public:
    KeyFilterValidator(bool (*accepts)(QChar), QObject* parent) : QValidator(parent),
                                                                  accepts_(accepts) {}
    State validate(QString& input, int&) const override
    {
        for (const QChar c : input)
            if (!accepts_(c))
                return Invalid;
        return Acceptable;
    }

private:
    bool (*accepts_)(QChar);
};

}  // namespace

FormLayout ComputeFormLayout(int W, int H, int KDHeight)
{
    FormLayout l{};
    l.BtExitLeft = W - 80;
    l.BTConLeft = W - 190;
    l.BtDisconLeft = W - 190;
    l.DBGrid1Height = H - 311;
    l.ChtshowWidth = W - 300;
    l.KDWidth = W - 303;
    l.KD2Width = W - 305;
    l.KD2Height = KDHeight - 6;
    l.ChtshowTop = KDHeight + 34;
    return l;
}

template <class Sender, class Signal>
void TFCOMM::Bind(Sender* sender, Signal signal, void (TFCOMM::*handler)())
{
    connect(sender, signal, this, [this, handler] { errors.Guard([this, handler] { (this->*handler)(); }); });
}

TFCOMM::TFCOMM(AppServices services, std::optional<std::array<bool, kProfileFlagCount>> profileFlags,
               QWidget* parent)
    : QMainWindow(parent),
      ui((LcdFontFamily(), new Ui::TFCOMM)),  // the LCD font is there before the labels use it
      errors(services.dialogs),
      COMM2(nullptr, services.serialDevices),
      HidCtl(services.hid),
      usbLink(HidCtl, services.dialogs, UsbHooks()),
      services_(services),
      recorder_(recorderState, readingTable, services.clock),
      dataFiles_(readingTable, readingLog, services.dialogs),
      csvExport_(readingTable, services.dialogs)
{
    ui->setupUi(this);
    if (profileFlags)
        for (int i = 0; i < kProfileFlagCount; ++i)
            ProfileBox(ui, ProfileFlag(i))->setChecked((*profileFlags)[size_t(i)]);

    // Fixed-size window with a caption and a close box, centred on the screen.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    ui->centralwidget->setFixedSize(614, 455);
    setFixedSize(614, 455 + menuBar()->sizeHint().height());
    if (QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());

    ShowPictures();
    SetUpGrid();
    SetUpChart();

    // The serial component as the window stores it.
    COMM2.setComPort(pnCOM1);
    COMM2.setComPortSpeed(br2400);
    COMM2.setComPortPollingDelay(100);

    lcd = std::make_unique<LcdPanel>(ui->Panel1, ui->PBar2);
    scaleView = new ScaleView(scale, limits, ui->KD);
    scaleView->setGeometry(ui->KD->contentsRect());
    scaleView->setLimitChecks([this] { return ui->SetMaxB->isChecked(); },
                              [this] { return ui->SetMinB->isChecked(); });
    scaleView->lower();  // the link pictures and the alarm panel lie over the dial

    assembler.onFrame = [this](const std::string& frameText) { LcdDisplayTormo(frameText); };
    // What the journal has to tell is shown once the current event is done:
    // it may speak from inside an open of the log or a recorded frame.
    // Pending records the user gives up (Exit, another table opened as the
    // log) go with their journal.
    readingLog.onDiscardPending = [this] { journal.detach(ReadingJournal::End::Remove); };
    journal.onNotice = [this](const QString& text) { ShowMessageLater(text); };
    csvLog_.onNotice = [this](const QString& text) { ShowMessageLater(text); };
    // A signal ends the program from whatever box is open, the ones of the
    // start-up below included: the process ends by it as soon as the log is
    // closed, without waiting for the boxes to close.
    if (services.endSignals)
        connect(services.endSignals, &TerminationSignals::caught, this, [this](int signo) {
            try {
                EndBySignal();
            } catch (const std::exception& e) {
                std::fprintf(stderr, "quelt: ending by signal %d, the log could not be closed: %s\n", signo, e.what());
            } catch (...) {
                std::fprintf(stderr, "quelt: ending by signal %d, the log could not be closed\n", signo);
            }
        });
    BindHandlers();
    InstallHidHandlers();

    ConTimer.setInterval(100);
    Bind(&ConTimer, &QTimer::timeout, &TFCOMM::ConTimerTimer);
    ConTimer.start();
    Trecord.setInterval(1000);
    Bind(&Trecord, &QTimer::timeout, &TFCOMM::TrecordTimer);
    Trecord.start();

    errors.Guard([this] { FormCreate(); });
    if (services.settings) {
        errors.Guard([this] { ApplySettings(services_.settings->read()); });
        remembering_ = true;
    }
}

void TFCOMM::ApplySettings(const KeptValues& kept)
{
    // Each through what the user's own edit or click runs, in the order of
    // the window: a value the handler refuses is reported and the rest apply.
    const auto each = [this](const auto& value, auto apply) {
        if (value)
            errors.Guard([&] { apply(*value); });
    };
    each(kept.port, [this](int n) {
        void (TFCOMM::*const clicks[])() = {&TFCOMM::COM11Click, &TFCOMM::COM21Click, &TFCOMM::COM31Click,
                                            &TFCOMM::COM41Click};
        (this->*clicks[n - 1])();
    });
    each(kept.recordLimit, [this](int32_t limit) {
        const std::pair<int32_t, void (TFCOMM::*)()> items[] = {
            {1000, &TFCOMM::N10001Click}, {5000, &TFCOMM::N50001Click}, {10000, &TFCOMM::N100001Click}, {50000, &TFCOMM::N500001Click}, {100000, &TFCOMM::N1000001Click}, {kLimitless, &TFCOMM::limitessClick}};
        for (const auto& [n, click] : items)
            if (n == limit)
                (this->*click)();
    });
    // The boxes' own textChanged runs their handlers.
    each(kept.samplingInterval, [this](const QString& t) { ui->RecordSITime->setText(t); });
    each(kept.samplingOn, [this](bool on) { ui->RecordSI->setChecked(on); });
    each(kept.repeat, [this](bool on) { ui->RepeatSet->setChecked(on); });
    each(kept.setMax, [this](const QString& t) { ui->Setmax->setText(t); });
    each(kept.setMaxOn, [this](bool on) {
        ui->SetMaxB->setChecked(on);
        SetmaxExit();
    });
    each(kept.setMin, [this](const QString& t) { ui->SetMin->setText(t); });
    each(kept.setMinOn, [this](bool on) {
        ui->SetMinB->setChecked(on);
        SetMinExit();
    });
    each(kept.pointsPerPage, [this](const QString& t) { ui->Maxrecord->setText(t); });
    each(kept.fill, [this](bool on) {
        if (ui->BtFill->isChecked() == on)
            return;
        ui->BtFill->setChecked(on);
        btFillClick();
    });
    dataFiles_.saveFolder = kept.saveFolder.value_or(QString());
    dataFiles_.openFolder = kept.openFolder.value_or(QString());
    csvExport_.folder = kept.exportFolder.value_or(QString());
    if (kept.csvLogFolder) {
        const bool on = kept.csvLogOn.value_or(false);
        try {
            csvLog_.restore({on, QFile::encodeName(*kept.csvLogFolder).toStdString()});
            ui->RecordLogCsv1->setChecked(on);
        } catch (const std::exception& e) {
            // Told once the window is up; logging stays off until the user
            // chooses a folder again.
            ShowMessageLater(QString::fromLocal8Bit(e.what()));
        }
    }
}

void TFCOMM::Remember(const char* key, const QVariant& value)
{
    if (remembering_ && services_.settings)
        services_.settings->set(key, value);
}

void TFCOMM::RememberFolders()
{
    // A dialog not used yet has no folder to keep.
    const std::pair<const char*, const QString&> folders[] = {{AppSettings::kSaveFolder, dataFiles_.saveFolder},
                                                              {AppSettings::kOpenFolder, dataFiles_.openFolder},
                                                              {AppSettings::kExportFolder, csvExport_.folder}};
    for (const auto& [key, folder] : folders)
        if (!folder.isEmpty())
            Remember(key, folder);
}

void TFCOMM::pressComConnect()
{
    ui->COMCon->click();
}

void TFCOMM::pressUsbConnect()
{
    ui->USBCon->click();
}

TFCOMM::~TFCOMM()
{
    delete reportPreview_;  // before the table it lists
    COMM2.Disconnect();
    usbLink.ReleaseDevices();  // readers end while the displays they feed are still there
    delete ui;
}

void TFCOMM::ShowPictures()
{
    setWindowIcon(WindowIcon());
    for (QLabel* label : {ui->LCDsend, ui->LCDREL, ui->CONok, ui->CONokN, ui->KD2, ui->TbFd, ui->TbSx})
        label->setPixmap(Picture(label->objectName()));
    for (QToolButton* button : {ui->RecordNew, ui->OpenDataFiles, ui->saveas, ui->BtPrint, ui->BtNew, ui->BtSave,
                                ui->BtFirst, ui->BTPrevious, ui->BtNext, ui->BTlast})
        button->setIcon(QIcon(Picture(button->objectName())));
}

void TFCOMM::SetUpGrid()
{
    gridModel_ = new ReadingTableModel(readingTable, this);
    ReadingGridView* grid = ui->DBGrid1;
    grid->setModel(gridModel_);
    static constexpr int widths[] = {39, 53, 37, 43, 36};
    for (int c = 0; c < 5; ++c)
        grid->setColumnWidth(c, widths[c]);
    // The Unit column in the LCD font, so that "*" shows as the ohm sign.
    auto* cells = new ReadingGridDelegate(grid);
    cells->setColumnFont(4, LcdFont(12));
    grid->setItemDelegate(cells);
    // The No column is never too narrow for a record number of the log: it
    // widens when a record's number has more digits than any before (the
    // other columns keep their widths), and New or another table starts it
    // again from its stored width.
    grid->ensurePolished();  // the grid's own font, from its style sheet
    auto fitNumbers = [this, grid](int atLeast) {
        grid->setColumnWidth(0, std::max(atLeast, grid->widthForText(0, gridModel_->longestRecordNumber())));
    };
    connect(gridModel_, &QAbstractItemModel::modelReset, grid, [fitNumbers] { fitNumbers(widths[0]); });
    connect(gridModel_, &ReadingTableModel::longestRecordNumberChanged, grid,
            [fitNumbers, grid] { fitNumbers(grid->columnWidth(0)); });
    fitNumbers(widths[0]);
    // The grid and the table's current record follow each other: a new record
    // becomes the current one and is shown, and the row the user moves to
    // becomes the current record.
    connect(gridModel_, &ReadingTableModel::currentRowChanged, grid, [grid](int row) {
        if (row < 0) return;
        const QModelIndex index = grid->model()->index(row, std::max(grid->currentIndex().column(), 0));
        grid->selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
        grid->scrollTo(index);
    });
    connect(grid->selectionModel(), &QItemSelectionModel::currentRowChanged, gridModel_,
            [this](const QModelIndex& current) { gridModel_->setCurrentRow(current.isValid() ? current.row() : -1); });
    auto* del = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_Delete), grid);
    del->setContext(Qt::WidgetShortcut);
    Bind(del, &QShortcut::activated, &TFCOMM::DeleteRecordKey);
}

void TFCOMM::SetUpChart()
{
    chartView = new TrendChartView(chart, ui->Chtshow,
                                   {ui->BtFill, ui->Fill1, ui->BtFirst, ui->BTPrevious, ui->BtNext, ui->BTlast,
                                    ui->Bt10, ui->TbFd, ui->TbSx});
}

void TFCOMM::BindHandlers()
{
    // Port selection: the menu items select their own port; the visible panel
    // selects the next one.
    Bind(ui->COM11, &QAction::triggered, &TFCOMM::COM11Click);
    Bind(ui->COM21, &QAction::triggered, &TFCOMM::COM21Click);
    Bind(ui->COM31, &QAction::triggered, &TFCOMM::COM31Click);
    Bind(ui->COM41, &QAction::triggered, &TFCOMM::COM41Click);
    for (QLabel* panel : {ui->BtCOM1, ui->BtCOM2, ui->BtCOM3, ui->BtCOM4, ui->BTCon, ui->BtDiscon, ui->BtExit})
        panel->installEventFilter(this);

    Bind(ui->COMCon, &QPushButton::clicked, &TFCOMM::COMConClick);
    Bind(ui->USBCon, &QPushButton::clicked, &TFCOMM::USBConClick);
    Bind(ui->SetFeature, &QPushButton::clicked, &TFCOMM::SetFeatureClick);
    Bind(ui->ReadBtn, &QPushButton::clicked, &TFCOMM::ReadBtnClick);
    Bind(ui->ClearBtn, &QPushButton::clicked, &TFCOMM::ClearBtnClick);
    Bind(ui->START1, &QAction::triggered, &TFCOMM::BTCon1Click);
    Bind(ui->STOP1, &QAction::triggered, &TFCOMM::BtDiscon1Click);

    // Limits.
    Bind(ui->Setmax, &QLineEdit::textChanged, &TFCOMM::SetmaxExit);
    Bind(ui->SetMaxB, &QCheckBox::clicked, &TFCOMM::SetmaxExit);
    Bind(ui->SetMin, &QLineEdit::textChanged, &TFCOMM::SetMinExit);
    Bind(ui->SetMinB, &QCheckBox::clicked, &TFCOMM::SetMinExit);
    for (QLineEdit* edit : {ui->Setmax, ui->SetMin, ui->RecordSITime, ui->Maxrecord}) {
        edit->installEventFilter(this);
        edit->setValidator(new KeyFilterValidator(KeyFilterOf(edit), edit));
    }

    // Record toolbar and menu.
    Bind(ui->RecordSITime, &QLineEdit::textChanged, &TFCOMM::RecordSITimeChange);
    // The two switches have no handler of their own: the recorder reads them.
    connect(ui->RecordSI, &QCheckBox::toggled, this, [this](bool on) {
        errors.Guard([&] { Remember(AppSettings::kSamplingOn, on); });
    });
    connect(ui->RepeatSet, &QCheckBox::toggled, this, [this](bool on) {
        errors.Guard([&] { Remember(AppSettings::kRepeat, on); });
    });
    dataFiles_.onFolderChosen = [this] { RememberFolders(); };
    csvExport_.onFolderChosen = [this] { RememberFolders(); };
    Bind(ui->RecordNew, &QToolButton::clicked, &TFCOMM::RecordNewClick);
    Bind(ui->RecordNew1, &QAction::triggered, &TFCOMM::RecordNewClick);
    Bind(ui->OpenDataFiles, &QToolButton::clicked, &TFCOMM::SpeedButton2Click);
    Bind(ui->saveas, &QToolButton::clicked, &TFCOMM::saveasClick);
    Bind(ui->RecordSave1, &QAction::triggered, &TFCOMM::saveasClick);
    Bind(ui->RecordExportCsv1, &QAction::triggered, &TFCOMM::ExportCsvClick);
    Bind(ui->RecordLogCsv1, &QAction::triggered, &TFCOMM::LogCsvClick);
    Bind(ui->BtPrint, &QToolButton::clicked, &TFCOMM::BtPrintClick);
    Bind(ui->N10001, &QAction::triggered, &TFCOMM::N10001Click);
    Bind(ui->N50001, &QAction::triggered, &TFCOMM::N50001Click);
    Bind(ui->N100001, &QAction::triggered, &TFCOMM::N100001Click);
    Bind(ui->N500001, &QAction::triggered, &TFCOMM::N500001Click);
    Bind(ui->N1000001, &QAction::triggered, &TFCOMM::N1000001Click);
    Bind(ui->limitess, &QAction::triggered, &TFCOMM::limitessClick);

    // Chart toolbar and menu.
    Bind(ui->Maxrecord, &QLineEdit::textChanged, &TFCOMM::MaxrecordExit);
    Bind(ui->BtFill, &QCheckBox::clicked, &TFCOMM::btFillClick);
    Bind(ui->Fill1, &QAction::triggered, &TFCOMM::FillClick);
    Bind(ui->BtNew, &QToolButton::clicked, &TFCOMM::BtNewClick);
    Bind(ui->New1, &QAction::triggered, &TFCOMM::BtNewClick);
    Bind(ui->BtSave, &QToolButton::clicked, &TFCOMM::BtSaveClick);
    Bind(ui->Save1, &QAction::triggered, &TFCOMM::BtSaveClick);
    Bind(ui->BtFirst, &QToolButton::clicked, &TFCOMM::BtFirstClick);
    Bind(ui->First1, &QAction::triggered, &TFCOMM::BtFirstClick);
    Bind(ui->BTPrevious, &QToolButton::clicked, &TFCOMM::BTPreviousClick);
    Bind(ui->Previous1, &QAction::triggered, &TFCOMM::BTPreviousClick);
    Bind(ui->BtNext, &QToolButton::clicked, &TFCOMM::BtNextClick);
    Bind(ui->Next1, &QAction::triggered, &TFCOMM::BtNextClick);
    Bind(ui->BTlast, &QToolButton::clicked, &TFCOMM::BTlastClick);
    Bind(ui->Last1, &QAction::triggered, &TFCOMM::BTlastClick);
    ui->TbFd->installEventFilter(this);
    ui->TbSx->installEventFilter(this);

    // Exit.
    Bind(ui->BitBtn1, &QPushButton::clicked, &TFCOMM::BitBtn1Click);
    Bind(ui->BtExit1, &QAction::triggered, &TFCOMM::BtExit1Click);
}

TFCOMM::KeyFilter TFCOMM::KeyFilterOf(QObject* edit) const
{
    if (edit == ui->Setmax || edit == ui->SetMin)
        return SetmaxKeyAccepts;
    if (edit == ui->RecordSITime || edit == ui->Maxrecord)
        return RecordSITimeKeyAccepts;
    return nullptr;
}

bool TFCOMM::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::KeyPress) {
        // The filters judge typed characters only.
        auto* key = static_cast<QKeyEvent*>(event);
        const KeyFilter accepts = KeyFilterOf(watched);
        return accepts && TypesACharacter(*key) && !accepts(key->text().front());
    }
    // A panel is clicked when the left button goes down on it and comes up on it.
    if (event->type() == QEvent::MouseButtonPress || event->type() == QEvent::MouseButtonDblClick) {
        if (static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton)
            pressedPanel_ = watched;
        return false;
    }
    if (event->type() == QEvent::MouseButtonRelease) {
        auto* mouse = static_cast<QMouseEvent*>(event);
        auto* widget = qobject_cast<QWidget*>(watched);
        if (mouse->button() != Qt::LeftButton)
            return false;
        const bool pressedHere = pressedPanel_ == watched;
        pressedPanel_ = nullptr;
        if (!pressedHere || !widget || !widget->isEnabled() || !widget->rect().contains(mouse->position().toPoint()))
            return false;
        void (TFCOMM::*handler)() = nullptr;
        if (watched == ui->BtCOM1) handler = &TFCOMM::COM21Click;
        else if (watched == ui->BtCOM2) handler = &TFCOMM::COM31Click;
        else if (watched == ui->BtCOM3) handler = &TFCOMM::COM41Click;
        else if (watched == ui->BtCOM4) handler = &TFCOMM::COM11Click;
        else if (watched == ui->BTCon) handler = &TFCOMM::BTCon1Click;
        else if (watched == ui->BtDiscon) handler = &TFCOMM::BtDiscon1Click;
        else if (watched == ui->BtExit) handler = &TFCOMM::BtExit1Click;
        else if (watched == ui->TbFd || watched == ui->TbSx) handler = &TFCOMM::TbFdClick;
        if (handler) {
            errors.Guard([this, handler] { (this->*handler)(); });
            return true;
        }
    }
    return QMainWindow::eventFilter(watched, event);
}

// ---------------------------------------------------------------------------
// Start-up

void TFCOMM::FormCreate()
{
    // 1.
    limits.LastUnitText = "113";
    // 2. The reading log "Queltdb" of the working directory. Without it the
    // failure is reported and start-up goes on: the meter is still shown and
    // the recorder tells the user that its readings are not being logged.
    errors.Guard([this] { readingLog.open(ReadingLog::kDefaultName); });
    // 3.
    recorderState.NextRecordNo = 1;
    chart.FollowLastPage = true;
    recorderState.RecordLimit = 10000;
    // A run that the log's journal brought back goes on with its numbering.
    if (const std::optional<int32_t> lastNo = journal.recovery().lastNo)
        recorder_.ContinueRun(*lastNo);
    // 4. The chart's sample points and the series that Fill selects.
    chartView->New();

    // 5. The meter profile.
    std::array<bool, kProfileFlagCount> checked{};
    for (int i = 0; i < kProfileFlagCount; ++i)
        checked[size_t(i)] = ProfileBox(ui, ProfileFlag(i))->isChecked();
    profile = ResolveProfile(checked);
    setWindowTitle(profile.caption);
    attachedRoutine = profile.routine;
    COMM2.OnReceiveData = [this](TSerialPortDriver*, const uint8_t* data, int32_t size) { ReceiveData(data, size); };
    if (profile.speed19200)
        COMM2.setComPortSpeed(br19200);
    if (profile.firstDigitThree)
        ui->LcdDa->setText("3");
    scale.FullScaleCode = profile.fullScaleCode.toStdString();

    // 6. and 7. The scale set and the limit texts of the profile.
    if (scale.FullScaleCode == "6" || scale.FullScaleCode == "34") {
        scale = scale.FullScaleCode == "6" ? ScaleSet::Set6() : ScaleSet::Set34();
        const QString f = QString::number(scale.FullScale);
        ui->Setmax->setText(f);
        ui->SetMin->setText("-" + f);
        ui->MinText->setText(QString::number(scale.FullScale + 1));
        ui->MaxText->setText(QString::number(-(scale.FullScale + 1)));
    }

    // 8. The chart's vertical axis spans the start-up set.
    chartView->setLeftAxis(scale.FullScale, -scale.FullScale);
    // 9. The dial of the start-up set, with the needle at zero.
    scaleView->KDsetup();
    scaleView->KDrun(scale.ScaleZero);
}

void TFCOMM::showEvent(QShowEvent* event)
{
    QMainWindow::showEvent(event);
    if (!laidOut_) {
        laidOut_ = true;
        errors.Guard([this] { FormResize(); });
    }
}

void TFCOMM::FormResize()
{
    const int W = ui->centralwidget->width() + kOuterExtraWidth;
    const int H = ui->centralwidget->height() + kOuterExtraHeight;
    const FormLayout l = ComputeFormLayout(W, H, ui->KD->height());
    ui->BtExit->move(l.BtExitLeft, ui->BtExit->y());
    ui->BTCon->move(l.BTConLeft, ui->BTCon->y());
    ui->BtDiscon->move(l.BtDisconLeft, ui->BtDiscon->y());
    ui->DBGrid1->resize(ui->DBGrid1->width(), l.DBGrid1Height);
    ui->Chtshow->resize(l.ChtshowWidth, ui->Chtshow->height());
    ui->KD->resize(l.KDWidth, ui->KD->height());
    ui->KD2->resize(l.KD2Width, ui->KD2->height());
    ui->KD2->resize(ui->KD2->width(), l.KD2Height);
    ui->Chtshow->move(ui->Chtshow->x(), l.ChtshowTop);
    scaleView->setGeometry(ui->KD->contentsRect());
}

// ---------------------------------------------------------------------------
// Serial link

void TFCOMM::SelectPort(int n)
{
    QAction* const items[] = {ui->COM11, ui->COM21, ui->COM31, ui->COM41};
    QLabel* const panels[] = {ui->BtCOM1, ui->BtCOM2, ui->BtCOM3, ui->BtCOM4};
    for (int i = 0; i < 4; ++i) {
        items[i]->setChecked(i == n - 1);
        panels[i]->setVisible(i == n - 1);
    }
    COMM2.setComPort(TComPortNumber(n - 1));
    Remember(AppSettings::kPort, n);
}

void TFCOMM::COM11Click() { SelectPort(1); }
void TFCOMM::COM21Click() { SelectPort(2); }
void TFCOMM::COM31Click() { SelectPort(3); }
void TFCOMM::COM41Click() { SelectPort(4); }

void TFCOMM::ShowConnectionState(bool connected)
{
    ui->ComSetup1->menuAction()->setEnabled(!connected);
    ui->START1->setChecked(connected);
    ui->START1->setEnabled(!connected);
    ui->STOP1->setEnabled(connected);
    ui->STOP1->setChecked(!connected);
    ui->BTCon->setVisible(!connected);
    ui->BtDiscon->setVisible(connected);
    for (QLabel* panel : {ui->BtCOM1, ui->BtCOM2, ui->BtCOM3, ui->BtCOM4})
        panel->setEnabled(!connected);
}

void TFCOMM::ConnectSerial()
{
    ui->ComSetup1->menuAction()->setEnabled(false);
    ui->START1->setChecked(true);
    ui->START1->setEnabled(false);
    ui->STOP1->setEnabled(true);
    ui->STOP1->setChecked(false);
    if (!COMM2.Connect()) {
        // A port that cannot be opened is told, and the controls go back to
        // the Disconnected state instead of showing a link that is not there.
        const int n = int(COMM2.ComPort()) + 1;
        QString text = QString("Could not open COM%1 (%2): %3.").arg(n).arg(COMM2.DevicePath(), COMM2.LastError());
        if (COMM2.LastErrorIsPermission())
            text += "\nYou must be a member of the group that owns the device (dialout on Debian). "
                    "Add yourself to it, then log out and log in again.";
        ui->COMCon->setChecked(false);
        ShowConnectionState(false);
        services_.dialogs.showMessage(text);
        return;
    }
    ShowConnectionState(true);
}

void TFCOMM::DisconnectSerial()
{
    COMM2.Disconnect();
    ShowConnectionState(false);
}

void TFCOMM::COMConClick()
{
    if (ui->COMCon->isChecked()) {
        // One toggle group with "USB Connect": raising it runs none of its command.
        ui->USBCon->setChecked(false);
        ConnectSerial();
    } else {
        DisconnectSerial();
    }
}

void TFCOMM::BTCon1Click() { ConnectSerial(); }
void TFCOMM::BtDiscon1Click() { DisconnectSerial(); }

// ---------------------------------------------------------------------------
// USB cable

UsbCableLink::Hooks TFCOMM::UsbHooks()
{
    UsbCableLink::Hooks h;
    h.usbConDown = [this] { return ui->USBCon->isChecked(); };
    h.raiseUsbCon = [this] { ui->USBCon->setChecked(false); };
    h.readBtnDown = [this] { return ui->ReadBtn->isChecked(); };
    h.raiseReadBtn = [this] { ui->ReadBtn->setChecked(false); };
    h.profile = [this] {
        return UsbProfileFlags{ui->IFEvrin->isChecked(), ui->IFQuelt->isChecked(), ui->IFHarvo->isChecked(),
                               ui->IFTormo->isChecked()};
    };
    h.decode = [this](const std::string& frameText) {
        LcdDisplayTormo(frameText);
        chartView->refreshIfDue();  // a burst is one frame: the chart is drawn with it
    };
    // A report is handled inside the reader's hand-over: a failure is shown
    // after it.
    h.guard = [this](const std::function<void()>& f) { errors.GuardPosted(f); };
    return h;
}

void TFCOMM::InstallHidHandlers()
{
    ui->DevListBox->setModel(&usbLink.DevListBox());
    ui->HistoryListBox->setModel(&usbLink.HistoryListBox());
    // Each line added to the log becomes the selected one.
    connect(&usbLink.HistoryListBox(), &QAbstractItemModel::rowsInserted, ui->HistoryListBox,
            [this](const QModelIndex&, int, int last) {
                ui->HistoryListBox->setCurrentIndex(usbLink.HistoryListBox().index(last));
            });
    HidCtl.SetDevThreadSleepTime(100);
    HidCtl.OnArrival = THidPlugEvent(this, &TFCOMM::HidCtlArrival);
    HidCtl.OnEnumerate = THidEnumerateEvent(this, &TFCOMM::HidCtlEnumerate);
    HidCtl.SetOnDeviceChange(TNotifyEvent(this, &TFCOMM::HidCtlDeviceChange));
    HidCtl.SetOnDeviceDataError(THidDataErrorEvent(this, &TFCOMM::HidCtlDeviceDataError));
    HidCtl.OnRemoval = THidPlugEvent(this, &TFCOMM::HidCtlRemoval);
}

void TFCOMM::USBConClick()
{
    if (ui->USBCon->isChecked())
        ui->COMCon->setChecked(false);  // the serial port stays as it is
    usbLink.USBConClick();
}

void TFCOMM::SetFeatureClick() { usbLink.SetFeatureClick(); }
void TFCOMM::ReadBtnClick() { usbLink.ReadBtnClick(); }
void TFCOMM::ClearBtnClick() { usbLink.ClearBtnClick(); }

void TFCOMM::HidCtlDeviceChange(THidDeviceController* Sender)
{
    errors.Guard([&] { usbLink.HidCtlDeviceChange(Sender); });
}

bool TFCOMM::HidCtlEnumerate(THidDevice* HidDev, int32_t Idx)
{
    bool goOn = true;
    errors.Guard([&] { goOn = usbLink.HidCtlEnumerate(HidDev, Idx); });
    return goOn;
}

void TFCOMM::HidCtlArrival(THidDevice* HidDev)
{
    errors.Guard([&] { usbLink.HidCtlArrival(HidDev); });
}

void TFCOMM::HidCtlRemoval(THidDevice* HidDev)
{
    errors.Guard([&] { usbLink.HidCtlRemoval(HidDev); });
}

void TFCOMM::HidCtlDeviceDataError(THidDevice* HidDev, uint32_t Error)
{
    errors.GuardPosted([&] { usbLink.HidCtlDeviceDataError(HidDev, Error); });  // inside a hand-over
}

void TFCOMM::ReceiveData(const uint8_t* data, int32_t size)
{
    // A frame that fails to decode is reported once the serial component has
    // finished its delivery, so bytes keep arriving while the report is open.
    errors.GuardPosted([&] {
        switch (attachedRoutine) {
        case ReceiveRoutine::Plain: assembler.RECEIVE_COM_Data(data, size); break;
        case ReceiveRoutine::Nibble: assembler.HBrevoRData(data, size); break;
        case ReceiveRoutine::None: break;
        }
        // The chart is drawn with the readings of the delivery, in one paint.
        chartView->refreshIfDue();
    });
}

void TFCOMM::ConTimerTimer()
{
    if (!indicator.Advance())
        return;
    if (ConnectionIndicator::UsbSilent(usbLink.state.UsbIdleReports)) {
        ui->USBCon->setChecked(false);
        usbLink.DetachCurrentDevice();
        services_.dialogs.ask("USB interface cable is securely connected, please check if the meter is ready.",
                              DialogButton::Ok);
    }
    indicator.LinkLost();
    ui->CONok->hide();
    ui->CONokN->show();
}

// ---------------------------------------------------------------------------
// One frame, in its fixed order.

void TFCOMM::LcdDisplayTormo(const std::string& frameText)
{
    // The decode of the tools and the tests; the steps below show its result.
    // The shared reading takes the frame as decoded, as far as it got.
    DecodedFrame frame = DecodeFrame(frameText, scale, reading);
    reading = std::move(frame.reading);  // the steps below read the shared reading only
    // 1. The link indicator.
    indicator.FrameDecoded();
    ui->CONok->show();
    ui->CONokN->hide();
    // 2.-4. The panel's reset, then the symbols as they are decoded. A frame
    // that cannot be decoded leaves the panel reset; otherwise the reset and
    // the new symbols are set in one pass, so a lit symbol does not flicker.
    if (frame.failure == FrameFailure::Symbols) {
        lcd->Reset();
        frame.ThrowIfFailed();
    }
    lcd->ResetAndShowSymbols(reading);
    // 5. Value text and count, against the full scale in force: a count that
    // fails leaves the panel with the frame's symbols.
    frame.ThrowIfFailed();
    // 6. The limit alarm.
    if (LimitAlarm(limits, reading.CountValue, ui->SetMaxB->isChecked(), ui->SetMinB->isChecked())) {
        services_.beeper.beep();
        ui->oltext->show();
    } else {
        ui->oltext->hide();
    }
    // 7. MAX/MIN since the last range change.
    if (TrackMaxMin(limits, reading, scale.FullScale))
        BtNewClick();
    ui->MaxText->setText(QString::fromStdString(limits.MaxReadingText));
    ui->MinText->setText(QString::fromStdString(limits.MinReadingText));
    const QString unit = QString::fromStdString(reading.UnitText);
    ui->MaxTextU->setText(unit);
    ui->MinTextU->setText(unit);
    // 8. The digits.
    lcd->ShowDigits(reading);
    // 9. The scale set of the unit, the bar's range and the dial.
    scale = frame.scale;
    lcd->SetBarMaximum(frame.barMaximum);
    scaleView->KDsetup();
    scaleView->KDrun(scale.ScaleZero);
    scaleView->KDrun(frame.needlePosition);
    // 10. The recorder.
    if (recorder_.INDataToTable(reading, CurrentRecorderControls()) == RecordOutcome::Unlogged)
        TellUnlogged();
    // 11. The bar.
    lcd->SetBarPosition(frame.barPosition);
    // 12. The chart.
    chartView->Add(frame.chartValue);
}

// ---------------------------------------------------------------------------
// Limits

void TFCOMM::SetLimitFromText(QLineEdit* edit, float& limit)
{
    limit = ReadLimit(edit->text().toStdString());  // a failed conversion keeps the limit
    scaleView->KDsetup();
}

void TFCOMM::SetmaxExit()
{
    SetLimitFromText(ui->Setmax, limits.MaxLimit);
    Remember(AppSettings::kSetMax, ui->Setmax->text());
    Remember(AppSettings::kSetMaxOn, ui->SetMaxB->isChecked());
}

void TFCOMM::SetMinExit()
{
    SetLimitFromText(ui->SetMin, limits.MinLimit);
    Remember(AppSettings::kSetMin, ui->SetMin->text());
    Remember(AppSettings::kSetMinOn, ui->SetMinB->isChecked());
}

// ---------------------------------------------------------------------------
// Recording

RecorderControls TFCOMM::CurrentRecorderControls() const
{
    return {ui->RepeatSet->isChecked(), ui->RecordSI->isChecked(), ui->RecordSITime->text().toStdString()};
}

void TFCOMM::TellUnlogged()
{
    // Shown once the serial delivery is done, so readings keep arriving
    // while the box is open.
    if (const std::optional<std::string> text = readingLog.unloggedNotice(recorder_.UnloggedReason()))
        ShowMessageLater(QString::fromLocal8Bit(*text));
}

void TFCOMM::ShowMessageLater(const QString& text)
{
    QTimer::singleShot(0, this, [this, text] { services_.dialogs.showMessage(text); });
}

void TFCOMM::RecordSITimeChange()
{
    recorder_.RecordSITimeChange(ui->RecordSITime->text().toStdString());
    // A box emptied while typing keeps the value kept before.
    if (AppSettings::isCountText(ui->RecordSITime->text()))
        Remember(AppSettings::kSamplingInterval, ui->RecordSITime->text());
}

void TFCOMM::TrecordTimer() { recorder_.TrecordTimer(ui->RecordSI->isChecked()); }

void TFCOMM::RecordNewClick()
{
    services_.dialogs.ask(" Record deleted ", DialogButton::Ok);
    recorder_.New();
}

void TFCOMM::SelectRecordLimit(QAction* item, int32_t limit)
{
    recorderState.RecordLimit = limit;
    for (QAction* a : {ui->N10001, ui->N50001, ui->N100001, ui->N500001, ui->N1000001, ui->limitess})
        a->setChecked(a == item);
    Remember(AppSettings::kRecordLimit, limit == kLimitless ? QString("limitless") : QString::number(limit));
}

void TFCOMM::N10001Click() { SelectRecordLimit(ui->N10001, 1000); }
void TFCOMM::N50001Click() { SelectRecordLimit(ui->N50001, 5000); }
void TFCOMM::N100001Click() { SelectRecordLimit(ui->N100001, 10000); }
void TFCOMM::N500001Click() { SelectRecordLimit(ui->N500001, 50000); }
void TFCOMM::N1000001Click() { SelectRecordLimit(ui->N1000001, 100000); }
void TFCOMM::limitessClick() { SelectRecordLimit(ui->limitess, kLimitless); }

void TFCOMM::DeleteRecordKey()
{
    // The selected row is the table's current record.
    if (!readingTable.isOpen() || readingTable.currentRecord() < 0)
        return;
    if (services_.dialogs.ask("Delete record?", DialogButton::Ok | DialogButton::Cancel) == DialogButton::Ok)
        readingTable.deleteRecord(size_t(readingTable.currentRecord()));
}

void TFCOMM::SpeedButton2Click() { dataFiles_.OpenOld(); }
void TFCOMM::saveasClick() { dataFiles_.Save(); }
void TFCOMM::ExportCsvClick() { csvExport_.ExportCsv(); }

void TFCOMM::LogCsvClick()
{
    if (!ui->RecordLogCsv1->isChecked()) {
        csvLog_.stop();
        Remember(AppSettings::kCsvLogOn, false);
        return;
    }
    ui->RecordLogCsv1->setChecked(false);  // until a folder is being written
    // The folder offered: the one logged into last in this run, at first the
    // default one, made so that the dialog can open there.
    const QString start =
        csvLog_.folder().empty() ? CsvLog::defaultFolder() : QFile::decodeName(QByteArray::fromStdString(csvLog_.folder()));
    QDir().mkpath(start);
    const std::optional<QString> chosen = services_.dialogs.folderName(start);
    if (!chosen || chosen->isEmpty())
        return;
    csvLog_.start(QFile::encodeName(*chosen).toStdString());
    ui->RecordLogCsv1->setChecked(true);
    Remember(AppSettings::kCsvLogFolder, QFile::decodeName(QByteArray::fromStdString(csvLog_.folder())));
    Remember(AppSettings::kCsvLogOn, true);
}
ReportPreview* TFCOMM::reportPreview() const { return reportPreview_; }

void TFCOMM::BtPrintClick()
{
    delete reportPreview_;
    reportPreview_ = ReportPreview::open(readingTable, services_.dialogs, errors, this);
}

// ---------------------------------------------------------------------------
// Chart

void TFCOMM::MaxrecordExit()
{
    chartView->setPointsPerPage(StrToInt(ui->Maxrecord->text().toStdString()));
    Remember(AppSettings::kPointsPerPage, ui->Maxrecord->text());
}

void TFCOMM::btFillClick()
{
    chartView->btFillClick();
    Remember(AppSettings::kFill, ui->BtFill->isChecked());
}

void TFCOMM::FillClick()
{
    chartView->FillClick();
    Remember(AppSettings::kFill, ui->BtFill->isChecked());
}
void TFCOMM::BtNewClick() { chartView->New(); }
void TFCOMM::BtFirstClick() { chartView->First(); }
void TFCOMM::BTPreviousClick() { chartView->Previous(); }
void TFCOMM::BtNextClick() { chartView->Next(); }
void TFCOMM::BTlastClick() { chartView->Last(); }

void TFCOMM::BtSaveClick()
{
    const QString path = ChartPicturePath();
    services_.dialogs.ask("graphic has saved on " + path, DialogButton::Ok);
    chartView->SavePicture(path);
}

void TFCOMM::TbFdClick()
{
    chartView->TbFdClick(ui->centralwidget->width() + kOuterExtraWidth, ui->centralwidget->height() + kOuterExtraHeight);
}

// ---------------------------------------------------------------------------
// Exit

void TFCOMM::ExitApplication(ReadingLog::Pending pending)
{
    COMM2.Disconnect();
    csvLog_.stop();  // the lines gathered go to their file, however the program ends
    readingLog.close(pending);
    QApplication::quit();
}

// The journal is flushed and kept for the next start.
void TFCOMM::EndBySignal() { ExitApplication(ReadingLog::Pending::Keep); }

void TFCOMM::BitBtn1Click()
{
    if (services_.dialogs.ask(QString::fromUtf8("Are you ensure to exit the program\xEF\xBC\x9F"),
                              DialogButton::Yes | DialogButton::No) == DialogButton::Yes)
        ExitApplication();
}

void TFCOMM::BtExit1Click() { ExitApplication(); }

void TFCOMM::closeEvent(QCloseEvent* event)
{
    readingLog.close(ReadingLog::Pending::Discard);  // nothing left to remove after EndBySignal
    event->accept();
}
