// Chart widget: series list, axes and their ticks, zoom, mapping and mouse handling.
#include "tchart.h"

#include "tchart_layer.h"

#include <QChart>
#include <QGraphicsLayout>
#include <QLineSeries>
#include <QMouseEvent>
#include <QRubberBand>
#include <QValueAxis>
#include <algorithm>
#include <cmath>
#include <limits>

namespace {

// Data beyond this magnitude is not scaled into view (it would make the axes meaningless).
constexpr double kMaxRange = 1e100;
// Pixel positions handed out as integers stay within this bound, so that squared
// distances of two of them still fit into 32 bits.
constexpr double kMaxPixel = 30000.0;
// Drags shorter than this are clicks, not rubber-band zooms.
constexpr int kMinDrag = 4;

const QColor kTextColor(0x20, 0x20, 0x20);
const QColor kAxisColor(0x50, 0x50, 0x50);
const QColor kGridColor(0xE4, 0xE4, 0xE4);

// The pixel that contains position v: pixel c covers [c, c + 1), as for mouse positions.
int ToPixel(double v) {
    if (!std::isfinite(v)) return int(-kMaxPixel);
    return int(std::floor(std::clamp(v, -kMaxPixel, kMaxPixel)));
}

// A "nice" tick step (1, 2 or 5 times a power of ten) giving about `target` intervals.
double NiceStep(double span, double target) {
    const double raw = span / std::max(target, 1.0);
    const double mag = std::pow(10.0, std::floor(std::log10(raw)));
    const double norm = raw / mag;
    const double nice = norm <= 1.0 ? 1.0 : norm <= 2.0 ? 2.0 : norm <= 5.0 ? 5.0 : 10.0;
    return nice * mag;
}

// Sets dynamic ticks on a nice step for an axis `lengthPx` long, one tick per `pxPerTick`.
void ConfigureTicks(QValueAxis* axis, double lengthPx, double pxPerTick) {
    const double lo = axis->min();
    const double hi = axis->max();
    const double span = hi - lo;
    if (!(span > 0) || !std::isfinite(span)) {
        axis->setTickType(QValueAxis::TicksFixed);
        axis->setTickCount(2);
        axis->setLabelFormat(QStringLiteral("%g"));
        return;
    }
    const double step = NiceStep(span, lengthPx / pxPerTick);
    if (!(step > 0) || !std::isfinite(step)) return;
    const double anchor = std::ceil(lo / step) * step;
    const double magnitude = std::max(std::fabs(lo), std::fabs(hi));
    QString format;
    if (magnitude >= 1e9 || step < 1e-9) {
        format = QStringLiteral("%.6g");
    } else {
        const int decimals = step >= 1.0 ? 0 : int(std::ceil(-std::log10(step) - 1e-9));
        format = QStringLiteral("%.%1f").arg(decimals);
    }
    axis->setTickType(QValueAxis::TicksDynamic);
    axis->setTickAnchor(anchor);
    axis->setTickInterval(step);
    axis->setLabelFormat(format);
}

void StyleAxis(QValueAxis* axis, const QFont& font) {
    axis->setLabelsFont(font);
    axis->setLabelsColor(kTextColor);
    axis->setLinePen(QPen(kAxisColor, 1));
    axis->setGridLinePen(QPen(kGridColor, 1));
    axis->setMinorGridLineVisible(false);
    axis->setShadesVisible(false);
    QFont titleFont = font;
    titleFont.setBold(true);
    axis->setTitleFont(titleFont);
    axis->setTitleBrush(kTextColor);
}

} // namespace

