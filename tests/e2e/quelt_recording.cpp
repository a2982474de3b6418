// The program as a user runs it, with "COM Connect" pressed as soon as it is
// up, for the tests that stop it from outside (signals, SIGKILL). It prints
// one line on standard output for every record the recorder posts, once the
// record is in the log: "<No>\t<Value>\t<CLOCK_MONOTONIC ms>". Message boxes
// are printed to standard error and answered with their first button; so is
// the end of the window.
#include <QApplication>
#include <QPushButton>
#include <QToolButton>
#include <QTimer>

#include <cstdio>
#include <ctime>
#include <string>
#include <unistd.h>

#include "app/QueltApplication.h"
#include "app/TFCOMM.h"
#include "platform/Beeper.h"
#include "platform/desktop/QtDialogs.h"
#include "platform/TerminationSignals.h"
#include "ui_TFCOMM.h"
#include "tests/support/NullSeams.h"

namespace {

class PrintedDialogs final : public IDialogs {
public:
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
    std::optional<QString> openFileName(const QString&) override { return std::nullopt; }
    std::optional<QString> saveFileName(const QString&, const QString&) override { return std::nullopt; }
    std::optional<QString> folderName(const QString&) override { return std::nullopt; }
    bool setUpPrinter(QPrinter&, int) override { return false; }

private:
    static void print(const char* kind, const QString& text)
    {
        std::fprintf(stderr, "%s: %s\n", kind, text.toLocal8Bit().constData());
    }
};

// Writes a line for every posted record, after the journal has taken it.
class RecordPrinter final : public ReadingTableObserver {
public:
    explicit RecordPrinter(ReadingTable& table) : table_(table) { table_.addObserver(this); }
    ~RecordPrinter() override { table_.removeObserver(this); }

private:
    void rowAppended(size_t row) override
    {
        timespec now{};
        clock_gettime(CLOCK_MONOTONIC, &now);
        const long long ms = (long long)now.tv_sec * 1000 + now.tv_nsec / 1000000;
        const std::string line = table_.cellText(row, table_.fieldIndex("No")) + '\t' +
                                 table_.cellText(row, table_.fieldIndex("Value")) + '\t' + std::to_string(ms) + '\n';
        const ssize_t n = ::write(STDOUT_FILENO, line.data(), line.size());  // unbuffered: nothing waits in memory
        (void)n;
    }

    void tableAboutToClose() override
    {
        const ssize_t n = ::write(STDOUT_FILENO, "log closed\n", 11);
        (void)n;
    }

    ReadingTable& table_;
};

}  // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName("Dessa");
    const bool openDialog = app.arguments().contains("--open-dialog");
    TerminationSignals endSignals;
    PrintedDialogs printed;
    QtDialogs real;
    SilentBeeper beeper;
    AppServices services{openDialog ? static_cast<IDialogs&>(real) : printed, beeper};
    services.endSignals = &endSignals;
    TFCOMM window(services);
    RecordPrinter printer(window.readingTable);
    QTimer::singleShot(0, &window, [&window] { window.ui->COMCon->click(); });
    if (openDialog)
        QTimer::singleShot(500, &window, [&window] {
            std::fprintf(stderr, "opening the file dialog\n");
            window.ui->OpenDataFiles->click();
            std::fprintf(stderr, "file dialog closed\n");
        });
    return RunWindow(window);
}
