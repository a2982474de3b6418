#pragma once
// A scrolling column of report pages that draws only the pages in view, each
// time it paints. Opening a report of any length costs the same: no page is
// laid out before it is seen, and none is kept after.
#include <QAbstractScrollArea>

#include <memory>
#include <vector>

class ReadingReport;

class ReportPageView : public QAbstractScrollArea {
    Q_OBJECT
public:
    enum class Fit { None,
                     Width,
                     WholePage };

    explicit ReportPageView(std::shared_ptr<const ReadingReport> report, QWidget* parent = nullptr);

    int pageCount() const;
    // The page in view (from 0); -1 without pages.
    int currentPage() const { return current_; }
    // Scrolls page `page` (from 0) to the top of the view.
    void showPage(int page);

    // Size of the pages against their size on paper (1 = true size on screen).
    double zoom() const;
    void setZoom(double zoom);
    Fit fit() const { return fit_; }
    void setFit(Fit fit);

    // The pages drawn by the last paint, in order.
    const std::vector<int>& lastPaintedPages() const { return painted_; }

    static constexpr double kMinZoom = 0.1;
    static constexpr double kMaxZoom = 4.0;

signals:
    void currentPageChanged(int page);

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;

private:
    double trueSizePixelsPerMm() const;
    double pixelsPerMm() const;
    QSize pageSize() const;
    int pitch() const;
    int pageLeft() const;
    void relayout();
    void setCurrent(int page);

    std::shared_ptr<const ReadingReport> report_;
    Fit fit_ = Fit::Width;
    double zoom_ = 1.0;  // used while fit_ is None
    int current_ = -1;
    bool showing_ = false;  // a scroll made by showPage
    std::vector<int> painted_;
};
