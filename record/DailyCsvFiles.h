#pragma once
// CSV lines appended to daily files in one folder: "quelt-YYYY-MM-DD.csv",
// the local date of each line's reading, so a new file starts at midnight and a
// file of that day already there is appended to (its header, CsvFormat's, is
// written only when the file is new).
//
// Lines gather in memory and go to the file together, at most half a second
// after the first of them, so a line costs no system call; a helper thread
// calls fdatasync soon after a write and then at most once a second. A write
// that fails (the folder gone, the disk full, no rights) keeps its lines for
// the next batch, which tries again; onFailure is told once, and again only
// after a write had worked in between. The window's file log (CsvLog) and
// quelt-log --csv DIR both write through it.
#include "platform/UniqueFd.h"

#include <QTimer>

#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

class DiskSync;

class DailyCsvFiles {
public:
    // Writes into `folder`, made with its parents if missing. Throws, with the
    // text the user sees, when it cannot be made or written.
    explicit DailyCsvFiles(std::string folder);
    // Writes what has gathered, syncs it and closes (see stop()).
    ~DailyCsvFiles();
    DailyCsvFiles(const DailyCsvFiles&) = delete;
    DailyCsvFiles& operator=(const DailyCsvFiles&) = delete;

    // The name of the day's file for a local date "YYYY-MM-DD".
    static std::string fileName(std::string_view date) { return "quelt-" + std::string(date) + ".csv"; }

    const std::string& folder() const { return folder_; }

    // The lines waiting for the file of `date` ("YYYY-MM-DD"): append whole
    // lines with their CRLF, then call added().
    std::string& linesFor(std::string_view date);
    // Lines were appended: written at once when many have gathered, else soon.
    void added();
    // One dated line (CsvFormat's, its timestamp first): to the file of the
    // date the timestamp begins with.
    void addDatedLine(std::string_view line)
    {
        linesFor(line.substr(0, 10)) += line;
        added();
    }

    // Writes the lines gathered so far (the timer does it on its own).
    void flush();
    // Writes what has gathered, closes the file and waits for its last sync.
    // Returns the bytes of lines that could not be written (and are dropped).
    size_t stop();
    // Lines not yet in a file.
    size_t pendingBytes() const;

    // A write failed: the file's path and the error number.
    std::function<void(const std::string& path, int error)> onFailure;

private:
    struct Batch {
        std::string date;
        std::string lines;
    };

    int write(const std::string& path, const Batch& b);
    void closeFile();

    std::string folder_;
    std::deque<Batch> pending_;  // oldest first; one per day
    UniqueFd fd_;                // the file of fdDate_
    std::string fdDate_;
    std::unique_ptr<DiskSync> syncer_;
    bool failing_ = false;  // the last write failed, and onFailure was told
    bool stopped_ = false;
    static constexpr int kFlushMs = 500;
    static constexpr size_t kFlushBytes = 64 * 1024;
    QTimer flushTimer_;
};
