// Line series storage: points in insertion order, with per-point label and colour.
#include "tchart.h"

#include <cmath>
#include <limits>

TLineSeries::TLineSeries(QObject* owner) : QObject(owner) {}

TLineSeries::~TLineSeries() {
    if (chart_) chart_->RemoveSeries(this);
}

int TLineSeries::AddXY(double x, double y, const QString& label, const QColor& color) {
    points_.push_back(Point{x, y, label, color});
    Changed(true);
    return int(points_.size()) - 1;
}

void TLineSeries::Delete(int index) {
    if (index < 0 || index >= Count()) return;
    points_.erase(points_.begin() + index);
    Changed(true);
}

void TLineSeries::Clear() {
    if (points_.empty()) return;
    points_.clear();
    Changed(true);
}

double TLineSeries::XValue(int index) const {
    if (index < 0 || index >= Count()) return std::numeric_limits<double>::quiet_NaN();
    return points_[size_t(index)].x;
}

double TLineSeries::YValue(int index) const {
    if (index < 0 || index >= Count()) return std::numeric_limits<double>::quiet_NaN();
    return points_[size_t(index)].y;
}

QString TLineSeries::Label(int index) const {
    if (index < 0 || index >= Count()) return QString();
    return points_[size_t(index)].label;
}

QColor TLineSeries::ValueColor(int index) const {
    if (index < 0 || index >= Count()) return QColor();
    const QColor& c = points_[size_t(index)].color;
    return c.isValid() ? c : color_;
}

void TLineSeries::SetSeriesColor(const QColor& color) {
    color_ = color;
    Changed(false);
}

void TLineSeries::SetMarksVisible(bool visible) {
    marksVisible_ = visible;
    Changed(false);
}

void TLineSeries::SetShowInLegend(bool show) {
    showInLegend_ = show;
    Changed(false);
}

void TLineSeries::SetActive(bool active) {
    if (active_ == active) return;
    active_ = active;
    Changed(true);
}

void TLineSeries::SetTitle(const QString& title) {
    title_ = title;
    Changed(false);
}

void TLineSeries::SetPenWidth(qreal width) {
    if (!(width > 0) || !std::isfinite(width)) return;
    penWidth_ = width;
    Changed(false);
}

int TLineSeries::CalcXPos(int index) const {
    if (!chart_ || index < 0 || index >= Count()) return 0;
    return chart_->CalcXPosValue(points_[size_t(index)].x);
}

int TLineSeries::CalcYPos(int index) const {
    if (!chart_ || index < 0 || index >= Count()) return 0;
    return chart_->CalcYPosValue(points_[size_t(index)].y);
}

void TLineSeries::Changed(bool data) {
    if (!chart_) return;
    if (data)
        chart_->DataChanged();
    else
        chart_->Repaint();
}
