#include "record/CsvExport.h"

#include "platform/Dialogs.h"
#include "record/ReadingTable.h"
#include "record/paradox/ParadoxTable.h"
#include "record/paradox/ReplacingFile.h"

#include <QFile>
#include <QFileInfo>

const QString CsvExport::kFilter = QStringLiteral("CSV File(*.csv)|*.csv");
const QString CsvExport::kDefaultExt = QStringLiteral("csv");

namespace {

constexpr std::array<const char*, 6> kFields = {"No", "Time", "DC/AC", "Value", "Unit", "AUTO"};

}  // namespace

TableCsvLines::TableCsvLines(const ReadingTable& table) : table_(table)
{
    for (size_t i = 0; i < kFields.size(); ++i) {
        column_[i] = table.fieldIndex(kFields[i]);
        if (column_[i] < 0)
            throw paradox::ParadoxError(std::string("Field '") + kFields[i] + "' not found");
    }
}

void TableCsvLines::append(std::string& out, size_t row)
{
    const std::string no = table_.cellText(row, column_[0]);
    const std::string time = table_.cellText(row, column_[1]);
    const std::string coupling = table_.cellText(row, column_[2]);
    const std::string value = table_.cellText(row, column_[3]);
    const std::string unit = table_.cellText(row, column_[4]);
    const std::string range = table_.cellText(row, column_[5]);
    CsvReading r;
    r.stamp = table_.recordStamp(row);
    r.no = no;
    r.time = time;
    r.display = value;
    r.unit = unit;
    r.coupling = coupling;
    r.range = range;
    appendCsvLine(out, r, stamps_);
}

void exportTableCsv(const ReadingTable& table, const std::string& path)
{
    TableCsvLines lines(table);
    const size_t records = table.recordCount();
    ReplacingFile out(path);
    std::string buf;
    constexpr size_t kChunk = 1 << 20;
    buf.reserve(kChunk + 4096);
    buf += csvHeader();
    for (size_t row = 0; row < records; ++row) {
        lines.append(buf, row);
        if (buf.size() >= kChunk) {
            out.write(buf.data(), buf.size());
            buf.clear();
        }
    }
    out.write(buf.data(), buf.size());
    out.commit();
}

void CsvExport::ExportCsv()
{
    const std::optional<QString> chosen = dialogs_.saveFileName(kFilter, kDefaultExt, folder);
    if (!chosen || chosen->isEmpty())
        return;
    if (const QString chosenFolder = QFileInfo(*chosen).absolutePath(); chosenFolder != folder) {
        folder = chosenFolder;
        if (onFolderChosen)
            onFolderChosen();
    }
    try {
        exportTableCsv(table_, QFile::encodeName(*chosen).toStdString());
    } catch (const FileWriteError& e) {
        dialogs_.showMessage("Could not export the log to " + *chosen + "\n" + QString::fromLocal8Bit(e.what()));
        return;
    }
    dialogs_.showMessage("The log was exported to " + *chosen + ".");
}
