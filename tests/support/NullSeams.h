#pragma once
// Seams that do nothing, for benchmarks and fuzz targets that drive the USB
// cable without a system behind it: no HID devices at all, and dialogs that
// answer OK and show nothing. Header-only, so it needs no test framework.
#include <cerrno>

#include "platform/Dialogs.h"
#include "platform/HidBackend.h"

class NoHidBackend final : public IHidBackend {
public:
    bool Present() const override { return false; }
    std::vector<HidInterface> Enumerate() override { return {}; }
    std::unique_ptr<IHidHandle> Open(const HidInterface&, HidOpenMode, int& error) override
    {
        error = ENODEV;
        return nullptr;
    }
    void Watch(std::function<void()>) override {}
};

class SilentDialogs final : public IDialogs {
public:
    void showMessage(const QString&) override {}
    DialogButton ask(const QString&, DialogButtons) override { return DialogButton::Ok; }
    void showError(const QString&) override {}
    std::optional<QString> openFileName(const QString&) override { return {}; }
    std::optional<QString> saveFileName(const QString&, const QString&) override { return {}; }
    bool setUpPrinter(QPrinter&, int) override { return false; }
};
