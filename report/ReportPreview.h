#pragma once
// The report's preview window: the pages, a way through them, zoom, and the
// commands to print the report or save it as a PDF file. Printing and saving
// run a print job from the event loop behind a progress box that can stop it;
// meanwhile the pages can be looked through, but a second print waits.
//
// The window does not block: it is shown, and the program goes on handling
// readings while it is open. A command that fails is shown by the general
// error report the preview is given, the window's own, so a failure here and
// one of the window never stack their boxes.
#include <QWidget>

#include <memory>

class ErrorReport;
class IDialogs;
class QAction;
class QLabel;
class QProgressDialog;
class QSpinBox;
class QToolBar;
class ReadingReport;
class ReadingTable;
class ReportPageView;
class ReportPrintJob;

class ReportPreview : public QWidget {
    Q_OBJECT
public:
    ReportPreview(std::shared_ptr<const ReadingReport> report, IDialogs& dialogs, ErrorReport& errors,
                  QWidget* parent = nullptr);
    ~ReportPreview() override;

    // Makes the report of the table as it is now and shows it in a new preview
    // window over `parent` that goes away when closed.
    static ReportPreview* open(ReadingTable& table, IDialogs& dialogs, ErrorReport& errors, QWidget* parent);

    const ReadingReport& report() const { return *report_; }
    ReportPageView* pageView() const { return view_; }
    // The print or save under way, with its progress box; null when none.
    ReportPrintJob* job() const { return job_; }
    QProgressDialog* progressBox() const { return progress_; }

    // The commands of the tool bar.
    void print();
    void saveAsPdf();

private:
    void startJob(ReportPrintJob* job, const QString& what);
    void jobFinished(int outcome, const QString& error);
    void showCurrentPage(int page);
    void setBusy(bool busy);

    std::shared_ptr<const ReadingReport> report_;
    IDialogs& dialogs_;
    ErrorReport& errors_;
    ReportPageView* view_;
    QToolBar* tools_;
    QToolBar* closeTools_;  // Close alone
    QAction* print_;
    QAction* savePdf_;
    QSpinBox* pageBox_;
    QLabel* pageTotal_;
    ReportPrintJob* job_ = nullptr;
    QProgressDialog* progress_ = nullptr;
};
