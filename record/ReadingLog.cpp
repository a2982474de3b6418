#include "record/ReadingLog.h"

#include "record/ReadingTable.h"

#include <exception>

void ReadingLog::Open(const std::string& name)
{
    const bool wasOpen = table_.isOpen();
    table_.close();
    file_ = name;
    try {
        file_ = ReadingTable::pathFor(name);  // as the working folder stands now
        table_.setTableName(name);
        table_.open();
    } catch (const std::exception& e) {
        openFailure_ = e.what();
        // A log that was working and is lost now is told about again; a
        // further failed open of a log already lost was just reported.
        if (wasOpen)
            told_ = false;
        throw;
    }
    openFailure_.clear();
    told_ = false;
}

void ReadingLog::Close()
{
    table_.close();
}

bool ReadingLog::IsOpen() const
{
    return table_.isOpen();
}

std::optional<std::string> ReadingLog::UnloggedNotice(const std::string& reason)
{
    if (told_)
        return std::nullopt;
    told_ = true;
    std::string text = "Readings are not being logged: ";
    if (!table_.isOpen()) {
        text += "the log table " + (file_.empty() ? std::string(kDefaultName) : file_) + " is not open.\n\n"
                + (openFailure_.empty() ? reason : openFailure_);
    } else {
        text += "the table " + table_.filePath() + " cannot take them.\n\n" + reason;
    }
    text += "\n\nOpen a log table with \"Open old data files\" to log the readings that follow.";
    return text;
}
