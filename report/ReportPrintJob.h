#pragma once
// Prints pages of a report onto a printer or into a PDF file, a slice of pages
// at a time from the event loop, so that the program goes on handling
// readings while a long report prints. It can be cancelled between pages.
//
// A PDF file is written to a temporary file beside its target and takes the
// target's place only when every page is in it: a cancelled or failed save
// leaves whatever file was there before.
#include <QObject>
#include <QString>

#include <memory>
#include <vector>

class QPagedPaintDevice;
class QPainter;
class QPdfWriter;
class QPrinter;
class QSaveFile;
class ReadingReport;

class ReportPrintJob : public QObject {
    Q_OBJECT
public:
    enum class Outcome { Done,
                         Cancelled,
                         Failed };

    // Pages are numbered from 0 and printed in the order given.
    static ReportPrintJob* toPrinter(std::shared_ptr<const ReadingReport> report, std::unique_ptr<QPrinter> printer,
                                     std::vector<int> pages, QObject* parent = nullptr);
    static ReportPrintJob* toPdfFile(std::shared_ptr<const ReadingReport> report, const QString& path,
                                     std::vector<int> pages, QObject* parent = nullptr);
    // Every page once, in order.
    static std::vector<int> allPages(int pageCount);
    // The pages a printer set up by the print dialog asks for: its page range
    // (every page when none is set), each page or the whole run repeated for
    // the copies the printer does not make itself, in the printer's page order.
    static std::vector<int> pagesFor(const QPrinter& printer, int pageCount);

    ~ReportPrintJob() override;  // an unfinished job is cancelled

    // Starts printing from the event loop; finished() follows.
    void start();
    // Stops after the page being drawn; finished(Cancelled) follows.
    void cancel();

    int pageTotal() const { return int(pages_.size()); }
    int pagesDone() const { return done_; }
    bool isRunning() const { return running_; }

    // Upper bound of the pages drawn in one turn of the event loop (a turn also
    // ends after about 30 ms).
    void setPagesPerTurn(int n) { pagesPerTurn_ = n > 0 ? n : 1; }

signals:
    void progress(int pagesDone, int pageTotal);
    // `error` says what went wrong when the outcome is Failed.
    void finished(ReportPrintJob::Outcome outcome, const QString& error);

private:
    ReportPrintJob(std::shared_ptr<const ReadingReport> report, std::vector<int> pages, QObject* parent);
    void turn();
    bool begin();
    void finish(Outcome outcome, const QString& error = {});

    std::shared_ptr<const ReadingReport> report_;
    std::vector<int> pages_;
    std::unique_ptr<QPrinter> printer_;
    std::unique_ptr<QSaveFile> file_;
    std::unique_ptr<QPdfWriter> pdf_;
    QPagedPaintDevice* device_ = nullptr;
    std::unique_ptr<QPainter> painter_;
    QString target_;
    int done_ = 0;
    int pagesPerTurn_ = 1 << 30;
    bool running_ = false;
    bool cancelRequested_ = false;
};
