#include "app/CommandLine.h"

#include "app/AppSettings.h"

#include <QCommandLineParser>

namespace {

// The options QGuiApplication and QApplication take for themselves.
const char* const kQtValueOptions[] = {"platform", "platformpluginpath", "platformtheme", "plugin", "qwindowgeometry",
                                       "geometry", "qwindowtitle", "title", "qwindowicon", "icon", "display",
                                       "style", "stylesheet", "session", "name"};
const char* const kQtFlags[] = {"reverse", "widgetcount", "nograb", "dograb", "sync"};

}  // namespace

CommandLine parseCommandLine(const QStringList& arguments, const QString& version)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(
        "Shows, checks and logs the readings of a handheld digital multimeter on a serial port or USB cable.");
    // -platform and the other Qt options are single-dash words.
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QCommandLineOption help({"h", "help"}, "Show this help and end.");
    const QCommandLineOption versionOption({"v", "version"}, "Show the version and end.");
    const QCommandLineOption port("port", "Select the serial port COM<n> (1 to 4).", "n");
    const QCommandLineOption connect("connect", "Press \"COM Connect\" once the window is up.");
    const QCommandLineOption usb("usb", "Press \"USB Connect\" once the window is up.");
    const QCommandLineOption dir("dir", "Run in <folder>, where the reading log is.", "folder");
    const QCommandLineOption noSettings("no-settings",
                                        "Start with the window's own settings; read and write no settings file.");
    parser.addOptions({help, versionOption, port, connect, usb, dir, noSettings});
    for (const char* name : kQtValueOptions) {
        QCommandLineOption o(name, QString(), "value");
        o.setFlags(QCommandLineOption::HiddenFromHelp);
        parser.addOption(o);
    }
    for (const char* name : kQtFlags) {
        QCommandLineOption o(name);
        o.setFlags(QCommandLineOption::HiddenFromHelp);
        parser.addOption(o);
    }

    CommandLine result;
    const auto mistake = [&result](const QString& text) {
        result.exitStatus = 2;
        result.err = "quelt: " + text + "\nTry 'quelt --help' for more information.\n";
        return result;
    };
    if (!parser.parse(arguments))
        return mistake(parser.errorText());
    if (parser.isSet(help)) {
        QString text = parser.helpText();
        // Named as the user calls it, whatever path started it.
        const qsizetype end = text.indexOf(' ', text.indexOf(':') + 2);
        if (text.startsWith("Usage: ") && end > 0)
            text.replace(7, end - 7, "quelt");
        result.out = text;
        return result;
    }
    if (parser.isSet(versionOption)) {
        result.out = "quelt " + version + "\n";
        return result;
    }
    if (!parser.positionalArguments().isEmpty())
        return mistake("unexpected argument '" + parser.positionalArguments().first() + "'");

    StartOptions start;
    if (parser.isSet(port)) {
        const QString text = parser.value(port);
        start.port = PortNumber(text);
        if (!start.port)
            return mistake("--port takes a port number from 1 to 4, not '" + text + "'");
    }
    start.connect = parser.isSet(connect);
    start.usb = parser.isSet(usb);
    if (start.connect && start.usb)
        return mistake("--connect and --usb cannot be used together: the window has one link at a time");
    if (parser.isSet(dir)) {
        start.dir = parser.value(dir);
        if (start.dir.isEmpty())
            return mistake("--dir takes a folder");
    }
    start.noSettings = parser.isSet(noSettings);
    result.start = start;
    return result;
}
