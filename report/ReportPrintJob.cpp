#include "report/ReportPrintJob.h"

#include "report/ReadingReport.h"

#include <QElapsedTimer>
#include <QPageRanges>
#include <QPainter>
#include <QPdfWriter>
#include <QPrinter>
#include <QSaveFile>
#include <QTimer>

#include <algorithm>
#include <exception>
#include <numeric>

namespace {

// A turn of the event loop ends after this much drawing, so readings wait no
// longer than this while a report prints.
constexpr qint64 kTurnMs = 30;

}  // namespace

ReportPrintJob::ReportPrintJob(std::shared_ptr<const ReadingReport> report, std::vector<int> pages, QObject* parent)
    : QObject(parent),
      report_(std::move(report)),
      pages_(std::move(pages))
{
}

ReportPrintJob* ReportPrintJob::toPrinter(std::shared_ptr<const ReadingReport> report, std::unique_ptr<QPrinter> printer,
                                          std::vector<int> pages, QObject* parent)
{
    auto* job = new ReportPrintJob(std::move(report), std::move(pages), parent);
    job->printer_ = std::move(printer);
    job->device_ = job->printer_.get();
    return job;
}

std::vector<int> ReportPrintJob::allPages(int pageCount)
{
    std::vector<int> pages(size_t(std::max(0, pageCount)));
    std::iota(pages.begin(), pages.end(), 0);
    return pages;
}

ReportPrintJob* ReportPrintJob::toPdfFile(std::shared_ptr<const ReadingReport> report, const QString& path,
                                          std::vector<int> pages, QObject* parent)
{
    auto* job = new ReportPrintJob(std::move(report), std::move(pages), parent);
    job->target_ = path;
    job->file_ = std::make_unique<QSaveFile>(path);
    job->pdf_ = std::make_unique<QPdfWriter>(job->file_.get());
    job->pdf_->setPageLayout(ReadingReport::pageLayout());
    job->pdf_->setTitle(QString::fromLatin1(ReadingReport::kTitle));
    job->device_ = job->pdf_.get();
    return job;
}

std::vector<int> ReportPrintJob::pagesFor(const QPrinter& printer, int pageCount)
{
    std::vector<int> run;
    const QPageRanges ranges = printer.pageRanges();
    if (printer.printRange() == QPrinter::PageRange && !ranges.isEmpty()) {
        for (const QPageRanges::Range& r : ranges.toRangeList())
            for (int p = std::max(1, r.from); p <= std::min(pageCount, r.to); ++p)
                run.push_back(p - 1);
    } else {
        run = allPages(pageCount);
    }
    if (printer.pageOrder() == QPrinter::LastPageFirst)
        std::reverse(run.begin(), run.end());
    const int copies = printer.supportsMultipleCopies() ? 1 : std::max(1, printer.copyCount());
    std::vector<int> pages;
    pages.reserve(run.size() * size_t(copies));
    if (printer.collateCopies()) {
        for (int c = 0; c < copies; ++c)
            pages.insert(pages.end(), run.begin(), run.end());
    } else {
        for (int p : run)
            pages.insert(pages.end(), size_t(copies), p);
    }
    return pages;
}

ReportPrintJob::~ReportPrintJob()
{
    if (running_ || (painter_ && painter_->isActive())) {
        // Quietly: whoever listens may be going away too.
        blockSignals(true);
        finish(Outcome::Cancelled);
    }
}

void ReportPrintJob::start()
{
    if (running_)
        return;
    running_ = true;
    QTimer::singleShot(0, this, &ReportPrintJob::turn);
}

void ReportPrintJob::cancel()
{
    if (running_)
        cancelRequested_ = true;
}

bool ReportPrintJob::begin()
{
    if (file_ && !file_->open(QIODevice::WriteOnly)) {
        finish(Outcome::Failed, QStringLiteral("Could not save the report to %1: %2").arg(target_, file_->errorString()));
        return false;
    }
    painter_ = std::make_unique<QPainter>();
    if (!painter_->begin(device_)) {
        finish(Outcome::Failed, file_ ? QStringLiteral("Could not save the report to %1").arg(target_)
                                      : QStringLiteral("Could not print the report: the printer cannot be used"));
        return false;
    }
    return true;
}

void ReportPrintJob::turn()
{
    if (!running_)
        return;
    if (cancelRequested_) {
        finish(Outcome::Cancelled);
        return;
    }
    const int total = pageTotal();
    if (total == 0) {
        finish(Outcome::Done);
        return;
    }
    if (!painter_ && !begin())
        return;
    QElapsedTimer clock;
    clock.start();
    try {
        for (int n = 0; done_ < total && n < pagesPerTurn_ && (n == 0 || clock.elapsed() < kTurnMs); ++n) {
            if (done_ > 0 && !device_->newPage()) {
                finish(Outcome::Failed, QStringLiteral("Could not print the report: the printer refused page %1").arg(done_ + 1));
                return;
            }
            report_->drawPage(*painter_, pages_[size_t(done_)]);
            ++done_;
        }
    } catch (const std::exception& e) {
        finish(Outcome::Failed, QString::fromLocal8Bit(e.what()));
        return;
    }
    if (done_ == total) {
        finish(Outcome::Done);
        return;
    }
    QTimer::singleShot(0, this, &ReportPrintJob::turn);
    emit progress(done_, total);
}

void ReportPrintJob::finish(Outcome outcome, const QString& error)
{
    running_ = false;
    QString why = error;
    if (painter_ && painter_->isActive()) {
        if (outcome != Outcome::Done && printer_)
            printer_->abort();
        painter_->end();
    }
    painter_.reset();
    if (file_) {
        if (outcome == Outcome::Done && file_->isOpen() && !file_->commit()) {
            outcome = Outcome::Failed;
            why = QStringLiteral("Could not save the report to %1: %2").arg(target_, file_->errorString());
        }
        // An uncommitted file takes its temporary file with it.
        pdf_.reset();
        file_.reset();
    }
    if (outcome == Outcome::Done)
        emit progress(done_, pageTotal());
    emit finished(outcome, why);
}
