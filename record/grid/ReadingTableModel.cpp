#include "record/grid/ReadingTableModel.h"

namespace {

constexpr std::array<const char*, ReadingTableModel::kColumns> kNames = {"No", "Time", "DC/AC", "Value", "Unit", "AUTO"};
constexpr std::array<Qt::Alignment::Int, ReadingTableModel::kColumns> kAlign = {
    Qt::AlignLeft | Qt::AlignVCenter,
    Qt::AlignHCenter | Qt::AlignVCenter,
    Qt::AlignHCenter | Qt::AlignVCenter,
    Qt::AlignRight | Qt::AlignVCenter,
    Qt::AlignRight | Qt::AlignVCenter,
    Qt::AlignLeft | Qt::AlignVCenter,
};

// Whether a record number's text needs more room than another's: digits are
// all as wide as each other, a minus sign is narrower.
bool Wider(const std::string& a, const std::string& b)
{
    if (a.size() != b.size())
        return a.size() > b.size();
    return !a.empty() && a[0] != '-' && b[0] == '-';
}

}  // namespace

ReadingTableModel::ReadingTableModel(ReadingTable& table, QObject* parent) : QAbstractTableModel(parent),
                                                                             table_(&table)
{
    resolveColumns();
    findLongestRecordNumber();
    table_->addObserver(this);
}

ReadingTableModel::~ReadingTableModel()
{
    if (table_)
        table_->removeObserver(this);
}

void ReadingTableModel::resolveColumns()
{
    for (int c = 0; c < kColumns; ++c) {
        fieldOf_[size_t(c)] = tableOpen() ? table_->fieldIndex(kNames[size_t(c)]) : -1;
        titles_[size_t(c)] = fieldOf_[size_t(c)] >= 0 ? QString::fromLatin1(table_->fieldName(fieldOf_[size_t(c)]))
                                                      : QString::fromLatin1(kNames[size_t(c)]);
    }
}

void ReadingTableModel::findLongestRecordNumber()
{
    longestNo_.clear();
    if (!tableOpen() || fieldOf_[0] < 0)
        return;
    for (size_t row = 0, rows = table_->recordCount(); row < rows; ++row) {
        std::string text = table_->cellText(row, fieldOf_[0]);
        if (Wider(text, longestNo_))
            longestNo_ = std::move(text);
    }
}

int ReadingTableModel::rowCount(const QModelIndex& parent) const
{
    if (parent.isValid() || !tableOpen())
        return 0;
    return int(table_->recordCount());
}

int ReadingTableModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : kColumns;
}

QVariant ReadingTableModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || !tableOpen() || index.column() >= kColumns)
        return {};
    const size_t c = size_t(index.column());
    if (role == Qt::TextAlignmentRole)
        return QVariant::fromValue(kAlign[c]);
    if (role != Qt::DisplayRole)
        return {};
    if (fieldOf_[c] < 0)
        return QString();
    return QString::fromLatin1(table_->cellText(size_t(index.row()), fieldOf_[c]));
}

QVariant ReadingTableModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || section < 0 || section >= kColumns)
        return QAbstractTableModel::headerData(section, orientation, role);
    if (role == Qt::DisplayRole)
        return titles_[size_t(section)];
    if (role == Qt::TextAlignmentRole)
        return QVariant::fromValue(kAlign[size_t(section)]);
    return {};
}

Qt::ItemFlags ReadingTableModel::flags(const QModelIndex& index) const
{
    if (!index.isValid())
        return Qt::NoItemFlags;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable;
}

void ReadingTableModel::setCurrentRow(int row)
{
    if (changing_ || row < 0 || !tableOpen() || size_t(row) >= table_->recordCount())
        return;
    if (table_->currentRecord() != row)
        table_->setCurrentRecord(size_t(row));
}

void ReadingTableModel::tableAboutToReset()
{
    changing_ = true;
    beginResetModel();
}

void ReadingTableModel::tableReset()
{
    resolveColumns();
    findLongestRecordNumber();
    endResetModel();
    changing_ = false;
}

void ReadingTableModel::rowAboutToBeAppended(size_t row)
{
    changing_ = true;
    beginInsertRows(QModelIndex(), int(row), int(row));
}

void ReadingTableModel::rowAppended(size_t row)
{
    endInsertRows();
    changing_ = false;
    if (fieldOf_[0] < 0)
        return;
    std::string number = table_->cellText(row, fieldOf_[0]);
    if (Wider(number, longestNo_)) {
        longestNo_ = std::move(number);
        emit longestRecordNumberChanged(longestRecordNumber());
    }
}

void ReadingTableModel::rowAboutToBeRemoved(size_t row)
{
    changing_ = true;
    beginRemoveRows(QModelIndex(), int(row), int(row));
}

void ReadingTableModel::rowRemoved(size_t)
{
    endRemoveRows();
    changing_ = false;
}

void ReadingTableModel::currentRecordChanged()
{
    if (currentPending_)
        return;
    currentPending_ = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            currentPending_ = false;
            emit currentRowChanged(tableOpen() ? int(table_->currentRecord()) : -1);
        },
        Qt::QueuedConnection);
}

void ReadingTableModel::tableDestroyed()
{
    beginResetModel();
    table_ = nullptr;
    longestNo_.clear();
    endResetModel();
}
