#include "link/hid/HidDevice.h"

#include "link/hid/HidDeviceController.h"
#include "link/hid/HidDeviceReadThread.h"
#include "platform/HidReportDescriptor.h"

#include <QTimer>
#include <cerrno>

THidDevice::THidDevice(std::unique_ptr<THidPnPInfo> pnp, THidDeviceController* controller, IHidBackend& backend)
    : backend_(backend),
      controller_(controller),
      pnp_(std::move(pnp))
{
    if (controller_) {
        dataHandler_ = controller_->OnDeviceData();
        UnplugHandler = controller_->OnDeviceUnplug();
    }
    OpenMainHandle();
    if (!mainHandle_)
        throw EControllerError("device cannot be opened");
    if (!mainHandle_->GetAttributes(attributes_)) {
        mainHandle_.reset();
        throw EControllerError("device cannot be identified");
    }
    CloseMain();
}

THidDevice::~THidDevice()
{
    const THidDataEvent keptData = dataHandler_;
    const THidPlugEvent keptUnplug = UnplugHandler;
    const int32_t keptPollTime = ReadPollTime();
    SetDataHandler({});  // stops the reader
    stoppedReader_.reset();
    UnplugHandler = {};
    CloseHandles();
    if (controller_)
        controller_->DeviceEnded(this, keptData, keptUnplug, keptPollTime);
}

bool THidDevice::Plugged() const
{
    std::lock_guard lock(ioMutex_);
    return plugged_;
}

bool THidDevice::CheckedOut() const
{
    std::lock_guard lock(ioMutex_);
    return checkedOut_;
}

bool THidDevice::InEvent() const
{
    std::lock_guard lock(ioMutex_);
    return inEvent_;
}

bool THidDevice::Accessible() const
{
    std::lock_guard lock(ioMutex_);
    return plugged_ && (checkedOut_ || inEvent_);
}

void THidDevice::SetCheckedOut(bool value)
{
    std::lock_guard lock(ioMutex_);
    checkedOut_ = value;
}

void THidDevice::SetInEvent(bool value)
{
    std::lock_guard lock(ioMutex_);
    inEvent_ = value;
}

bool THidDevice::OpenMain()
{
    if (Accessible() && !mainHandle_)
        OpenMainHandle();
    return mainHandle_ != nullptr;
}

void THidDevice::OpenMainHandle()
{
    // Reading and writing, or else queries only (as the system allows for
    // devices it keeps to itself, or where access rights are missing).
    const HidInterface where = pnp_->Interface();
    int error = 0;
    mainHandle_ = backend_.Open(where, HidOpenMode::ReadWrite, error);
    readWriteAccess_ = mainHandle_ != nullptr;
    readWriteError_ = error;
    if (!mainHandle_)
        mainHandle_ = backend_.Open(where, HidOpenMode::Query, error);
}

void THidDevice::CloseMain()
{
    mainHandle_.reset();
}

void THidDevice::CloseHandles()
{
    CloseMain();
    std::shared_ptr<IHidHandle> reading;
    {
        std::lock_guard lock(ioMutex_);
        reading = std::move(readHandle_);
    }
    // A read in progress on it ends now; the descriptor is closed when the
    // reader lets go of it, so the reader never uses a closed one.
    if (reading)
        reading->Interrupt();
}

std::u16string THidDevice::ProductString()
{
    if (productString_.empty() && OpenMain()) {
        std::u16string text;
        if (mainHandle_->GetProductString(text))
            productString_ = text.substr(0, text.find(u'\0'));
        CloseMain();
    }
    return productString_;
}

std::u16string THidDevice::SerialString()
{
    if (serialString_.empty() && OpenMain()) {
        std::u16string serial;
        if (mainHandle_->GetSerialNumberString(serial)) {
            serial = serial.substr(0, serial.find(u'\0'));
            // The language list (string descriptor 0); a serial number that
            // matches it over its length is no serial number.
            std::u16string languages;
            if (!mainHandle_->GetIndexedString(0, languages))
                languages.clear();
            const size_t n = std::min<size_t>(languages.size(), 254);
            bool differs = false;
            for (size_t i = 0; i < n && !differs; ++i)
                differs = (i < serial.size() ? serial[i] : u'\0') != languages[i];
            if (differs)
                serialString_ = serial;
        }
        CloseMain();
    }
    return serialString_;
}

HidReportCaps THidDevice::ReportCaps()
{
    if (!caps_ && OpenMain()) {
        HidReportCaps caps;
        if (mainHandle_->GetReportCaps(caps))
            caps_ = caps;
        CloseMain();
    }
    return caps_.value_or(HidReportCaps{});
}

size_t THidDevice::InputReportLength()
{
    const size_t length = ReportCaps().InputReportByteLength;
    // Without a readable layout, room for the longest report there can be.
    return length > 1 ? length : kHidMaxReportBytes + 1;
}

bool THidDevice::SendFeature(const uint8_t* report, size_t size)
{
    if (!OpenMain())
        return false;
    return mainHandle_->SetFeature(report, size);  // the handle stays open
}

void THidDevice::SetReadPollTime(int32_t ms)
{
    if (ms >= 10 && ms <= 10000)
        readPollTime_ = ms;
}

void THidDevice::SetDataHandler(THidDataEvent handler)
{
    if (!handler)
        StopReader();
    dataHandler_ = std::move(handler);
    StartReader();
}

void THidDevice::StartReader()
{
    if (dataHandler_ && Plugged() && CheckedOut() && readWriteAccess_ && !reader_) {
        reader_ = std::make_unique<THidDeviceReadThread>(*this);
        reader_->Start();
    }
}

void THidDevice::StopReader()
{
    if (!reader_)
        return;
    if (reader_->HandingOver()) {
        // Asked from inside the reader's own hand-over, which the reader
        // waits for: it cannot end before that returns. It ends right after;
        // with the handler detached, nothing more reaches it.
        reader_->Terminate();
        stoppedReader_ = std::move(reader_);
        QTimer::singleShot(0, &context_, [this] { ReapStoppedReader(); });
        return;
    }
    reader_->Terminate();
    reader_->WaitFor();
    reader_.reset();
}

void THidDevice::ReapStoppedReader()
{
    if (!stoppedReader_)
        return;
    if (stoppedReader_->HandingOver())  // still inside it (a nested event loop)
        QTimer::singleShot(10, &context_, [this] { ReapStoppedReader(); });
    else
        stoppedReader_.reset();
}

std::shared_ptr<IHidHandle> THidDevice::OpenReadHandle(int& error)
{
    std::lock_guard lock(ioMutex_);
    if (!(plugged_ && (checkedOut_ || inEvent_))) {
        error = ENODEV;
        return nullptr;
    }
    if (!readHandle_) {
        std::unique_ptr<IHidHandle> opened = backend_.Open(pnp_->Interface(), HidOpenMode::Read, error);
        if (!opened)
            return nullptr;
        readHandle_ = std::move(opened);
    }
    return readHandle_;
}

void THidDevice::MarkUnplugged()
{
    CloseHandles();
    {
        std::lock_guard lock(ioMutex_);
        plugged_ = false;
    }
    if (UnplugHandler) {
        const THidPlugEvent handler = std::move(UnplugHandler);
        UnplugHandler = {};
        handler(this);
    }
}
