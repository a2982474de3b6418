#pragma once
// Scripted stand-ins for the program's seams: they record what the program
// shows and answer with what the test queued.
#include <QString>
#include <QList>
#include <QStringList>
#include <deque>
#include <functional>
#include <optional>

#include "platform/Beeper.h"
#include "platform/Dialogs.h"

class FakeDialogs final : public IDialogs {
public:
    QStringList messages;                      // plain boxes
    QStringList questions;                     // information boxes
    QStringList errors;                        // general error reports
    std::deque<DialogButton> answers;          // next answers to ask(); default: the first button offered
    std::deque<std::optional<QString>> files;  // next answers to file dialogs; default: cancel
    QStringList filters;
    QList<int> printPageCounts;  // page counts the print dialog offered
    // What the print dialog does: set up the printer and return true to print;
    // default: cancel.
    std::function<bool(QPrinter&)> printSetUp;
    QStringList defaultSuffixes;  // of the save dialogs
    // Runs while a box is "open" (e.g. to deliver more frames meanwhile).
    std::function<void()> whileOpen;

    void showMessage(const QString& text) override
    {
        messages << text;
        open();
    }
    DialogButton ask(const QString& text, DialogButtons buttons) override
    {
        questions << text;
        open();
        if (!answers.empty()) {
            const DialogButton b = answers.front();
            answers.pop_front();
            return b;
        }
        for (DialogButton b : {DialogButton::Ok, DialogButton::Yes, DialogButton::No, DialogButton::Cancel})
            if (buttons.has(b)) return b;
        return DialogButton::Ok;
    }
    void showError(const QString& text) override
    {
        errors << text;
        open();
    }
    QStringList fileStarts;  // where each open and save dialog opened
    std::optional<QString> openFileName(const QString& filter, const QString& startFolder) override
    {
        fileStarts << startFolder;
        return nextFile(filter);
    }
    std::optional<QString> saveFileName(const QString& filter, const QString& defaultSuffix,
                                        const QString& startFolder) override
    {
        defaultSuffixes << defaultSuffix;
        fileStarts << startFolder;
        return nextFile(filter);
    }
    // Folder dialogs answer from `files` too; `folderStarts` is where each opened.
    QStringList folderStarts;
    std::optional<QString> folderName(const QString& start) override
    {
        folderStarts << start;
        return nextFile(QString());
    }
    bool setUpPrinter(QPrinter& printer, int pageCount) override
    {
        printPageCounts << pageCount;
        open();
        return printSetUp && printSetUp(printer);
    }

private:
    void open()
    {
        if (whileOpen) {
            auto f = whileOpen;
            f();
        }
    }
    std::optional<QString> nextFile(const QString& filter)
    {
        filters << filter;
        std::optional<QString> answer;
        if (!files.empty()) {
            answer.swap(files.front());
            files.pop_front();
        }
        return answer;
    }
};

class FakeBeeper final : public IBeeper {
public:
    int beeps = 0;
    void beep() override { ++beeps; }
};
