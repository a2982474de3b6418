#pragma once
// The handlers that HID devices and their controller call: each is bound to
// an object, and two handlers count as the same when their functions are the
// same, whatever object they are bound to.
#include <array>
#include <cstdint>
#include <cstring>
#include <functional>

class THidDevice;
class THidDeviceController;

template <class Sig>
class HidEvent;

template <class R, class... Args>
class HidEvent<R(Args...)> {
public:
    HidEvent() = default;

    // A method bound to an object.
    template <class C>
    HidEvent(C* object, R (C::*method)(Args...))
        : call_([object, method](Args... args) -> R { return (object->*method)(args...); })
    {
        static_assert(sizeof method < sizeof key_);
        key_[0] = 1;
        std::memcpy(key_.data() + 1, &method, sizeof method);
    }

    // Any callable; `function` names what it does: equal names are the same
    // handler.
    HidEvent(std::function<R(Args...)> call, const void* function) : call_(std::move(call))
    {
        key_[0] = 2;
        std::memcpy(key_.data() + 1, &function, sizeof function);
    }

    // `call` known as the same handler as `sameAs` (to wrap a handler).
    HidEvent(const HidEvent& sameAs, std::function<R(Args...)> call) : call_(std::move(call)),
                                                                       key_(sameAs.key_) {}

    explicit operator bool() const { return bool(call_); }
    R operator()(Args... args) const { return call_(args...); }
    bool operator==(const HidEvent& other) const { return key_ == other.key_; }

private:
    std::function<R(Args...)> call_;
    std::array<unsigned char, 4 * sizeof(void*)> key_{};
};

using THidPlugEvent = HidEvent<void(THidDevice* HidDev)>;
// `Data` points to the `Size` bytes after the report ID; valid during the call.
using THidDataEvent = HidEvent<void(THidDevice* HidDev, uint8_t ReportID, const uint8_t* Data, uint16_t Size)>;
using THidDataErrorEvent = HidEvent<void(THidDevice* HidDev, uint32_t Error)>;
// Returns true to go on with the enumeration.
using THidEnumerateEvent = HidEvent<bool(THidDevice* HidDev, int32_t Idx)>;
using TNotifyEvent = HidEvent<void(THidDeviceController* Sender)>;
