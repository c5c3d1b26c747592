// Scene item that paints the series of a TChart over the plot area of its QChart.
#ifndef TCHART_LAYER_H
#define TCHART_LAYER_H

#include <QGraphicsItem>
#include <QPointF>
#include <QRectF>

class TChart;

class TChartLayer : public QGraphicsItem {
  public:
    explicit TChartLayer(TChart* chart);

    QRectF boundingRect() const override;
    void paint(QPainter* painter, const QStyleOptionGraphicsItem* option, QWidget* widget) override;

    // Call when the plot area moved or changed size.
    void PlotAreaChanged();

  private:
    void PaintLegend(QPainter* painter, const QRectF& plot);

    TChart* chart_;
    QRectF bounds_;
};

// Clips the segment a-b to rect (Liang-Barsky). Returns false when nothing of it is inside;
// otherwise a and b are moved onto the visible part. Works for any finite coordinates.
bool TChartClipSegment(QPointF& a, QPointF& b, const QRectF& rect);

#endif
