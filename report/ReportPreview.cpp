#include "report/ReportPreview.h"

#include "platform/Dialogs.h"
#include "platform/ErrorReport.h"
#include "report/ReadingReport.h"
#include "report/ReportPageView.h"
#include "report/ReportPrintJob.h"

#include <QAction>
#include <QGuiApplication>
#include <QLabel>
#include <QPrinter>
#include <QProgressDialog>
#include <QScreen>
#include <QSpinBox>
#include <QToolBar>
#include <QHBoxLayout>
#include <QVBoxLayout>

ReportPreview::ReportPreview(std::shared_ptr<const ReadingReport> report, IDialogs& dialogs, ErrorReport& errors,
                             QWidget* parent)
    : QWidget(parent, Qt::Window),
      report_(std::move(report)),
      dialogs_(dialogs),
      errors_(errors)
{
    setWindowTitle(tr("Print Preview"));
    view_ = new ReportPageView(report_, this);
    tools_ = new QToolBar(this);
    tools_->setToolButtonStyle(Qt::ToolButtonTextOnly);

    auto add = [this](const char* name, const QString& text, const QKeySequence& key, auto slot) {
        QAction* a = tools_->addAction(text);
        a->setObjectName(QString::fromLatin1(name));
        a->setShortcut(key);
        connect(a, &QAction::triggered, this, [this, slot] { errors_.Guard(slot); });
        return a;
    };
    const bool pages = report_->pageCount() > 0;
    print_ = add("print", tr("Print..."), QKeySequence::Print, [this] { print(); });
    savePdf_ = add("savePdf", tr("Save as PDF..."), QKeySequence::Save, [this] { saveAsPdf(); });
    tools_->addSeparator();
    add("firstPage", tr("First"), QKeySequence(Qt::CTRL | Qt::Key_Home), [this] { view_->showPage(0); });
    add("previousPage", tr("Previous"), QKeySequence(), [this] { view_->showPage(view_->currentPage() - 1); });
    pageBox_ = new QSpinBox(this);
    pageBox_->setRange(pages ? 1 : 0, std::max(report_->pageCount(), 0));
    pageBox_->setEnabled(pages);
    pageBox_->setKeyboardTracking(false);
    pageBox_->setAccelerated(true);
    tools_->addWidget(pageBox_);
    pageTotal_ = new QLabel(tr(" of %1 ").arg(report_->pageCount()), this);
    tools_->addWidget(pageTotal_);
    add("nextPage", tr("Next"), QKeySequence(), [this] { view_->showPage(view_->currentPage() + 1); });
    add("lastPage", tr("Last"), QKeySequence(Qt::CTRL | Qt::Key_End), [this] { view_->showPage(view_->pageCount() - 1); });
    tools_->addSeparator();
    add("zoomIn", tr("Zoom in"), QKeySequence::ZoomIn, [this] { view_->setZoom(view_->zoom() * 1.25); });
    add("zoomOut", tr("Zoom out"), QKeySequence::ZoomOut, [this] { view_->setZoom(view_->zoom() / 1.25); });
    add("fitWidth", tr("Fit width"), QKeySequence(), [this] { view_->setFit(ReportPageView::Fit::Width); });
    add("wholePage", tr("Whole page"), QKeySequence(), [this] { view_->setFit(ReportPageView::Fit::WholePage); });
    // Close has a tool bar of its own at the right end, so that it stays in
    // sight however wide the page number and count grow; the other commands
    // give way to the tool bar's overflow menu first.
    closeTools_ = new QToolBar(this);
    closeTools_->setObjectName(QStringLiteral("closeTools"));
    closeTools_->setToolButtonStyle(Qt::ToolButtonTextOnly);
    QAction* close = closeTools_->addAction(tr("Close"));
    close->setObjectName(QStringLiteral("close"));
    close->setShortcut(QKeySequence(Qt::Key_Escape));
    connect(close, &QAction::triggered, this, [this] { errors_.Guard([this] { this->close(); }); });

    connect(pageBox_, &QSpinBox::valueChanged, this, [this](int page) {
        if (page - 1 != view_->currentPage())
            view_->showPage(page - 1);
    });
    connect(view_, &ReportPageView::currentPageChanged, this, &ReportPreview::showCurrentPage);
    showCurrentPage(view_->currentPage());
    setBusy(false);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    auto* bar = new QHBoxLayout;
    bar->setContentsMargins(0, 0, 0, 0);
    bar->setSpacing(0);
    bar->addWidget(tools_, 1);
    bar->addWidget(closeTools_);
    layout->addLayout(bar);
    layout->addWidget(view_);

    // About a page wide, most of the screen high.
    QSize size(820, 1000);
    if (const QScreen* screen = parent ? parent->screen() : QGuiApplication::primaryScreen())
        size = size.boundedTo(screen->availableGeometry().size() * 9 / 10);
    resize(size);
}

