#pragma once
// Seams that do nothing, for benchmarks, fuzz targets and helper programs that
// drive the program's parts without a system behind them: no HID devices at
// all, dialogs that answer OK and show nothing, and no beep (FakeClock.h has
// the clock). Header-only, so it needs no test framework.
#include <cerrno>
#include <utility>

#include "platform/Beeper.h"
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
    std::optional<QString> openFileName(const QString&, const QString&) override { return {}; }
    std::optional<QString> saveFileName(const QString&, const QString&, const QString&) override { return {}; }
    std::optional<QString> folderName(const QString&) override { return std::nullopt; }
    bool setUpPrinter(QPrinter&, int) override { return false; }
};

class SilentBeeper final : public IBeeper {
public:
    void beep() override {}
};
