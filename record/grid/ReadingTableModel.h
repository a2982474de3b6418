#pragma once
// The grid's view of the reading log: columns No, Time, DC/AC, Value, Unit,
// AUTO, found by name without regard to case (a field the table lacks gives
// an empty column), read only. Follows the table through its observer hooks,
// one inserted row per appended record. A closed (or destroyed) table shows
// no rows.
//
// The link to the table's current record runs both ways: the table's moves
// reach the grid through currentRowChanged, and the grid's moves reach the
// table through setCurrentRow.
#include "record/ReadingTable.h"

#include <QAbstractTableModel>

#include <array>
#include <string>

class ReadingTableModel : public QAbstractTableModel, private ReadingTableObserver {
    Q_OBJECT
public:
    explicit ReadingTableModel(ReadingTable& table, QObject* parent = nullptr);
    ~ReadingTableModel() override;

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

    static constexpr int kColumns = 6;

    // The grid moved its cursor to this row: it becomes the table's current
    // record. Moves that the view makes by itself while rows are being added or
    // removed are not the user's and are left to the table.
    void setCurrentRow(int row);

    // The text of a record number with the most characters in the table (the
    // grid fits its No column to it); empty while no record has one. Found
    // afresh when the table is reset, and checked for each new record.
    QString longestRecordNumber() const { return QString::fromLatin1(longestNo_); }

signals:
    // The table's current record moved to this row (-1: none). Sent once from
    // the event loop after any number of moves, so a walk over every record
    // costs the view one update.
    void currentRowChanged(int row);
    // A new record's number has more characters than any before it. After a
    // reset (New, another table opened) modelReset tells the same.
    void longestRecordNumberChanged(const QString& longest);

private:
    void tableAboutToReset() override;
    void tableReset() override;
    void rowAboutToBeAppended(size_t row) override;
    void rowAppended(size_t row) override;
    void rowAboutToBeRemoved(size_t row) override;
    void rowRemoved(size_t row) override;
    void currentRecordChanged() override;
    void tableDestroyed() override;
    void resolveColumns();
    void findLongestRecordNumber();
    bool tableOpen() const { return table_ && table_->isOpen(); }

    ReadingTable* table_;
    bool currentPending_ = false;
    bool changing_ = false;  // between a table change's two hooks
    std::array<int, kColumns> fieldOf_{};
    std::array<QString, kColumns> titles_;
    std::string longestNo_;
};
