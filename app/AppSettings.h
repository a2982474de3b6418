#pragma once
// What the program keeps from run to run: the choices of the window's menus
// and boxes, in an INI file. Each value is read back only if the window would
// take it as typed or chosen; the window applies the values through its own
// handlers (TFCOMM::ApplySettings) and tells this store each change.
#include <QString>
#include <QVariant>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

class QSettings;

// A port number as the window's ports are numbered, "1" to "4" (no sign);
// empty for anything else. For the kept port and for --port alike.
std::optional<int> PortNumber(const QString& text);

// The values found in the file; a value the file lacks, or holds in a form
// the window would not take, is empty.
struct KeptValues {
    std::optional<int> port;             // 1..4
    std::optional<int32_t> recordLimit;  // one of the Record menu's limits, or kLimitless
    std::optional<QString> samplingInterval;
    std::optional<bool> samplingOn;
    std::optional<bool> repeat;
    std::optional<QString> setMax, setMin;
    std::optional<bool> setMaxOn, setMinOn;
    std::optional<QString> pointsPerPage;
    std::optional<bool> fill;
    std::optional<bool> csvLogOn;
    std::optional<QString> csvLogFolder;
    // The folders of the last Save, Export CSV and Open old data files.
    std::optional<QString> saveFolder, exportFolder, openFolder;
};

class AppSettings {
public:
    // The keys of the file, "group/name".
    static constexpr const char* kPort = "serial/port";
    static constexpr const char* kRecordLimit = "record/limit";
    static constexpr const char* kSamplingInterval = "record/interval";
    static constexpr const char* kSamplingOn = "record/intervalOn";
    static constexpr const char* kRepeat = "record/repeat";
    static constexpr const char* kSetMax = "limits/max";
    static constexpr const char* kSetMaxOn = "limits/maxOn";
    static constexpr const char* kSetMin = "limits/min";
    static constexpr const char* kSetMinOn = "limits/minOn";
    static constexpr const char* kPointsPerPage = "chart/pointsPerPage";
    static constexpr const char* kFill = "chart/fill";
    static constexpr const char* kCsvLogOn = "csvLog/on";
    static constexpr const char* kCsvLogFolder = "csvLog/folder";
    static constexpr const char* kSaveFolder = "folders/save";
    static constexpr const char* kExportFolder = "folders/export";
    static constexpr const char* kOpenFolder = "folders/open";

    // $XDG_CONFIG_HOME/quelt/quelt.conf (~/.config/quelt/quelt.conf).
    static QString defaultPath();

    // `warn` gets one line for each value that is ignored or write that fails.
    AppSettings(const QString& path, std::function<void(const QString&)> warn);
    ~AppSettings();
    AppSettings(const AppSettings&) = delete;
    AppSettings& operator=(const AppSettings&) = delete;

    const QString& path() const { return path_; }

    // Every value of the file; each one ignored is told to `warn`.
    KeptValues read() const;

    // Stores one value when it differs from the file's and writes the file at
    // once (QSettings replaces it through a temporary file), so a crash later
    // keeps it.
    void set(const char* key, const QVariant& value);

    // Whether a text is one the box would hold and its handler take.
    static bool isLimitText(const QString& text);
    static bool isCountText(const QString& text);

private:
    QString path_;
    std::unique_ptr<QSettings> file_;
    std::function<void(const QString&)> warn_;
    bool writeFailed_ = false;  // told once
};
