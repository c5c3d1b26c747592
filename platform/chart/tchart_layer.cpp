// Painting of the line series: each segment in the colour of its end point, clipped to the
// plot area, then the point marks and the legend.
#include "tchart_layer.h"

#include "tchart.h"

#include <QChart>
#include <QFontMetricsF>
#include <QLineSeries>
#include <QPainter>
#include <cmath>

namespace {

// Lines on the edge of the plot area (the baseline on the x axis) stay fully visible.
constexpr qreal kClipMargin = 1.5;

bool Finite(const QPointF& p) {
    return std::isfinite(p.x()) && std::isfinite(p.y());
}

} // namespace

bool TChartClipSegment(QPointF& a, QPointF& b, const QRectF& rect) {
    const double dx = b.x() - a.x();
    const double dy = b.y() - a.y();
    if (!std::isfinite(dx) || !std::isfinite(dy)) return false;
    double t0 = 0.0;
    double t1 = 1.0;
    const double p[4] = {-dx, dx, -dy, dy};
    const double q[4] = {a.x() - rect.left(), rect.right() - a.x(), a.y() - rect.top(),
                         rect.bottom() - a.y()};
    for (int i = 0; i < 4; ++i) {
        if (p[i] == 0.0) {
            if (q[i] < 0.0) return false; // parallel to this edge and outside it
            continue;
        }
        const double r = q[i] / p[i];
        if (p[i] < 0.0) {
            if (r > t1) return false;
            if (r > t0) t0 = r;
        } else {
            if (r < t0) return false;
            if (r < t1) t1 = r;
        }
    }
    const QPointF start = a;
    if (t1 < 1.0) b = QPointF(start.x() + t1 * dx, start.y() + t1 * dy);
    if (t0 > 0.0) a = QPointF(start.x() + t0 * dx, start.y() + t0 * dy);
    return true;
}

TChartLayer::TChartLayer(TChart* chart) : chart_(chart) {
    setFlag(QGraphicsItem::ItemHasNoContents, false);
    setAcceptedMouseButtons(Qt::NoButton);
}

QRectF TChartLayer::boundingRect() const {
    return bounds_;
}

void TChartLayer::PlotAreaChanged() {
    const QRectF plot = chart_->chart()->plotArea();
    const QRectF bounds = plot.adjusted(-kClipMargin, -kClipMargin, kClipMargin, kClipMargin);
    if (bounds != bounds_) {
        prepareGeometryChange();
        bounds_ = bounds;
    }
    update();
}

void TChartLayer::paint(QPainter* painter, const QStyleOptionGraphicsItem*, QWidget*) {
    QChart* chart = chart_->chart();
    const QRectF plot = chart->plotArea();
    if (plot.width() <= 0 || plot.height() <= 0) return;
    const QRectF clip = plot.adjusted(-kClipMargin, -kClipMargin, kClipMargin, kClipMargin);

    painter->save();
    painter->setClipRect(clip, Qt::IntersectClip);
    // Sticks are drawn up and down again over the same pixels; without antialiasing the
    // second pass covers the first exactly and the stick shows only its end colour.
    painter->setRenderHint(QPainter::Antialiasing, false);

    for (TLineSeries* series : chart_->series_) {
        if (!series->Active()) continue;
        QPen pen;
        pen.setWidthF(series->PenWidth());
        pen.setCapStyle(Qt::FlatCap);
        pen.setJoinStyle(Qt::MiterJoin);
        QPointF prev;
        bool havePrev = false;
        const int n = series->Count();
        for (int i = 0; i < n; ++i) {
            const TLineSeries::Point& pt = series->points_[size_t(i)];
            QPointF pos(pt.x, pt.y);
            if (Finite(pos)) pos = chart->mapToPosition(pos, chart_->anchor_);
            if (!Finite(pos)) {
                havePrev = false; // a point that cannot be placed breaks the line
                continue;
            }
            if (havePrev) {
                QPointF a = prev;
                QPointF b = pos;
                if (TChartClipSegment(a, b, clip)) {
                    pen.setColor(pt.color.isValid() ? pt.color : series->SeriesColor());
                    painter->setPen(pen);
                    painter->drawLine(a, b);
                }
            }
            prev = pos;
            havePrev = true;
        }
    }

    // Marks: the point labels, above their points.
    QFont markFont = chart->font();
    markFont.setPointSizeF(7.5);
    const QFontMetricsF fm(markFont);
    painter->setFont(markFont);
    for (TLineSeries* series : chart_->series_) {
        if (!series->Active() || !series->MarksVisible()) continue;
        painter->setPen(series->SeriesColor());
        for (const TLineSeries::Point& pt : series->points_) {
            if (pt.label.isEmpty()) continue;
            QPointF pos(pt.x, pt.y);
            if (!Finite(pos)) continue;
            pos = chart->mapToPosition(pos, chart_->anchor_);
            if (!Finite(pos) || !clip.contains(pos)) continue;
            const qreal w = fm.horizontalAdvance(pt.label);
            painter->drawText(QPointF(pos.x() - w / 2, pos.y() - fm.descent() - 2), pt.label);
        }
    }

    if (chart_->LegendVisible()) PaintLegend(painter, plot);
    painter->restore();
}

void TChartLayer::PaintLegend(QPainter* painter, const QRectF& plot) {
    std::vector<TLineSeries*> entries;
    for (TLineSeries* series : chart_->series_)
        if (series->Active() && series->ShowInLegend() && !series->Title().isEmpty())
            entries.push_back(series);
    if (entries.empty()) return;

    QFont font = chart_->chart()->font();
    font.setPointSizeF(8);
    const QFontMetricsF fm(font);
    const qreal sample = 16;
    const qreal pad = 5;
    const qreal row = fm.height() + 2;
    qreal textWidth = 0;
    for (TLineSeries* s : entries)
        textWidth = std::max(textWidth, fm.horizontalAdvance(s->Title()));
    const QRectF box(plot.right() - (pad * 3 + sample + textWidth) - 4, plot.top() + 4,
                     pad * 3 + sample + textWidth, pad * 2 + row * qreal(entries.size()));

    painter->setFont(font);
    painter->setPen(QPen(QColor(0x80, 0x80, 0x80), 1));
    painter->setBrush(QColor(255, 255, 255, 230));
    painter->drawRect(box);
    painter->setBrush(Qt::NoBrush);
    qreal y = box.top() + pad;
    for (TLineSeries* s : entries) {
        const qreal mid = y + row / 2;
        painter->setPen(QPen(s->SeriesColor(), 2));
        painter->drawLine(QPointF(box.left() + pad, mid), QPointF(box.left() + pad + sample, mid));
        painter->setPen(QColor(0x20, 0x20, 0x20));
        painter->drawText(QPointF(box.left() + pad * 2 + sample, mid + fm.ascent() / 2 - 1),
                          s->Title());
        y += row;
    }
}