TChart::TChart(QWidget* parent) : QChartView(parent) {
    setFrameShape(QFrame::NoFrame);
    setRenderHint(QPainter::Antialiasing, false);
    setRenderHint(QPainter::TextAntialiasing, true);
    setRubberBand(QChartView::RectangleRubberBand);
    setMouseTracking(true);
    viewport()->setMouseTracking(true);

    QChart* c = chart();
    c->setAnimationOptions(QChart::NoAnimation);
    c->setDropShadowEnabled(false);
    c->setBackgroundRoundness(0);
    c->setBackgroundBrush(palette().color(QPalette::Base));
    c->setBackgroundPen(Qt::NoPen);
    c->setPlotAreaBackgroundVisible(false);
    c->setMargins(QMargins(4, 4, 12, 2));
    c->layout()->setContentsMargins(0, 0, 0, 0);
    c->legend()->hide();

    QFont labelFont = font();
    labelFont.setPointSizeF(8);
    QFont titleFont = font();
    titleFont.setPointSizeF(9);
    titleFont.setBold(true);
    c->setTitleFont(titleFont);
    c->setTitleBrush(kTextColor);

    axisX_ = new QValueAxis(c);
    axisY_ = new QValueAxis(c);
    StyleAxis(axisX_, labelFont);
    StyleAxis(axisY_, labelFont);
    c->addAxis(axisX_, Qt::AlignBottom);
    c->addAxis(axisY_, Qt::AlignLeft);
    anchor_ = new QLineSeries(c);
    c->addSeries(anchor_);
    anchor_->attachAxis(axisX_);
    anchor_->attachAxis(axisY_);

    layer_ = new TChartLayer(this);
    layer_->setParentItem(c);
    // Above the grid and the axis lines (so the baseline covers the x axis), below the
    // chart's legend and top-most items.
    layer_->setZValue(4.5);

    connect(axisX_, &QValueAxis::rangeChanged, this, &TChart::OnRangeChanged);
    connect(axisY_, &QValueAxis::rangeChanged, this, &TChart::OnRangeChanged);
    connect(c, &QChart::plotAreaChanged, this, [this] { layer_->PlotAreaChanged(); });
    connect(c, &QGraphicsWidget::geometryChanged, this, &TChart::UpdateTicks);

    SetNumberLocale(QLocale::system());
    ApplyFullRanges();
}

TChart::~TChart() {
    const std::vector<TLineSeries*> series = series_;
    series_.clear();
    for (TLineSeries* s : series) {
        s->chart_ = nullptr;
        delete s;
    }
}

void TChart::AddSeries(TLineSeries* series) {
    if (!series || series->chart_ == this) return;
    if (series->chart_) series->chart_->RemoveSeries(series);
    series_.push_back(series);
    series->chart_ = this;
    DataChanged();
}

void TChart::RemoveSeries(TLineSeries* series) {
    const auto it = std::find(series_.begin(), series_.end(), series);
    if (it == series_.end()) return;
    series_.erase(it);
    series->chart_ = nullptr;
    DataChanged();
}

TLineSeries* TChart::Series(int index) const {
    if (index < 0 || index >= SeriesCount()) return nullptr;
    return series_[size_t(index)];
}

void TChart::SetTitle(const QString& text) {
    title_ = text;
    ApplyTitle();
}

void TChart::SetTitleVisible(bool visible) {
    titleVisible_ = visible;
    ApplyTitle();
}

void TChart::ApplyTitle() {
    chart()->setTitle(titleVisible_ ? title_ : QString());
}

void TChart::SetLegendVisible(bool visible) {
    legendVisible_ = visible;
    Repaint();
}

void TChart::SetNumberLocale(const QLocale& locale) {
    numberLocale_ = locale;
    QLocale shown = locale;
    shown.setNumberOptions(shown.numberOptions() | QLocale::OmitGroupSeparator);
    chart()->setLocale(shown);
    chart()->setLocalizeNumbers(true);
}

void TChart::DataChanged() {
    rangesDirty_ = true;
    if (!syncQueued_) {
        // Many points are usually added in a row: rescale once, after the last of them.
        syncQueued_ = true;
        QMetaObject::invokeMethod(
            this,
            [this] {
                syncQueued_ = false;
                SyncRanges();
            },
            Qt::QueuedConnection);
    }
    Repaint();
}

