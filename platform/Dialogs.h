#pragma once
// Every modal message box and file dialog of the program goes through IDialogs,
// so that tests answer them and nothing blocks a headless run.
#include <QString>
#include <QStringList>
#include <optional>

class QPrinter;

enum class DialogButton { Ok = 1,
                          Cancel = 2,
                          Yes = 4,
                          No = 8 };

struct DialogButtons {
    int mask = 0;
    constexpr DialogButtons(DialogButton b) : mask(int(b)) {}
    constexpr DialogButtons(int m) : mask(m) {}
    constexpr bool has(DialogButton b) const { return (mask & int(b)) != 0; }
};
constexpr DialogButtons operator|(DialogButton a, DialogButton b) { return DialogButtons(int(a) | int(b)); }

class IDialogs {
public:
    virtual ~IDialogs() = default;

    // A plain box with OK, titled with the application title.
    virtual void showMessage(const QString& text) = 0;

    // An information box with the given buttons; returns the button pressed.
    virtual DialogButton ask(const QString& text, DialogButtons buttons) = 0;

    // The general error report: a modal box with the failure's text, titled
    // with the application title.
    virtual void showError(const QString& text) = 0;

    // File dialogs. `filter` uses the "Caption|pattern|Caption|pattern" form;
    // they open in `startFolder` (empty: the working folder). An empty result
    // means the user cancelled.
    virtual std::optional<QString> openFileName(const QString& filter, const QString& startFolder) = 0;
    virtual std::optional<QString> saveFileName(const QString& filter, const QString& defaultSuffix,
                                                const QString& startFolder) = 0;
    // A folder dialog opening at `start` (made if missing is the caller's
    // business); an empty result means the user cancelled.
    virtual std::optional<QString> folderName(const QString& start) = 0;

    // The print dialog: printer choice, number of copies and a page range
    // from 1 to pageCount, all set on `printer`. False when the user cancelled.
    virtual bool setUpPrinter(QPrinter& printer, int pageCount) = 0;
};
