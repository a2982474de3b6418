#pragma once
// Dialogs for the helper programs that run the window on their own: every box
// is written to stderr ("message: …", "question: …", "error: …") and answered
// with its first button of OK, Yes, No and Cancel; the open dialog is
// cancelled, the save dialog gives `saveAs`, the folder and print dialogs are
// cancelled.
// Header-only, so it needs no test framework.
#include <cstdio>
#include <optional>

#include "platform/Dialogs.h"

class PrintingDialogs final : public IDialogs {
public:
    std::optional<QString> saveAs;

    void showMessage(const QString& text) override { print("message", text); }
    DialogButton ask(const QString& text, DialogButtons buttons) override
    {
        print("question", text);
        for (DialogButton b : {DialogButton::Ok, DialogButton::Yes, DialogButton::No, DialogButton::Cancel})
            if (buttons.has(b))
                return b;
        return DialogButton::Ok;
    }
    void showError(const QString& text) override { print("error", text); }
    std::optional<QString> openFileName(const QString&, const QString&) override { return std::nullopt; }
    std::optional<QString> saveFileName(const QString&, const QString&, const QString&) override { return saveAs; }
    std::optional<QString> folderName(const QString&) override { return std::nullopt; }
    bool setUpPrinter(QPrinter&, int) override { return false; }

private:
    static void print(const char* kind, const QString& text)
    {
        std::fprintf(stderr, "%s: %s\n", kind, text.toLocal8Bit().constData());
    }
};
