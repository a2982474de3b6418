#pragma once
// The program's one window. It owns every component, runs the start-up
// sequence and, for each decoded frame, drives the displays and the recorder in
// their fixed order. Its handlers keep the names of the commands they serve and
// hand the work to the components.
#include <QMainWindow>
#include <QPointer>
#include <QTimer>
#include <array>
#include <memory>
#include <optional>
#include <string>

#include "platform/ErrorReport.h"
#include "app/MeterProfile.h"
#include "display/LimitAlarm.h"
#include "meter/Reading.h"
#include "meter/ScaleSet.h"
#include "link/hid/HidDeviceController.h"
#include "link/hid/UsbCableLink.h"
#include "link/serial/ConnectionIndicator.h"
#include "meter/FrameAssembler.h"
#include "link/serial/SerialPortDriver.h"
#include "platform/Clock.h"
#include "record/CsvExport.h"
#include "record/CsvLog.h"
#include "record/DataFiles.h"
#include "record/ReadingJournal.h"
#include "record/ReadingLog.h"
#include "record/ReadingTable.h"
#include "record/Recorder.h"
#include "chart/TrendChart.h"

namespace Ui {
class TFCOMM;
}
class IDialogs;
class IBeeper;
class IHidBackend;
class TerminationSignals;
class AppSettings;
struct KeptValues;
class QVariant;
class LcdPanel;
class ScaleView;
class QLineEdit;
class QAction;
class ReadingTableModel;
class ReportPreview;
class TrendChartView;

// The seams to the system that the window uses. The program makes the real
// ones in one place (QueltApplication); tests hand fakes the same way. The
// window keeps references: they outlive it.
struct AppServices {
    IDialogs& dialogs;
    IBeeper& beeper;
    // The time of day for the log.
    IClock& clock;
    // The HID devices the USB cable is looked for among.
    IHidBackend& hid;
    // Makes the serial device for COMM2 at each connect.
    TSerialPortDriver::DeviceFactory serialDevices;
    // The signals that end the program from outside; null: none. The window
    // follows them from its constructor on, before it can show any box.
    TerminationSignals* endSignals = nullptr;
    // The settings kept between runs: applied after the start-up sequence,
    // then told each change. Null: none read or written.
    AppSettings* settings = nullptr;
};

// The outer size the re-layout works from, and what it computes.
struct FormLayout {
    int BtExitLeft, BTConLeft, BtDisconLeft;
    int DBGrid1Height;
    int ChtshowWidth, ChtshowTop;
    int KDWidth;
    int KD2Width, KD2Height;
};
FormLayout ComputeFormLayout(int W, int H, int KDHeight);

class TFCOMM : public QMainWindow {
    Q_OBJECT
public:
    // `profileFlags` replaces the stored profile check boxes (for tests).
    explicit TFCOMM(AppServices services,
                    std::optional<std::array<bool, kProfileFlagCount>> profileFlags = std::nullopt,
                    QWidget* parent = nullptr);
    ~TFCOMM() override;

    // The window's outer size on the platform it was laid out for: the client
    // area with its borders, caption and menu. The stored widths of the dial
    // panel (318), its backdrop (316) and the chart (321) all follow from an
    // outer width of 621.
    static constexpr int kOuterExtraWidth = 7;
    static constexpr int kOuterExtraHeight = 31;

    // --- start-up and layout ---
    void FormCreate();
    void FormResize();

    // --- serial link ---
    void COM11Click();
    void COM21Click();
    void COM31Click();
    void COM41Click();
    void COMConClick();
    void BTCon1Click();
    void BtDiscon1Click();
    void ConTimerTimer();

    // --- USB cable ---
    void USBConClick();
    void SetFeatureClick();
    void ReadBtnClick();
    void ClearBtnClick();
    void HidCtlDeviceChange(THidDeviceController* Sender);
    bool HidCtlEnumerate(THidDevice* HidDev, int32_t Idx);
    void HidCtlArrival(THidDevice* HidDev);
    void HidCtlRemoval(THidDevice* HidDev);
    void HidCtlDeviceDataError(THidDevice* HidDev, uint32_t Error);

    // --- the frame ---
    // Decodes one frame text and shows it on every display, in their fixed
    // order; a frame that fails to decode is shown up to the failure, which
    // then travels on.
    void LcdDisplayTormo(const std::string& frameText);

    // --- limits ---
    void SetmaxExit();
    void SetMinExit();

