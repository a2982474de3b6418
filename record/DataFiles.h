#pragma once
// The log's data files: saving the log as tab-separated text or as a table
// copy, and making a table saved earlier the log.
#include <QString>
#include <functional>
#include <string>

class IDialogs;
class ReadingLog;
class ReadingTable;

// Writes the table as tab-separated text: the header line, then one line per
// record in table order (No, Time, DC/AC, Value, Unit, AUTO as their texts),
// 8-bit text with CRLF after every line. The walk leaves the current record
// on the last one. A file that cannot be written throws FileWriteError and
// leaves what stood at the path as it was; a table without one of the six
// fields throws "Field '...' not found" before the file is touched.
void ExportTableText(ReadingTable& table, const std::string& path);

// Writes the table with its pending records as a new Paradox table at path,
// replacing a table there: the same fields in the same order, no index.
void CopyTableToFile(ReadingTable& source, const std::string& path);

class DataFiles {
public:
    DataFiles(ReadingTable& table, ReadingLog& log, IDialogs& dialogs) : table_(table),
                                                                         log_(log),
                                                                         dialogs_(dialogs) {}

    // The save and open dialogs' filters and the save dialog's default extension.
    static const QString kSaveFilter;
    static const QString kSaveDefaultExt;
    static const QString kOpenFilter;

    // Save: asks for a file name; exactly ".db" gives a table copy, any other
    // name the text. The text tells how it went; a failed copy throws.
    void Save();
    // Open old data files: the chosen table, exactly as named, becomes the
    // log in place of the open one (whose pending records go). A failure
    // throws and leaves the log as it was.
    void OpenOld();

    // True when a name gets the table copy: its extension is exactly ".db".
    static bool IsTableCopyName(const QString& path);

    // The folders the save and open dialogs open in (empty: the working
    // folder); each becomes the folder of the file chosen in its dialog.
    QString saveFolder;
    QString openFolder;
    // Told when one of them changed.
    std::function<void()> onFolderChosen;

private:
    void Choose(QString& folder, const QString& file);

    ReadingTable& table_;
    ReadingLog& log_;
    IDialogs& dialogs_;
};