void TChart::Repaint() {
    layer_->update();
}

void TChart::SyncRanges() const {
    if (rangesDirty_) {
        rangesDirty_ = false;
        if (!zoomed_) const_cast<TChart*>(this)->ApplyFullRanges();
    }
    // A range or title change relays the chart out on the next event; mapping needs it now.
    chart()->layout()->activate();
}

void TChart::ApplyFullRanges() {
    double xMin = std::numeric_limits<double>::infinity();
    double xMax = -xMin;
    double yMin = 0.0;
    double yMax = 0.0;
    for (const TLineSeries* s : series_) {
        if (!s->Active()) continue;
        for (const TLineSeries::Point& p : s->points_) {
            if (std::isfinite(p.x) && std::fabs(p.x) <= kMaxRange) {
                xMin = std::min(xMin, p.x);
                xMax = std::max(xMax, p.x);
            }
            if (std::isfinite(p.y) && std::fabs(p.y) <= kMaxRange) {
                yMin = std::min(yMin, p.y);
                yMax = std::max(yMax, p.y);
            }
        }
    }
    if (xMin > xMax) {
        xMin = 0.0;
        xMax = 1.0;
    } else {
        const double span = xMax - xMin;
        const double margin = span > 0 ? span * 0.05 : std::max(1.0, std::fabs(xMin) * 1e-3);
        xMin -= margin;
        xMax += margin;
    }
    if (yMax <= yMin) {
        yMax = yMin + 1.0;
    } else {
        const double margin = (yMax - yMin) * 0.05;
        yMax += margin;
        if (yMin < 0) yMin -= margin;
    }
    SetRanges(xMin, xMax, yMin, yMax);
}

void TChart::SetRanges(double xMin, double xMax, double yMin, double yMax) {
    settingRanges_ = true;
    ApplyRanges(xMin, xMax, yMin, yMax);
    settingRanges_ = false;
    Repaint();
}

void TChart::HoldTicks() {
    // A dynamic tick step chosen for the old range, applied to a range orders of magnitude
    // wider, would make Qt lay out millions of ticks: two fixed ticks until the new step is
    // computed for the new ranges.
    for (QValueAxis* axis : {axisX_, axisY_}) {
        axis->setTickType(QValueAxis::TicksFixed);
        axis->setTickCount(2);
    }
}

void TChart::ApplyRanges(double xMin, double xMax, double yMin, double yMax) {
    holdingTicks_ = true;
    HoldTicks();
    axisX_->setRange(xMin, xMax);
    axisY_->setRange(yMin, yMax);
    holdingTicks_ = false;
    UpdateTicks();
}

void TChart::OnRangeChanged() {
    // Any change not made by the chart's own scaling is a zoom (menu or rubber band).
    if (!settingRanges_) zoomed_ = true;
    if (holdingTicks_) return;
    UpdateTicks();
    Repaint();
}

void TChart::UpdateTicks() {
    const QSizeF size = chart()->size();
    // Estimated from the chart's size, not the plot area, so that label widths cannot feed
    // back into the tick choice.
    ConfigureTicks(axisX_, std::max(40.0, size.width() - 60.0), 75.0);
    ConfigureTicks(axisY_, std::max(30.0, size.height() - 50.0), 40.0);
}