    // --- record toolbar and menu (the recorder and data files join here) ---
    void RecordSITimeChange();
    void RecordNewClick();
    void SpeedButton2Click();
    void saveasClick();
    void ExportCsvClick();
    void LogCsvClick();
    void BtPrintClick();
    void N10001Click();
    void N50001Click();
    void N100001Click();
    void N500001Click();
    void N1000001Click();
    void limitessClick();
    void TrecordTimer();

    // --- chart toolbar and menu ---
    void MaxrecordExit();
    void btFillClick();
    void FillClick();
    void BtNewClick();
    void BtSaveClick();
    void BtFirstClick();
    void BTPreviousClick();
    void BtNextClick();
    void BTlastClick();
    void TbFdClick();

    // --- reading grid ---
    void DeleteRecordKey();

    // --- exit ---
    void BitBtn1Click();
    void BtExit1Click();
    // The program is ended by a termination signal (a shutdown, a logout,
    // Ctrl-C): the log closes, its journal stays for the next start. Safe to
    // call from the nested event loop of any open box; the process ends by
    // the signal right after it.
    void EndBySignal();

    // Delivers received serial bytes to the attached receive routine, as the
    // serial component's receive event does.
    void ReceiveData(const uint8_t* data, int32_t size);

    // The printed report's preview while it is open.
    ReportPreview* reportPreview() const;

    // Press "COM Connect" and "USB Connect" as the user does (for the command
    // line, once the window is up).
    void pressComConnect();
    void pressUsbConnect();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    // Tests reach the components through it (tests/support/WindowParts.h).
    friend struct WindowParts;

    // --- components and state, grouped by owner ---
    Ui::TFCOMM* ui;
    ErrorReport errors;
    TSerialPortDriver COMM2;
    FrameAssembler assembler;       // FrameText, HexAccumulator
    ConnectionIndicator indicator;  // LinkTicks, CONok / CONokN
    // The HID devices' controller and the USB cable (which holds the USB state).
    THidDeviceController HidCtl;
    UsbCableLink usbLink;
    Reading reading;                      // the shared reading
    ScaleSet scale;                       // the scale set in force
    LimitState limits;                    // limits and MAX/MIN
    TrendChart chart;                     // the chart's points and paging, FollowLastPage
    TrendChartView* chartView = nullptr;  // draws the chart and shows its toolbar's state
    MeterProfile profile;
    ReceiveRoutine attachedRoutine = ReceiveRoutine::None;
    ReadingTable readingTable;             // the reading log's table handle
    ReadingLog readingLog{readingTable};   // which table is the log; opens and closes it
    ReadingJournal journal{readingTable};  // follows every open of the log
    RecorderState recorderState;
    std::unique_ptr<LcdPanel> lcd;
    ScaleView* scaleView = nullptr;

    QTimer ConTimer;
    QTimer Trecord;

    // The key filter of a limit, interval or page-size box; null for any other object.
    using KeyFilter = bool (*)(QChar);
    KeyFilter KeyFilterOf(QObject* edit) const;
    void SelectPort(int n);
    void ConnectSerial();
    void DisconnectSerial();
    void ShowConnectionState(bool connected);
    void SetLimitFromText(QLineEdit* edit, float& limit);
    void SelectRecordLimit(QAction* item, int32_t limit);
    RecorderControls CurrentRecorderControls() const;
    void TellUnlogged();
    // Shows a message once the current event is done.
    void ShowMessageLater(const QString& text);
    void SetUpGrid();
    void SetUpChart();
    // Ends the program; the user's own exit discards pending records with
    // their journal.
    void ExitApplication(ReadingLog::Pending pending = ReadingLog::Pending::Discard);
    void BindHandlers();
    // Applies kept values through the handlers a user's edit runs, then
    // remembers every change from then on.
    void ApplySettings(const KeptValues& kept);
    void Remember(const char* key, const QVariant& value);
    void RememberFolders();
    void InstallHidHandlers();
    UsbCableLink::Hooks UsbHooks();
    void ShowPictures();
    template <class Sender, class Signal>
    void Bind(Sender* sender, Signal signal, void (TFCOMM::*handler)());

    AppServices services_;
    Recorder recorder_;
    DataFiles dataFiles_;
    CsvExport csvExport_;
    CsvLog csvLog_{readingTable};  // the file log of the Record menu; off at start-up
    ReadingTableModel* gridModel_ = nullptr;
    QPointer<ReportPreview> reportPreview_;  // the printed report's preview while it is open
    bool laidOut_ = false;
    bool remembering_ = false;         // changes go to services_.settings once it was applied
    QObject* pressedPanel_ = nullptr;  // where the left button went down last
};
