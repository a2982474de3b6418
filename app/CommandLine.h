#pragma once
// The program's command line: what to do at start-up, or the text to print
// and the status to end with at once (--help, --version, a mistake).
#include <QString>
#include <QStringList>
#include <optional>

struct StartOptions {
    std::optional<int> port;  // --port N: select COM N (1 to 4)
    bool connect = false;     // --connect: press "COM Connect" once the window is up
    bool usb = false;         // --usb: press "USB Connect"
    QString dir;              // --dir DIR: the working folder (empty: the current one)
    bool noSettings = false;  // --no-settings: read and write no settings file
};

struct CommandLine {
    std::optional<StartOptions> start;  // empty: end at once
    int exitStatus = 0;
    QString out;  // for stdout
    QString err;  // for stderr
};

// `arguments` as main() has them, the program's name first. Qt's own window
// options (-platform NAME, -style NAME, …) pass; the application takes them.
CommandLine parseCommandLine(const QStringList& arguments, const QString& version);
