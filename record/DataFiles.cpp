#include "record/DataFiles.h"

#include "platform/Dialogs.h"
#include "record/paradox/ParadoxTable.h"
#include "record/ReadingLog.h"
#include "record/ReadingTable.h"
#include "record/paradox/ReplacingFile.h"

#include <QFile>
#include <QFileInfo>

#include <array>

const QString DataFiles::kSaveFilter =
    QStringLiteral("Excel File(*.xls)|*.xls|DB File(*.db)|*.db|Txt File(*.txt)|*.txt|All File(*.*)|*.*");
const QString DataFiles::kSaveDefaultExt = QStringLiteral("xls");
const QString DataFiles::kOpenFilter = QStringLiteral("access data files (*.DB)|*.DB|All files (*.*)|*.*");

void ExportTableText(ReadingTable& table, const std::string& path)
{
    static constexpr std::array<const char*, 6> kColumns = {"No", "Time", "DC/AC", "Value", "Unit", "AUTO"};
    table.first();
    std::array<int, kColumns.size()> column{};
    for (size_t i = 0; i < kColumns.size(); ++i) {
        column[i] = table.fieldIndex(kColumns[i]);
        if (column[i] < 0)
            throw paradox::ParadoxError(std::string("Field '") + kColumns[i] + "' not found");
    }
    const size_t records = table.recordCount();
    if (records > 0)
        table.setCurrentRecord(records - 1);  // the walk ends on the last record

    ReplacingFile out(path);
    std::string buf;
    constexpr size_t kChunk = 1 << 20;
    buf.reserve(kChunk + 4096);
    buf += "No\tTime\tDC/AC\tValue\tUnit\tAUTO\r\n";
    for (size_t row = 0; row < records; ++row) {
        for (size_t i = 0; i < column.size(); ++i) {
            if (i)
                buf += '\t';
            buf += table.cellText(row, column[i]);
        }
        buf += "\r\n";
        if (buf.size() >= kChunk) {
            out.write(buf.data(), buf.size());
            buf.clear();
        }
    }
    out.write(buf.data(), buf.size());
    out.commit();
}

void CopyTableToFile(ReadingTable& source, const std::string& path)
{
    source.copyTo(path);
}

bool DataFiles::IsTableCopyName(const QString& path)
{
    const QString name = path.mid(path.lastIndexOf('/') + 1);
    const int dot = name.lastIndexOf('.');
    return dot >= 0 && name.mid(dot) == QLatin1String(".db");
}

void DataFiles::Save()
{
    const std::optional<QString> chosen = dialogs_.saveFileName(kSaveFilter, kSaveDefaultExt, saveFolder);
    if (!chosen || chosen->isEmpty())
        return;
    Choose(saveFolder, *chosen);
    const std::string path = QFile::encodeName(*chosen).toStdString();
    if (IsTableCopyName(*chosen)) {
        CopyTableToFile(table_, path);
        return;
    }
    try {
        ExportTableText(table_, path);
    } catch (const FileWriteError& e) {
        dialogs_.showMessage("Could not save table to specified file: " + *chosen + "\n" + QString::fromLocal8Bit(e.what()));
        return;
    }
    dialogs_.showMessage("save table to specified file: " + *chosen + " Scuss!");
}

void DataFiles::OpenOld()
{
    const std::optional<QString> chosen = dialogs_.openFileName(kOpenFilter, openFolder);
    if (!chosen || chosen->isEmpty())
        return;
    Choose(openFolder, *chosen);
    log_.open(QFile::encodeName(*chosen).toStdString());
}

void DataFiles::Choose(QString& folder, const QString& file)
{
    const QString chosen = QFileInfo(file).absolutePath();
    if (chosen == folder)
        return;
    folder = chosen;
    if (onFolderChosen)
        onFolderChosen();
}
