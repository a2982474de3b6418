#include "link/hid/UsbCableLink.h"

#include "meter/FrameAssembler.h"
#include "platform/Dialogs.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>

namespace {

const char kNotConnected[] = "USB interface cable is not securely connected, please check and re-try.";

void AppendHex(std::string& text, uint8_t byte)
{
    static constexpr char kDigits[] = "0123456789ABCDEF";
    text += kDigits[byte >> 4];
    text += kDigits[byte & 0x0F];
}

// "03 2B 30 31 " for the bytes 03 2B 30 31.
QString HexBytes(const uint8_t* data, size_t size)
{
    std::string text;
    text.reserve(3 * size);
    for (size_t k = 0; k < size; ++k) {
        AppendHex(text, data[k]);
        text += ' ';
    }
    return QString::fromLatin1(text.data(), qsizetype(text.size()));
}

}  // namespace

UsbCableLink::UsbCableLink(THidDeviceController& controller, IDialogs& dialogs, Hooks hooks)
    : controller_(controller),
      dialogs_(dialogs),
      hooks_(std::move(hooks))
{
}

void UsbCableLink::ReleaseDevices()
{
    state.CurrentDevice = nullptr;
    std::vector<DeviceLine> old;
    old.swap(lines_);
    selected_ = -1;
    for (DeviceLine& line : old)
        if (line.device)
            controller_.ReturnDevice(line.device);  // stops its reader
    ShowList();
}

QString UsbCableLink::DeviceName(THidDevice* device)
{
    QString name;
    const std::u16string product = device->ProductString();
    if (!product.empty())
        name = QString::fromStdU16String(product);
    else
        name = QString::asprintf("Device VID=%04X PID=%04X", device->Attributes().VendorID,
                                 device->Attributes().ProductID);
    const std::u16string serial = device->SerialString();
    if (!serial.empty())
        name += QStringLiteral(" (Serial=%1)").arg(QString::fromStdU16String(serial));
    return name;
}

std::array<uint8_t, 10> UsbCableLink::SetupReport(const UsbProfileFlags& flags)
{
    uint32_t speed = 2400;
    if (flags.IFHarvo)
        speed = 19200;
    if (flags.IFEvrin || flags.IFQuelt || flags.IFTormo)
        speed = 2400;
    // Report ID 0 (the cable's feature report has none), the speed as a
    // little-endian 32-bit number, 0x03, four zero bytes.
    return {0, uint8_t(speed), uint8_t(speed >> 8), uint8_t(speed >> 16), uint8_t(speed >> 24), 0x03, 0, 0, 0, 0};
}

QString UsbCableLink::ReportLine(uint8_t reportId, const uint8_t* data, uint16_t size)
{
    return QString::asprintf("R %02X  ", reportId) + HexBytes(data, size);
}

THidDevice* UsbCableLink::SelectedDevice() const
{
    if (selected_ < 0 || selected_ >= int(lines_.size()))
        return nullptr;
    return lines_[size_t(selected_)].device;
}

void UsbCableLink::Log(const QString& line)
{
    const int rows = historyModel_.rowCount();
    historyModel_.insertRows(rows, 1);
    historyModel_.setData(historyModel_.index(rows), line);
    const int excess = historyModel_.rowCount() - kHistoryLines;
    if (excess > 0)
        historyModel_.removeRows(0, excess);
}

void UsbCableLink::ShowList()
{
    QStringList texts;
    for (const DeviceLine& line : lines_)
        texts << line.text;
    devListModel_.setStringList(texts);
}

void UsbCableLink::Attach(THidDevice* device,
                          void (UsbCableLink::*handler)(THidDevice*, uint8_t, const uint8_t*, uint16_t))
{
    // The handler runs under the window's guard; it is known by the method
    // it calls, so attaching the same one again changes nothing.
    device->SetDataHandler(
        THidDataEvent(THidDataEvent(this, handler), [this, handler](THidDevice* d, uint8_t id, const uint8_t* data,
                                                                    uint16_t size) {
            hooks_.guard([&] { (this->*handler)(d, id, data, size); });
        }));
}

// ---------------------------------------------------------------------------
// Commands

void UsbCableLink::USBConClick()
{
    ReadBtnClick();
    SetFeatureClick();
    state.UsbIdleReports = 0;
    state.CurrentDevice = nullptr;
    THidDevice* device = SelectedDevice();
    if (!device)
        return;
    state.CurrentDevice = device;
    const bool down = hooks_.usbConDown();
    if (!device->ReadWriteAccess()) {
        hooks_.raiseUsbCon();
        if (down) {
            // The cable is there but refused to this user: say why.
            const int err = device->ReadWriteError();
            QString text = QStringLiteral("Could not open the USB cable (%1) for reading and writing: %2.")
                               .arg(QString::fromStdString(device->PnP() ? device->PnP()->InterfacePath : std::string()),
                                    QString::fromLocal8Bit(std::strerror(err ? err : EACCES)));
            if (err == 0 || err == EACCES || err == EPERM)
                text += QStringLiteral(
                    "\nA udev rule must give you access to it: install the program's rule "
                    "(60-quelt-usb-cable.rules, see the README), then unplug the cable and plug it in again.");
            dialogs_.showMessage(text);
        }
        return;
    }
    if (down) {
        const UsbProfileFlags flags = hooks_.profile();
        if (flags.IFQuelt)
            Attach(device, &UsbCableLink::HidDataQuelt);
        if (flags.IFEvrin)
            Attach(device, &UsbCableLink::HidDataEvrin);
        if (flags.IFTormo)
            Attach(device, &UsbCableLink::HidDataTormo);
    } else {
        device->SetDataHandler({});
    }
}

