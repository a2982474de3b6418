#pragma once
// Export CSV: the whole open log as a CSV file (the columns of CsvFormat), and
// the lines of the log's records that the file log writes too.
#include "record/CsvFormat.h"

#include <QString>

#include <array>
#include <functional>
#include <string>

class IDialogs;
class ReadingTable;

// The CSV lines of a table's records, read through the store by row: no walk,
// the current record stays where it is. Takes the table's fields as they are
// when made; a table without one of No, Time, DC/AC, Value, Unit, AUTO throws
// "Field '...' not found".
class TableCsvLines {
public:
    explicit TableCsvLines(const ReadingTable& table);
    // Appends the line of the record at `row`, with its CRLF.
    void append(std::string& out, size_t row);

private:
    const ReadingTable& table_;
    std::array<int, 6> column_{};
    CsvTimestamps stamps_;
};

// Writes every record of the table, pending ones included, with the header
// line, as a new file at `path` (replacing one there only once the new one is
// complete). A file that cannot be written throws FileWriteError and leaves
// what stood at the path; the table is not changed in any way.
void exportTableCsv(const ReadingTable& table, const std::string& path);

class CsvExport {
public:
    CsvExport(ReadingTable& table, IDialogs& dialogs) : table_(table),
                                                        dialogs_(dialogs) {}

    static const QString kFilter;
    static const QString kDefaultExt;

    // Asks for a file name and writes the log there; tells how it went.
    void ExportCsv();

    // The folder the dialog opens in (empty: the working folder); it becomes
    // the folder of the file chosen.
    QString folder;
    // Told when it changed.
    std::function<void()> onFolderChosen;

private:
    ReadingTable& table_;
    IDialogs& dialogs_;
};