void TChart::ZoomPercent(double percent) {
    if (!std::isfinite(percent) || !(percent > 0)) return;
    SyncRanges();
    const double f = 100.0 / percent;
    const double x0 = axisX_->min(), x1 = axisX_->max();
    const double y0 = axisY_->min(), y1 = axisY_->max();
    const double cx = (x0 + x1) / 2, hx = (x1 - x0) / 2 * f;
    double ny0, ny1;
    if (y0 == 0.0) { // baseline at the bottom: keep it there
        ny0 = 0.0;
        ny1 = (y1 - y0) * f;
    } else {
        const double cy = (y0 + y1) / 2, hy = (y1 - y0) / 2 * f;
        ny0 = cy - hy;
        ny1 = cy + hy;
    }
    const double nx0 = cx - hx, nx1 = cx + hx;
    // Refuse zooms that would leave no distinguishable values or absurd ranges.
    auto usable = [](double lo, double hi) {
        const double span = hi - lo;
        const double mag = std::max(std::fabs(lo), std::fabs(hi));
        return std::isfinite(span) && span > 0 && span > mag * 1e-12 && mag <= kMaxRange;
    };
    if (!usable(nx0, nx1) || !usable(ny0, ny1)) return;

    // Set the ranges directly (not through a pixel rectangle) so that they are exact and a
    // view starting at 0 keeps starting at exactly 0.
    ApplyRanges(nx0, nx1, ny0, ny1);
    zoomed_ = true;
    Repaint();
}

void TChart::UndoZoom() {
    settingRanges_ = true;
    holdingTicks_ = true;
    HoldTicks();
    chart()->zoomReset();
    holdingTicks_ = false;
    settingRanges_ = false;
    zoomed_ = false;
    rangesDirty_ = false;
    ApplyFullRanges();
}

QPointF TChart::ChartToPixel(const QPointF& p) const {
    const QPointF scene = chart()->mapToScene(p);
    return viewportTransform().map(scene) + QPointF(viewport()->pos());
}

QPointF TChart::PixelToChart(const QPointF& p) const {
    const QPointF inViewport = p - QPointF(viewport()->pos());
    const QPointF scene = viewportTransform().inverted().map(inViewport);
    return chart()->mapFromScene(scene);
}

QPointF TChart::ValueToPixel(const QPointF& value) const {
    SyncRanges();
    return ChartToPixel(chart()->mapToPosition(value, anchor_));
}

QPointF TChart::PixelToValue(const QPointF& pixel) const {
    SyncRanges();
    return chart()->mapToValue(PixelToChart(pixel), anchor_);
}

int TChart::CalcXPosValue(double x) const {
    if (!std::isfinite(x)) return ToPixel(x);
    return ToPixel(ValueToPixel(QPointF(x, axisY_->min())).x());
}

int TChart::CalcYPosValue(double y) const {
    if (!std::isfinite(y)) return ToPixel(y);
    return ToPixel(ValueToPixel(QPointF(axisX_->min(), y)).y());
}

QRectF TChart::ChartRect() const {
    SyncRanges();
    const QRectF plot = chart()->plotArea();
    return QRectF(ChartToPixel(plot.topLeft()), ChartToPixel(plot.bottomRight()));
}

void TChart::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) {
        pressPos_ = event->position().toPoint();
        leftPressed_ = true;
    }
    QChartView::mousePressEvent(event);
}

void TChart::mouseMoveEvent(QMouseEvent* event) {
    const QPointF pixel = event->position() + QPointF(viewport()->pos());
    emit MouseMove(event->modifiers(), int(std::floor(pixel.x())), int(std::floor(pixel.y())));
    QChartView::mouseMoveEvent(event);
}

void TChart::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::RightButton) {
        // The right button opens the context menu; it must not zoom out as well.
        QGraphicsView::mouseReleaseEvent(event);
        return;
    }
    if (event->button() == Qt::LeftButton && leftPressed_) {
        leftPressed_ = false;
        const QPoint d = event->position().toPoint() - pressPos_;
        const bool click = std::abs(d.x()) < kMinDrag && std::abs(d.y()) < kMinDrag;
        const bool backwards = !click && d.x() < 0;
        if (click || backwards) {
            // A click zooms nothing; a drag to the left undoes the zoom.
            for (QRubberBand* band : findChildren<QRubberBand*>())
                band->hide();
            QGraphicsView::mouseReleaseEvent(event);
            if (backwards) UndoZoom();
            return;
        }
    }
    QChartView::mouseReleaseEvent(event);
}

void TChart::resizeEvent(QResizeEvent* event) {
    QChartView::resizeEvent(event);
    UpdateTicks();
}
