#include "app/AppSettings.h"

#include <QDir>
#include <QSettings>
#include <QStandardPaths>
#include <QStringList>
#include <algorithm>
#include <iterator>

#include "display/LimitAlarm.h"
#include "meter/Convert.h"
#include "record/Recorder.h"

namespace {

// The record limits of the Record menu; the file names "limitless" by name.
constexpr int32_t kRecordLimits[] = {1000, 5000, 10000, 50000, 100000};

// Longer texts than a box of the window shows are not the user's.
constexpr int kMaxTextLength = 16;

bool AllAccepted(const QString& text, bool (*accepts)(QChar))
{
    for (const QChar c : text)
        if (!accepts(c))
            return false;
    return true;
}

bool IsDigit(QChar c) { return c >= '0' && c <= '9'; }

}  // namespace

std::optional<int> PortNumber(const QString& text)
{
    bool ok = false;
    const int n = text.toInt(&ok);
    if (!ok || n < 1 || n > 4 || text.startsWith('+'))
        return std::nullopt;
    return n;
}

QString AppSettings::defaultPath()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) + "/quelt/quelt.conf";
}

AppSettings::AppSettings(const QString& path, std::function<void(const QString&)> warn)
    : path_(path),
      file_(std::make_unique<QSettings>(path, QSettings::IniFormat)),
      warn_(std::move(warn))
{
    if (file_->status() == QSettings::FormatError)
        warn_(QString("the settings file %1 cannot be read; the program starts with its own settings").arg(path_));
}

AppSettings::~AppSettings() = default;

bool AppSettings::isLimitText(const QString& text)
{
    if (text.size() > kMaxTextLength || !AllAccepted(text, SetmaxKeyAccepts))
        return false;
    int32_t ignored = 0;
    return text.isEmpty() || text == "-" || text == "+" || TryStrToInt(text.toStdString(), ignored);
}

bool AppSettings::isCountText(const QString& text)
{
    int32_t ignored = 0;
    return text.size() <= kMaxTextLength && AllAccepted(text, IsDigit) && TryStrToInt(text.toStdString(), ignored);
}

KeptValues AppSettings::read() const
{
    KeptValues v;
    if (file_->status() == QSettings::FormatError)
        return v;
    const auto ignore = [this](const char* key, const QString& text) {
        warn_(QString("ignored the setting %1=%2 of %3: not a value the program takes").arg(key, text, path_));
    };
    // Every value is read as text: the file may hold anything.
    const auto text = [this](const char* key) -> std::optional<QString> {
        const QVariant value = file_->value(key);
        if (!value.isValid())
            return std::nullopt;
        return value.toString();
    };
    const auto flag = [&](const char* key, std::optional<bool>& out) {
        if (const auto t = text(key)) {
            if (*t == "true")
                out = true;
            else if (*t == "false")
                out = false;
            else
                ignore(key, *t);
        }
    };
    const auto checkedText = [&](const char* key, bool (*valid)(const QString&), std::optional<QString>& out) {
        if (const auto t = text(key)) {
            if (valid(*t))
                out = *t;
            else
                ignore(key, *t);
        }
    };
    const auto folder = [&](const char* key, std::optional<QString>& out) {
        if (const auto t = text(key)) {
            if (QDir::isAbsolutePath(*t))
                out = *t;
            else
                ignore(key, *t);
        }
    };

    if (const auto t = text(kPort)) {
        v.port = PortNumber(*t);
        if (!v.port)
            ignore(kPort, *t);
    }
    if (const auto t = text(kRecordLimit)) {
        bool ok = false;
        const int n = t->toInt(&ok);
        if (*t == "limitless")
            v.recordLimit = kLimitless;
        else if (ok && std::find(std::begin(kRecordLimits), std::end(kRecordLimits), n) != std::end(kRecordLimits))
            v.recordLimit = n;
        else
            ignore(kRecordLimit, *t);
    }
    checkedText(kSamplingInterval, isCountText, v.samplingInterval);
    flag(kSamplingOn, v.samplingOn);
    flag(kRepeat, v.repeat);
    checkedText(kSetMax, isLimitText, v.setMax);
    flag(kSetMaxOn, v.setMaxOn);
    checkedText(kSetMin, isLimitText, v.setMin);
    flag(kSetMinOn, v.setMinOn);
    checkedText(kPointsPerPage, isCountText, v.pointsPerPage);
    flag(kFill, v.fill);
    flag(kCsvLogOn, v.csvLogOn);
    folder(kCsvLogFolder, v.csvLogFolder);
    folder(kSaveFolder, v.saveFolder);
    folder(kExportFolder, v.exportFolder);
    folder(kOpenFolder, v.openFolder);
    return v;
}

void AppSettings::set(const char* key, const QVariant& value)
{
    // Stored as text, as read() reads it.
    const QString text = value.typeId() == QMetaType::Bool ? (value.toBool() ? "true" : "false") : value.toString();
    if (file_->value(key).toString() == text && file_->contains(key))
        return;
    file_->setValue(key, text);
    file_->sync();
    if (file_->status() != QSettings::NoError) {
        if (!writeFailed_)
            warn_(QString("the settings cannot be written to %1").arg(path_));
        writeFailed_ = true;
    } else {
        writeFailed_ = false;
    }
}
