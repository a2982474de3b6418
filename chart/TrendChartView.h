#pragma once
// Draws the trend chart with Qt Charts and keeps the chart's toolbar in step
// with it. The chart's state and rules live in TrendChart; this widget is
// given only the points of the range it shows (a page, or a zoomed part of
// it): the points themselves while they are fewer than the plot's pixel
// columns, else each column's band from its minimum to its maximum, drawn
// solid. It draws a command's result on the
// next turn of the event loop, and new readings at most five times a second
// however many arrive in between.
//
// It lies in its host panel (the chart with its toolbar) under the toolbar's
// controls and follows the host's size.
#include <QChartView>
#include <QElapsedTimer>
#include <QTimer>

#include <cstdint>
#include <optional>

#include "chart/TrendChart.h"
#include "chart/PageNumberBox.h"

class ChartAreaStrips;
class ChartGridLines;
class QAction;
class QGraphicsItem;
class QAreaSeries;
class QCheckBox;
class QLabel;
class QLineSeries;
class QToolButton;
class QValueAxis;

// The controls of the chart's toolbar and menu that show its state.
struct TrendChartControls {
    QCheckBox* BtFill = nullptr;
    QAction* Fill1 = nullptr;  // the menu item "Fill"
    QToolButton* BtFirst = nullptr;
    QToolButton* BTPrevious = nullptr;
    QToolButton* BtNext = nullptr;
    QToolButton* BTlast = nullptr;
    QToolButton* Bt10 = nullptr;  // the page number
    QLabel* TbFd = nullptr;       // "Graphic Enlarge"
    QLabel* TbSx = nullptr;       // "Graphic Restore"
};

class TrendChartView final : public QChartView {
    Q_OBJECT
public:
    TrendChartView(TrendChart& chart, QWidget* host, TrendChartControls controls);
    ~TrendChartView() override;

    // --- the commands, each on the chart and then on the controls ---
    void Add(int32_t value);
    void New();
    void btFillClick();
    void FillClick();
    void First();
    void Previous();
    void Next();
    void Last();
    void setPointsPerPage(int32_t points);
    void setLeftAxis(double maximum, double minimum);
    // Enlarges the chart over the window, or puts it back where it was; the
    // window's outer size is W × H.
    void TbFdClick(int W, int H);
    // Draws the chart, on white, into a picture of its current size and writes
    // it as a BMP file at path, replacing a file there; throws with the reason
    // when the file cannot be written.
    void SavePicture(const QString& path);

    // Draws what changed at once rather than later.
    void refresh();
    void cacheStraightLines();
    static void cacheStraightLines(QGraphicsItem* item);
    // The axes' grid lines are drawn together, as one picture copied from
    // then on, rather than each line as an item of its own; false (for
    // tests) leaves them to the chart's own items.
    void setGridLinesInOnePicture(bool together);
    // The area under the readings is drawn strip by strip, each strip from
    // the part of its outline that crosses it; false (for tests) leaves it to
    // the chart's own item, which draws all of it for every strip.
    void setAreaDrawnInStrips(bool inStrips);

    // Draws the readings added since the last drawing if their drawing is
    // due: called once a delivery of readings is all in, it joins the chart's
    // painting to theirs.
    void refreshIfDue();

    // The shortest time between two drawings for new readings, less at most
    // kEarlyRefreshMs for readings that come with the meter's own pace (a
    // delivery every 100 ms draws the chart at every other one).
    static constexpr int kReadingRefreshMs = 200;
    static constexpr int kEarlyRefreshMs = 50;

    // The two series (for tests).
    QAreaSeries* Series2() const { return series2_; }
    QLineSeries* Series1() const { return series1_; }
    QAreaSeries* band() const { return band_; }
    QValueAxis* horizontalAxis() const { return axisX_; }
    QValueAxis* verticalAxis() const { return axisY_; }
    bool zoomed() const { return zoomed_; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    // A paging command: the chart moves, then the toolbar and the picture follow.
    void Page(void (TrendChart::*move)());
    void showControls();
    void scheduleRefresh();
    void scheduleReadingRefresh();
    void setAxes(double xMin, double xMax, double yMin, double yMax);
    void setMargins();
    // What the plot shows, to tell a refresh that only adds to the right end
    // of the series from one that changes more.
    struct PlotState {
        double xMin = 0, xMax = 0, yMin = 0, yMax = 0, xStep = 0, yStep = 0;
        bool area = false, line = false, band = false;
        QRectF plotArea;
        QList<QPointF> points[4];  // areaUpper_, series1_, bandUpper_, bandLower_
        bool operator==(const PlotState&) const = default;
    };
    PlotState plotState() const;
    static PlotState Frame(PlotState state);  // all but the points
    // The part of the view that changed between `before` and now when only
    // the series' right ends did; none when more changed.
    std::optional<QRect> changedStrip(const PlotState& before, const PlotState& now) const;

    TrendChart& model_;
    QWidget* host_;
    TrendChartControls controls_;
    PageNumberBox pageNumber_;
    QChart* chart_;
    QLineSeries* areaUpper_;
    QAreaSeries* series2_;
    QLineSeries* series1_;
    // A reduced range: each column's band from its minimum to its maximum in
    // the shown series' line colour, over the area filled under the maxima
    // when the area is shown.
    QLineSeries* bandUpper_;
    QLineSeries* bandLower_;
    QAreaSeries* band_;
    QValueAxis* axisX_;
    QValueAxis* axisY_;
    ChartGridLines* gridLines_ = nullptr;  // an item of the chart's, or none where its grid was not found
    ChartAreaStrips* areaStrips_ = nullptr;  // the same for the area
    QTimer refreshTimer_;
    QElapsedTimer lastRefresh_;
    bool settingAxes_ = false;
    bool refreshDue_ = false;  // readings wait for refreshIfDue or the timer
    // Between a refresh that paints a strip and the scene's handling of it:
    // the view's own update mode, and the plot the last strip showed.
    bool stripPending_ = false;
    ViewportUpdateMode normalUpdateMode_ = MinimalViewportUpdate;
    PlotState stripShown_;
    PlotState cachedFrame_;  // the plot, without its points, when its straight lines were last cached
    // A zoom by dragging holds until the user drags back, right-clicks, or the page changes.
    bool zoomed_ = false;
    int64_t shownPage_ = 0;
    int32_t shownPointsPerPage_ = 0;
    // The chart's place before it was enlarged.
    QRect normalGeometry_;
};
