#pragma once
// The meter's USB cable: an HID device named "USB to Serial" that carries the
// meter's serial bytes in its input reports. This component keeps the
// window's list of HID devices as the controller reports them, picks the
// cable by its name, runs "USB Connect" (set the cable's speed with a feature
// report, start or stop reading), unpacks input reports into meter bytes,
// cuts them into frames at the reports without meter bytes (bursts), and
// hands each frame to the decoder. It counts the reports without meter bytes
// for the connection timer's silence watchdog and keeps a log of USB events.
//
// The window's buttons, the profile flags and the decoder are reached
// through hooks; everything runs on the user-interface thread.
#include "link/hid/HidDevice.h"
#include "link/hid/HidDeviceController.h"

#include <QString>
#include <QStringListModel>
#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

class IDialogs;

// The profile flags the cable reads when it connects.
struct UsbProfileFlags {
    bool IFEvrin = false;
    bool IFQuelt = false;
    bool IFHarvo = false;
    bool IFTormo = false;
};

// The USB state the connection timer shares.
struct UsbLinkState {
    // The device the last connect, read or set-up action took from the list
    // (not owned).
    THidDevice* CurrentDevice = nullptr;
    // Input reports since the last one that carried meter bytes.
    int32_t UsbIdleReports = 0;
    // The last report carried meter bytes: a burst is open.
    bool UsbBurstPending = false;
    // The open burst's meter bytes as upper-case hex pairs.
    std::string UsbBurstText;
};

class UsbCableLink {
public:
    // The display name that marks the meter's cable.
    static constexpr const char* kCableName = "USB to Serial";
    // The log keeps its latest lines, the burst text its first bytes (a frame
    // is 13 of them and the decoder reads 14 at most).
    static constexpr int kHistoryLines = 1000;
    static constexpr size_t kBurstBytes = 64;

    struct Hooks {
        std::function<bool()> usbConDown;
        std::function<void()> raiseUsbCon;
        std::function<bool()> readBtnDown;
        std::function<void()> raiseReadBtn;
        std::function<UsbProfileFlags()> profile;
        // A burst ended, with its text (valid frame or not); may be empty.
        std::function<void(const std::string& burstText)> burstEnded;
        // Decodes the text of a burst that is a valid frame.
        std::function<void(const std::string& frameText)> decode;
        // Runs a report handler; the window shows its failures after the
        // report's hand-over (never inside it).
        std::function<void(const std::function<void()>&)> guard;

        // Hooks for a link without a window: "USB Connect" held down for
        // good, "Read" up, the program's own meter; the caller adds decode
        // and guard.
        static Hooks withoutWindow()
        {
            Hooks h;
            h.usbConDown = [] { return true; };
            h.raiseUsbCon = [] {};
            h.readBtnDown = [] { return false; };
            h.raiseReadBtn = [] {};
            h.profile = [] { return UsbProfileFlags{false, false, false, true}; };
            return h;
        }
    };

    struct DeviceLine {
        QString text;
        THidDevice* device = nullptr;  // checked out by this list; null when refused
    };

    UsbCableLink(THidDeviceController& controller, IDialogs& dialogs, Hooks hooks);
    ~UsbCableLink() { ReleaseDevices(); }
    UsbCableLink(const UsbCableLink&) = delete;
    UsbCableLink& operator=(const UsbCableLink&) = delete;

    // --- commands ---
    void USBConClick();
    void SetFeatureClick();
    void ReadBtnClick();
    void ClearBtnClick();

    // --- the controller's events ---
    void HidCtlDeviceChange(THidDeviceController* Sender);
    bool HidCtlEnumerate(THidDevice* HidDev, int32_t Idx);
    void HidCtlArrival(THidDevice* HidDev);
    void HidCtlRemoval(THidDevice* HidDev);
    void HidCtlDeviceDataError(THidDevice* HidDev, uint32_t Error);

    // --- input reports ---
    void HidDataTormo(THidDevice* HidDev, uint8_t ReportID, const uint8_t* Data, uint16_t Size);
    void HidDataEvrin(THidDevice* HidDev, uint8_t ReportID, const uint8_t* Data, uint16_t Size);
    void HidDataQuelt(THidDevice* HidDev, uint8_t ReportID, const uint8_t* Data, uint16_t Size);

    // The silence watchdog's part: CurrentDevice stops reading.
    void DetachCurrentDevice();
    // Stops reading and gives every device back (the list empties).
    void ReleaseDevices();

    static QString DeviceName(THidDevice* device);
    // The 10-byte feature report that sets the cable's serial speed.
    static std::array<uint8_t, 10> SetupReport(const UsbProfileFlags& flags);
    // "R 00  03 2B 30 31 " for report ID 0 and data 03 2B 30 31.
    static QString ReportLine(uint8_t reportId, const uint8_t* data, uint16_t size);

    UsbLinkState state;
    const std::vector<DeviceLine>& DevList() const { return lines_; }
    int Selected() const { return selected_; }
    // Selects the line at `index` (-1: none), in place of the last cable
    // that the change pass selects.
    void Select(int index) { selected_ = index >= 0 && index < int(lines_.size()) ? index : -1; }
    // The device list and the log as list models for the window's list boxes.
    QStringListModel& DevListBox() { return devListModel_; }
    QStringListModel& HistoryListBox() { return historyModel_; }

private:
    enum class BurstEnd { Decode,
                          Keep };
    THidDevice* SelectedDevice() const;
    void Attach(THidDevice* device, void (UsbCableLink::*handler)(THidDevice*, uint8_t, const uint8_t*, uint16_t));
    void Report(const uint8_t* data, uint16_t size, uint8_t reportId, BurstEnd end);
    void Log(const QString& line);
    void ShowList();

    THidDeviceController& controller_;
    IDialogs& dialogs_;
    Hooks hooks_;
    std::vector<DeviceLine> lines_;
    int selected_ = -1;
    QStringListModel devListModel_;
    QStringListModel historyModel_;
};
