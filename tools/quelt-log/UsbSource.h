#pragma once
// The meter's USB cable for the logger, through the window's own classes: the
// controller keeps the list of HID devices, UsbCableLink picks the last
// "USB to Serial" cable (or the device at the given /dev/hidrawN), sends the
// set-up feature report, reads its input reports and cuts the bursts into
// frames, as "USB Connect" does in the window. A cable that is missing,
// unplugged or refused is told once and looked for again at every change the
// system reports and every second; its return is told too.
#include "Teller.h"

#include "link/hid/HidDeviceController.h"
#include "link/hid/UsbCableLink.h"
#include "platform/Dialogs.h"
#include "platform/LinuxHidBackend.h"

#include <QObject>
#include <QTimer>

#include <functional>
#include <string>

class UsbSource : public QObject {
public:
    // `path` empty: the last "USB to Serial" cable.
    UsbSource(std::string path, const Teller& teller, QObject* parent = nullptr);
    ~UsbSource() override;

    // Looks for the cable now, and from then on at every change.
    void start();
    bool isOpen() const { return open_; }

    // Each frame text the cable delivered (a valid frame).
    std::function<void(const std::string& frameText)> onFrame;
    // The cable is being read (true) or was lost (false).
    std::function<void(bool open)> onOpen;

private:
    // The window's message boxes as lines on standard error, each told once
    // until the cable works again.
    class TellingDialogs final : public IDialogs {
    public:
        explicit TellingDialogs(UsbSource& source) : source_(source) {}
        void showMessage(const QString& text) override { source_.tellOnce(text.toStdString()); }
        DialogButton ask(const QString& text, DialogButtons) override
        {
            source_.tellOnce(text.toStdString());
            return DialogButton::Ok;
        }
        void showError(const QString& text) override { source_.tellOnce(text.toStdString()); }
        std::optional<QString> openFileName(const QString&, const QString&) override { return std::nullopt; }
        std::optional<QString> saveFileName(const QString&, const QString&, const QString&) override
        {
            return std::nullopt;
        }
        std::optional<QString> folderName(const QString&) override { return std::nullopt; }
        bool setUpPrinter(QPrinter&, int) override { return false; }

    private:
        UsbSource& source_;
    };

    UsbCableLink::Hooks hooks();
    void deviceChange(THidDeviceController* sender);
    bool enumerate(THidDevice* device, int32_t index);
    void dataError(THidDevice* device, uint32_t error);
    void look();
    void tellOnce(const std::string& line);
    std::string cableName() const;

    std::string path_;
    const Teller& teller_;
    LinuxHidBackend backend_;
    THidDeviceController controller_;
    TellingDialogs dialogs_;
    UsbCableLink link_;
    QTimer retry_;
    bool open_ = false;
    bool everOpen_ = false;
    bool told_ = false;  // the outage at hand was told
};