void UsbCableLink::ReadBtnClick()
{
    state.CurrentDevice = nullptr;
    THidDevice* device = SelectedDevice();
    if (!device)
        return;
    state.CurrentDevice = device;
    if (!device->ReadWriteAccess())
        hooks_.raiseReadBtn();
    else if (hooks_.readBtnDown())
        Attach(device, &UsbCableLink::HidDataEvrin);
    else
        device->SetDataHandler({});
}

void UsbCableLink::SetFeatureClick()
{
    state.CurrentDevice = nullptr;
    THidDevice* device = SelectedDevice();
    if (!device) {
        dialogs_.ask(kNotConnected, DialogButton::Ok);
        hooks_.raiseUsbCon();
        return;
    }
    state.CurrentDevice = device;
    const std::array<uint8_t, 10> report = SetupReport(hooks_.profile());
    device->SendFeature(report.data(), report.size());  // a refusal is not told
    Log(HexBytes(report.data(), report.size()));
}

void UsbCableLink::ClearBtnClick()
{
    historyModel_.setStringList({});
}

void UsbCableLink::DetachCurrentDevice()
{
    if (state.CurrentDevice)
        state.CurrentDevice->SetDataHandler({});
}

// ---------------------------------------------------------------------------
// The controller's events

void UsbCableLink::HidCtlDeviceChange(THidDeviceController*)
{
    hooks_.raiseReadBtn();
    ReadBtnClick();  // stops the reader of the selected device
    ReleaseDevices();
    controller_.EnumeratePlugged();
    for (int i = 0; i < int(lines_.size()); ++i)
        if (lines_[size_t(i)].text == QLatin1String(kCableName))
            selected_ = i;  // the last of them
    ShowList();
}

bool UsbCableLink::HidCtlEnumerate(THidDevice* HidDev, int32_t Idx)
{
    DeviceLine line{DeviceName(HidDev), nullptr};
    line.device = controller_.CheckOutAt(Idx);
    lines_.push_back(line);
    return true;
}

void UsbCableLink::HidCtlArrival(THidDevice* HidDev)
{
    Log(QStringLiteral("Arrival of ") + DeviceName(HidDev));
}

void UsbCableLink::HidCtlRemoval(THidDevice* HidDev)
{
    Log(QStringLiteral("Removal of ") + DeviceName(HidDev));
}

void UsbCableLink::HidCtlDeviceDataError(THidDevice*, uint32_t Error)
{
    Log(QStringLiteral("READ ERROR: %1 (%2)")
            .arg(QString::fromLocal8Bit(std::strerror(int(Error))), QString::number(Error, 16).toUpper()));
}

// ---------------------------------------------------------------------------
// Input reports

void UsbCableLink::Report(const uint8_t* data, uint16_t size, uint8_t reportId, BurstEnd end)
{
    if (size >= 1) {
        if (state.UsbIdleReports < INT32_MAX)
            ++state.UsbIdleReports;
        // The low four bits of the first byte count the meter bytes (1 to 9).
        const int n = data[0] & 0x0F;
        if (n >= 1 && n <= 9) {
            state.UsbIdleReports = 0;
            state.UsbBurstPending = true;
            const int present = std::min(n, int(size) - 1);  // a count past the end takes what is there
            for (int k = 1; k <= present && state.UsbBurstText.size() < 2 * kBurstBytes; ++k)
                AppendHex(state.UsbBurstText, data[k]);
            Log(ReportLine(reportId, data, size));
            return;
        }
    }
    // No meter bytes: an open burst is complete.
    if (state.UsbBurstPending) {
        if (end == BurstEnd::Decode) {
            if (hooks_.burstEnded)
                hooks_.burstEnded(state.UsbBurstText);
            if (FrameAssembler::IsValidFrameText(state.UsbBurstText))
                hooks_.decode(state.UsbBurstText);
        }
        state.UsbBurstText.clear();
    }
    state.UsbBurstPending = false;
}

void UsbCableLink::HidDataTormo(THidDevice*, uint8_t ReportID, const uint8_t* Data, uint16_t Size)
{
    Report(Data, Size, ReportID, BurstEnd::Decode);
}

void UsbCableLink::HidDataEvrin(THidDevice*, uint8_t ReportID, const uint8_t* Data, uint16_t Size)
{
    Report(Data, Size, ReportID, BurstEnd::Keep);
}

void UsbCableLink::HidDataQuelt(THidDevice*, uint8_t ReportID, const uint8_t* Data, uint16_t Size)
{
    Report(Data, Size, ReportID, BurstEnd::Keep);
}
