#pragma once
// The printed list of the reading log: A4 portrait pages with 10 mm margins,
// each carrying a title, the column captions, as many record lines as fit and
// a footer, every text in the LCD font at 10 points.
//
// Any page can be drawn on its own, in any order and as often as wanted, so a
// preview lays out only the pages it shows and a printout of a million records
// never holds more than the page it is drawing.
#include "record/ReadingTable.h"

#include <QFont>
#include <QPageLayout>
#include <QString>

#include <array>
#include <optional>

class QPainter;

// The records a report lists: those the table held when the report was made.
// Records appended later are not listed. Before a change that would alter the
// listed records (a delete, New, closing the table, opening another file, the
// table going away) the listed records are copied, so the report goes on
// listing what it began with; until then it reads them from the table.
class ReportRecords : private ReadingTableObserver {
public:
    static constexpr int kColumns = 6;  // No, Time, DC/AC, Value, Unit, AUTO

    // A closed table gives no records.
    explicit ReportRecords(ReadingTable& table);
    ~ReportRecords() override;
    ReportRecords(const ReportRecords&) = delete;
    ReportRecords& operator=(const ReportRecords&) = delete;

    size_t size() const { return count_; }
    // The text form of a printed column; empty for a field the table lacks.
    QString text(size_t row, int column) const;
    // True once the records have been copied away from the table.
    bool isCopy() const { return copy_.has_value(); }

private:
    void keepCopy();
    void tableAboutToReset() override { keepCopy(); }
    void rowAboutToBeRemoved(size_t row) override;
    void tableDestroyed() override;

    ReadingTable* table_;
    size_t count_ = 0;
    std::array<int, kColumns> fieldOf_{};
    std::optional<RecordsCopy> copy_;
};

class ReadingReport {
public:
    // Band geometry in millimetres, from the top-left corner of the area
    // inside the margins.
    static constexpr double kMargin = 10.0;
    static constexpr double kPaperWidth = 210.0;
    static constexpr double kPaperHeight = 297.0;
    static constexpr double kAreaHeight = kPaperHeight - 2 * kMargin;
    static constexpr double kBandWidth = 189.97;
    static constexpr double kHeaderHeight = 10.58;  // page header, column header, page footer
    static constexpr double kDetailHeight = 6.61;
    static constexpr double kTitleTop = 2.12;
    static constexpr double kTitleWidth = 35.45;
    static constexpr double kTitleHeight = 5.03;
    static constexpr double kCaptionTop = 4.23;  // column captions and the footer text
    static constexpr double kDetailTop = 2.12;
    static constexpr double kTextHeight = 4.23;
    static constexpr double kFooterLeft = 8.47;
    static constexpr std::array<double, ReportRecords::kColumns> kCaptionLeft = {8.47, 33.87, 64.29, 99.48, 132.29, 162.98};
    static constexpr std::array<double, ReportRecords::kColumns> kDetailLeft = {8.47, 33.87, 65.62, 99.48, 131.23, 162.98};
    static constexpr int kLinesPerPage = int((kAreaHeight - 3 * kHeaderHeight) / kDetailHeight);

    static const char* const kTitle;
    static const char* const kFooter;
    static const std::array<const char*, ReportRecords::kColumns> kCaptions;

    // Making a report walks the table as a printout of it does: a record
    // still being appended is posted, and the table ends on the last record
    // listed. The records listed are those the table holds now.
    explicit ReadingReport(ReadingTable& table);

    // A4 portrait with 10 mm margins.
    static QPageLayout pageLayout();
    // The LCD font, 10 points.
    static QFont font();

    const ReportRecords& records() const { return records_; }
    // No records, no pages.
    int pageCount() const;

    // Draws page `page` (from 0). The painter's origin is the top-left corner
    // of the area inside the margins, and the resolution of its device gives
    // the scale; a page on paper is drawn 1:1. Draws nothing for a page that
    // does not exist.
    void drawPage(QPainter& painter, int page) const;

private:
    ReportRecords records_;
};
