#include "record/ReadingLog.h"

#include "record/ReadingTable.h"

#include <exception>

void ReadingLog::open(const std::string& name)
{
    try {
        table_.switchTo(name, [this] {
            if (onDiscardPending)
                onDiscardPending();
        });
    } catch (const std::exception& e) {
        // A log that is open stays the log. One that is closed stays closed,
        // now for this reason; the user has just been told of it, so the
        // notice for readings is not given again.
        if (!table_.isOpen()) {
            file_ = name;
            try {
                file_ = ReadingTable::pathFor(name);
            } catch (const std::exception&) {
            }
            openFailure_ = e.what();
        }
        throw;
    }
    file_ = table_.filePath();  // the file the name stood for as it was opened
    openFailure_.clear();
    told_ = false;
}

void ReadingLog::close(Pending pending)
{
    if (pending == Pending::Discard && table_.isOpen() && onDiscardPending)
        onDiscardPending();
    table_.close();
}

bool ReadingLog::isOpen() const
{
    return table_.isOpen();
}

std::optional<std::string> ReadingLog::unloggedNotice(const std::string& reason)
{
    if (told_)
        return std::nullopt;
    told_ = true;
    std::string text = "Readings are not being logged: ";
    if (!table_.isOpen()) {
        text += "the log table " + (file_.empty() ? std::string(kDefaultName) : file_) + " is not open.\n\n" + (openFailure_.empty() ? reason : openFailure_);
    } else {
        text += "the table " + table_.filePath() + " cannot take them.\n\n" + reason;
    }
    text += "\n\nOpen a log table with \"Open old data files\" to log the readings that follow.";
    return text;
}
