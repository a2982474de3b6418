#include "record/CsvLog.h"

#include <QDate>
#include <QDir>
#include <QStandardPaths>

#include <cstring>
#include <exception>
#include <string_view>
#include <utility>

namespace {

QString Quoted(const std::string& path)
{
    return u'"' + QString::fromLocal8Bit(path.c_str()) + u'"';
}

}  // namespace

CsvLog::CsvLog(ReadingTable& table) : table_(&table)
{
    table_->addObserver(this);
}

CsvLog::~CsvLog()
{
    onNotice = nullptr;
    stop();
    if (table_)
        table_->removeObserver(this);
}

QString CsvLog::defaultFolder()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + "/quelt/logs";
}

void CsvLog::start(const std::string& folder)
{
    auto files = std::make_unique<DailyCsvFiles>(folder);  // throws: logging stays as it was
    files->onFailure = [this](const std::string& path, int error) {
        notice(QString("The CSV log cannot be written to %1: %2. The readings are still recorded in the log and its "
                       "journal; the CSV log tries again with the next lines and then writes the ones it missed.")
                   .arg(Quoted(path), QString::fromLocal8Bit(std::strerror(error))));
    };
    if (isOn())
        stop();
    folder_ = folder;
    toldTable_ = false;
    files_ = std::move(files);
}

void CsvLog::restore(const Settings& s)
{
    stop();
    folder_ = s.folder;
    if (s.on && !s.folder.empty())
        start(s.folder);
}

void CsvLog::stop()
{
    if (!files_)
        return;
    const size_t lost = files_->stop();
    files_.reset();
    if (lost > 0)
        notice(QString("The CSV log stopped with %1 bytes of lines that could not be written to %2; those readings "
                       "are in the log and its journal only.")
                   .arg(lost)
                   .arg(Quoted(folder_)));
}

void CsvLog::flush()
{
    if (files_)
        files_->flush();
}

size_t CsvLog::pendingBytes() const
{
    return files_ ? files_->pendingBytes() : 0;
}

void CsvLog::rowAppended(size_t row)
{
    if (!files_ || !table_)
        return;
    if (!lines_) {
        try {
            lines_ = std::make_unique<TableCsvLines>(*table_);
        } catch (const std::exception& e) {
            if (!toldTable_)
                notice(QString("The readings of the log table cannot be written to the CSV log: %1.").arg(e.what()));
            toldTable_ = true;
            return;
        }
    }
    // The line goes to the file of its own day; an undated one to the day at hand.
    const bool dated = table_->recordStamp(row) != ReadingTable::kUndated;
    if (dated) {
        line_.clear();
        lines_->append(line_, row);
        files_->addDatedLine(line_);
    } else {
        lines_->append(files_->linesFor(QDate::currentDate().toString(Qt::ISODate).toStdString()), row);
        files_->added();
    }
}

void CsvLog::tableDestroyed()
{
    lines_.reset();
    table_ = nullptr;
}

void CsvLog::notice(const QString& text)
{
    if (!text.isEmpty() && onNotice)
        onNotice(text);
}