ReportPreview::~ReportPreview()
{
    delete job_;  // an unfinished print stops here
}

ReportPreview* ReportPreview::open(ReadingTable& table, IDialogs& dialogs, ErrorReport& errors, QWidget* parent)
{
    auto* preview = new ReportPreview(std::make_shared<const ReadingReport>(table), dialogs, errors, parent);
    preview->setAttribute(Qt::WA_DeleteOnClose);
    // Like a dialog over the window: its commands wait while the preview is open.
    preview->setWindowModality(Qt::WindowModal);
    preview->show();
    return preview;
}

void ReportPreview::showCurrentPage(int page)
{
    const QSignalBlocker quiet(pageBox_);
    pageBox_->setValue(page + 1);
}

void ReportPreview::print()
{
    const int pages = report_->pageCount();
    if (job_ || pages == 0)
        return;
    auto printer = std::make_unique<QPrinter>(QPrinter::HighResolution);
    printer->setPageLayout(ReadingReport::pageLayout());
    printer->setCopyCount(1);
    printer->setDuplex(QPrinter::DuplexNone);
    printer->setPrintRange(QPrinter::AllPages);
    printer->setDocName(QString::fromLatin1(ReadingReport::kTitle));
    if (!dialogs_.setUpPrinter(*printer, pages))
        return;
    std::vector<int> run = ReportPrintJob::pagesFor(*printer, pages);
    if (run.empty())
        return;
    // Printing into a file goes the way of a saved PDF, which leaves no
    // half-written file behind.
    if (printer->outputFormat() == QPrinter::PdfFormat && !printer->outputFileName().isEmpty())
        startJob(ReportPrintJob::toPdfFile(report_, printer->outputFileName(), std::move(run), this), tr("Printing"));
    else
        startJob(ReportPrintJob::toPrinter(report_, std::move(printer), std::move(run), this), tr("Printing"));
}

void ReportPreview::saveAsPdf()
{
    if (job_ || report_->pageCount() == 0)
        return;
    const std::optional<QString> path = dialogs_.saveFileName(QStringLiteral("PDF files|*.pdf"), QStringLiteral("pdf"), QString());
    if (!path || path->isEmpty())
        return;
    startJob(ReportPrintJob::toPdfFile(report_, *path, ReportPrintJob::allPages(report_->pageCount()), this),
             tr("Saving"));
}

void ReportPreview::startJob(ReportPrintJob* job, const QString& what)
{
    job_ = job;
    // Not modal: a modal progress box runs the event loop from inside the job's
    // progress report. The print commands are switched off instead.
    progress_ = new QProgressDialog(tr("%1 %2 pages of the report...").arg(what).arg(job->pageTotal()), tr("Cancel"),
                                    0, job->pageTotal(), this);
    progress_->setWindowTitle(windowTitle());
    progress_->setMinimumDuration(500);
    progress_->setAutoClose(false);
    progress_->setAutoReset(false);
    connect(progress_, &QProgressDialog::canceled, job, &ReportPrintJob::cancel);
    connect(job, &ReportPrintJob::progress, progress_, &QProgressDialog::setValue);
    connect(job, &ReportPrintJob::finished, this,
            [this](ReportPrintJob::Outcome outcome, const QString& error) { jobFinished(int(outcome), error); });
    setBusy(true);
    job->start();
}

void ReportPreview::jobFinished(int outcome, const QString& error)
{
    if (job_)
        job_->deleteLater();
    job_ = nullptr;
    if (progress_)
        progress_->deleteLater();
    progress_ = nullptr;
    setBusy(false);
    if (ReportPrintJob::Outcome(outcome) == ReportPrintJob::Outcome::Failed)
        dialogs_.showMessage(error);
}

void ReportPreview::setBusy(bool busy)
{
    // One print at a time; the pages can still be looked through meanwhile.
    const bool pages = report_->pageCount() > 0;
    print_->setEnabled(pages && !busy);
    savePdf_->setEnabled(pages && !busy);
}
