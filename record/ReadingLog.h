#pragma once
// The reading log as a file: which table is the log, opening and closing it,
// and what the user is told when readings cannot be logged. Every open and
// close of the log goes through here.
#include <functional>
#include <optional>
#include <string>

class ReadingTable;

class ReadingLog {
public:
    // The log the program opens at start-up: "Queltdb.DB" of the working folder.
    static constexpr const char* kDefaultName = "Queltdb";

    explicit ReadingLog(ReadingTable& table) : table_(table) {}

    // Told just before the user's choice gives up the log's pending records:
    // another table opened as the log, or the program ended by the user.
    std::function<void()> onDiscardPending;

    // Opens the named table, exclusively, as the log in place of the one
    // open, whose pending records are discarded. A failure is thrown on with
    // the table's own text and leaves the log as it was, its pending records
    // included (or closed, when it was).
    void open(const std::string& name);

    enum class Pending {
        Discard,  // the user ends the program: the records go for good
        Keep,     // the program is ended from outside: whatever keeps them may
    };
    // Closes the log; its pending records leave the table.
    void close(Pending pending);
    bool isOpen() const;

    // The message for a reading the recorder could not write (`reason` as it
    // got it): given for the first such reading after the log was opened or
    // lost, nothing for the ones after it.
    std::optional<std::string> unloggedNotice(const std::string& reason);

private:
    ReadingTable& table_;
    std::string file_;         // the file of the table last asked for
    std::string openFailure_;  // why it could not be opened
    bool told_ = false;
};
