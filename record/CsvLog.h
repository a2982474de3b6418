#pragma once
// Log to CSV file: while on, every record posted to the log table (each
// reading the recorder writes) is also appended, as a line of CsvFormat, to
// "quelt-YYYY-MM-DD.csv" in the chosen folder, the local date of the reading:
// a new file starts at midnight, and a file of that day already there is
// appended to (its header is written only when the file is new). Records that
// leave the log (New, a deletion) stay in the file, and records brought back
// by the journal's replay are not written again: the file is the record of
// the readings as they were taken.
//
// The lines go to the files through DailyCsvFiles: in batches, synced from a
// helper thread; a write that fails keeps its lines for the next batch, and
// the user is told once, and again only after a write had worked in between.
#include "record/CsvExport.h"
#include "record/ReadingTable.h"

#include "record/DailyCsvFiles.h"

#include <QString>

#include <functional>
#include <memory>
#include <string>

class DiskSync;

class CsvLog final : private ReadingTableObserver {
public:
    explicit CsvLog(ReadingTable& table);
    ~CsvLog() override;
    CsvLog(const CsvLog&) = delete;
    CsvLog& operator=(const CsvLog&) = delete;

    // The folder offered the first time: $XDG_DATA_HOME/quelt/logs.
    static QString defaultFolder();
    // The name of the day's file for a local date "YYYY-MM-DD".
    static std::string fileName(const std::string& date) { return DailyCsvFiles::fileName(date); }

    // Starts logging into `folder` (in place of the folder logged into, if
    // any), made with its parents if missing. Throws, with the text the user
    // sees, when it cannot be made or written; logging then stays as it was.
    void start(const std::string& folder);
    // Writes what has gathered and stops.
    void stop();
    bool isOn() const { return files_ != nullptr; }
    // The folder logged into, or last logged into.
    const std::string& folder() const { return folder_; }

    // What the program keeps of the file log from run to run: the one place
    // for settings to read and restore.
    struct Settings {
        bool on = false;
        std::string folder;
    };
    Settings settings() const { return {isOn(), folder_}; }
    // Takes kept settings: the folder is the one offered next, and logging
    // starts there when it was on. Throws as start() does; the folder is
    // still the one offered.
    void restore(const Settings& s);

    // Writes the lines gathered so far (the timer does it on its own).
    void flush();
    // Lines not yet in a file.
    size_t pendingBytes() const;

    // Told what the user must know: a write that failed, a log table that
    // cannot be written as CSV. Called from the timer, or from inside a table
    // operation (the receiver should show it later, not at once).
    std::function<void(const QString&)> onNotice;

private:
    void rowAppended(size_t row) override;
    void tableAboutToReset() override { lines_.reset(); }
    void tableDestroyed() override;

    void notice(const QString& text);

    ReadingTable* table_;
    std::string folder_;
    std::unique_ptr<TableCsvLines> lines_;  // of the table's fields as they stand
    bool toldTable_ = false;                // the table's fields were found wanting
    std::string line_;                      // the line being made
    std::unique_ptr<DailyCsvFiles> files_;  // while on
};
