#include "UsbSource.h"

#include <exception>

namespace {

constexpr int kRetryMs = 1000;

}  // namespace

UsbSource::UsbSource(std::string path, const Teller& teller, QObject* parent)
    : QObject(parent),
      path_(std::move(path)),
      teller_(teller),
      controller_(backend_),
      dialogs_(*this),
      link_(controller_, dialogs_, hooks())
{
    retry_.setInterval(kRetryMs);
    retry_.callOnTimeout(this, [this] { look(); });
}

UsbSource::~UsbSource()
{
    retry_.stop();
    controller_.SetOnDeviceChange({});
    link_.ReleaseDevices();  // the readers end before the link goes
}

UsbCableLink::Hooks UsbSource::hooks()
{
    UsbCableLink::Hooks h = UsbCableLink::Hooks::withoutWindow();
    h.decode = [this](const std::string& frameText) {
        if (onFrame)
            onFrame(frameText);
    };
    h.guard = [this](const std::function<void()>& f) {
        try {
            f();
        } catch (const std::exception& e) {
            teller_.problem(e.what());
        }
    };
    return h;
}

void UsbSource::start()
{
    controller_.OnEnumerate = THidEnumerateEvent(this, &UsbSource::enumerate);
    controller_.SetOnDeviceDataError(THidDataErrorEvent(this, &UsbSource::dataError));
    // Installing the change handler runs a first pass.
    controller_.SetOnDeviceChange(TNotifyEvent(this, &UsbSource::deviceChange));
}

std::string UsbSource::cableName() const
{
    return path_.empty() ? std::string("the USB cable \"") + UsbCableLink::kCableName + "\"" : "the USB cable " + path_;
}

bool UsbSource::enumerate(THidDevice* device, int32_t index)
{
    return link_.HidCtlEnumerate(device, index);
}

void UsbSource::dataError(THidDevice* device, uint32_t error)
{
    link_.HidCtlDeviceDataError(device, error);
    // Inside a reader's hand-over: the list is looked at afterwards.
    QTimer::singleShot(0, this, [this] { look(); });
}

void UsbSource::look()
{
    deviceChange(&controller_);
}

void UsbSource::deviceChange(THidDeviceController* sender)
{
    link_.HidCtlDeviceChange(sender);
    if (!path_.empty()) {
        int found = -1;
        const auto& lines = link_.DevList();
        for (int i = 0; i < int(lines.size()); ++i)
            if (lines[size_t(i)].device && lines[size_t(i)].device->PnP() &&
                lines[size_t(i)].device->PnP()->InterfacePath == path_)
                found = i;
        link_.Select(found);
    }
    const int selected = link_.Selected();
    THidDevice* device = selected >= 0 ? link_.DevList()[size_t(selected)].device : nullptr;
    bool open = false;
    if (device) {
        link_.USBConClick();  // a refusal is told through the dialogs
        open = device->ReadWriteAccess();
    }
    if (open) {
        retry_.stop();
        if (told_ || (everOpen_ && !open_))
            teller_.info(cableName() + " is back");
        else if (!everOpen_)
            teller_.info("reading " + cableName());
        told_ = false;
        everOpen_ = true;
    } else {
        if (open_)
            tellOnce(cableName() + " is gone; looking for it every second");
        else if (!device)
            tellOnce(cableName() + " is not plugged in; looking for it every second");
        if (!retry_.isActive())
            retry_.start();
    }
    const bool changed = open != open_;
    open_ = open;
    if (changed && onOpen)
        onOpen(open);
}

void UsbSource::tellOnce(const std::string& line)
{
    if (told_)
        return;
    told_ = true;
    teller_.problem(line);
}
