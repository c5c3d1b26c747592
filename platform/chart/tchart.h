// Chart component: a two-dimensional chart widget (TChart) holding line series (TLineSeries).
//
// Axes, ticks, title, zoom, rubber-band zoom and the value <-> pixel mapping come from
// Qt Charts. The series are painted by the component itself, one segment at a time in the
// colour of the segment's end point, so that one polyline can trace a black baseline with
// coloured sticks (a stick spectrum: baseline, up the stick, down again, ...).
//
// Coordinates called "pixels" here are widget coordinates of the TChart (the chart fills the
// widget; there is no frame), i.e. the x and y of the MouseMove signal and of QWidget::grab().
//
// Designer: promote a QWidget to class "TChart", header "tchart.h".
#ifndef TCHART_H
#define TCHART_H

#include "tchart_global.h"

#include <QtCharts/QChartView>
#include <QColor>
#include <QLocale>
#include <QObject>
#include <QPointF>
#include <QRectF>
#include <QString>
#include <vector>

class QMimeData;
class QPainter;
class QPrinter;
class QValueAxis;
class QLineSeries;
class TChart;
class TChartLayer;

// A colour given as the framework's 32-bit colour value 0x00BBGGRR (red in the low byte).
inline QColor ColorFromTColor(quint32 tcolor) {
    return QColor(int(tcolor & 0xFF), int((tcolor >> 8) & 0xFF), int((tcolor >> 16) & 0xFF));
}

// A line series: points kept in the order they were added, each with x, y, a label and a
// colour. A point added without a colour (an invalid QColor) takes the series colour, also
// when the series colour changes later.
class TCHART_EXPORT TLineSeries : public QObject {
    Q_OBJECT
  public:
    // owner may be null; a series attached to a chart is destroyed with the chart unless it
    // was removed first. Destroying a series detaches it from its chart.
    explicit TLineSeries(QObject* owner = nullptr);
    ~TLineSeries() override;

    // Appends a point; returns its index.
    int AddXY(double x, double y, const QString& label = QString(), const QColor& color = QColor());
    void Delete(int index); // out-of-range indices are ignored
    void Clear();
    int Count() const { return int(points_.size()); }

    // Point access; an index out of range gives NaN, an empty label, an invalid colour.
    double XValue(int index) const;
    double YValue(int index) const;
    QString Label(int index) const;
    QColor ValueColor(int index) const; // the colour the point is drawn with

    QColor SeriesColor() const { return color_; }
    void SetSeriesColor(const QColor& color);
    bool MarksVisible() const { return marksVisible_; } // labels drawn at their points
    void SetMarksVisible(bool visible);
    bool ShowInLegend() const { return showInLegend_; }
    void SetShowInLegend(bool show);
    bool Active() const { return active_; } // an inactive series is neither drawn nor scaled
    void SetActive(bool active);
    QString Title() const { return title_; } // the legend text
    void SetTitle(const QString& title);
    qreal PenWidth() const { return penWidth_; } // in pixels at screen size
    void SetPenWidth(qreal width);

    TChart* ParentChart() const { return chart_; }

    // The chart pixel of point `index` (the pixel containing its position), 0 when the
    // series is on no chart.
    int CalcXPos(int index) const;
    int CalcYPos(int index) const;

  private:
    friend class TChart;
    friend class TChartLayer;
    struct Point {
        double x;
        double y;
        QString label;
        QColor color;
    };
    void Changed(bool data);

    std::vector<Point> points_;
    QColor color_ = Qt::black;
    bool marksVisible_ = true;
    bool showInLegend_ = true;
    bool active_ = true;
    qreal penWidth_ = 1.0;
    QString title_;
    TChart* chart_ = nullptr;
};

class TCHART_EXPORT TChart : public QChartView {
    Q_OBJECT
  public:
    explicit TChart(QWidget* parent = nullptr);
    ~TChart() override; // destroys the series still attached

    // Series, drawn in the order they were added. AddSeries moves a series from another
    // chart; adding a series twice changes nothing. RemoveSeries detaches without destroying.
    void AddSeries(TLineSeries* series);
    void RemoveSeries(TLineSeries* series);
    int SeriesCount() const { return int(series_.size()); }
    TLineSeries* Series(int index) const;

    // Title above the plot; hidden by default.
    QString Title() const { return title_; }
    void SetTitle(const QString& text);
    bool TitleVisible() const { return titleVisible_; }
    void SetTitleVisible(bool visible);

    bool LegendVisible() const { return legendVisible_; }
    void SetLegendVisible(bool visible);

    // The axes, for titles, fonts and pens. Their ranges and ticks are managed by the chart.
    QValueAxis* BottomAxis() const { return axisX_; }
    QValueAxis* LeftAxis() const { return axisY_; }

    // Numbers on the axes use this locale's decimal separator, without group separators.
    // Default: the system locale.
    QLocale NumberLocale() const { return numberLocale_; }
    void SetNumberLocale(const QLocale& locale);

    // Zoom: percent > 100 zooms in, < 100 zooms out; the visible x range becomes
    // range * 100 / percent around its centre. The y range scales the same way; while the
    // view starts at y = 0 it keeps starting there, so the baseline and small peaks stay in
    // view. Values that are not finite and positive are ignored.
    void ZoomPercent(double percent);
    // Shows all data again: x from the least to the greatest x of the active series with a
    // small margin, y from 0 to 5 % above the greatest y. The chart follows the data this
    // way until the next zoom.
    void UndoZoom();
    bool Zoomed() const { return zoomed_; }

    // Mapping between axis values and chart pixels, for the current ranges and layout.
    QPointF ValueToPixel(const QPointF& value) const;
    QPointF PixelToValue(const QPointF& pixel) const;
    int CalcXPosValue(double x) const;
    int CalcYPosValue(double y) const;
    QRectF ChartRect() const; // the plot area in chart pixels

    // Renders the whole chart into target on any painter, as vector output where the device
    // supports it. The chart is laid out for the export size (see ExportSize) while drawing.
    void Draw(QPainter* painter, const QRectF& target);
    // Size, in logical pixels, at which the chart is laid out for printing and copying: the
    // widget's size, enlarged to at least 640 pixels wide with the same aspect ratio.
    QSizeF ExportSize() const;
    // SVG document of the chart at ExportSize.
    QByteArray SvgData();
    // Picture of the chart at ExportSize times scale.
    QImage Image(qreal scale = 1.0);
    // One clipboard object with "image/svg+xml" (vector), "image/png" and the image itself.
    QMimeData* CreateMimeData();
    // Puts CreateMimeData() on the application clipboard. The argument is kept for the
    // framework's signature; the picture is always vector plus bitmap.
    void CopyToClipboardMetafile(bool enhanced = true);
    // Prints the chart as vector graphics on one page, fitted into the printer's page
    // rectangle with its aspect ratio kept. Returns false when the printer cannot be opened.
    bool Print(QPrinter* printer);

  signals:
    // The pointer moved over the chart, at x, y in chart pixels.
    void MouseMove(Qt::KeyboardModifiers shift, int x, int y);

  protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

  private:
    friend class TLineSeries;
    friend class TChartLayer;

    void DataChanged();
    void Repaint();
    void SyncRanges() const;
    void ApplyFullRanges();
    void SetRanges(double xMin, double xMax, double yMin, double yMax);
    // Sets both ranges with the ticks held fixed until both are in place.
    void ApplyRanges(double xMin, double xMax, double yMin, double yMax);
    // Switches both axes to two fixed ticks until UpdateTicks() runs again.
    void HoldTicks();
    void UpdateTicks();
    void OnRangeChanged();
    void ApplyTitle();
    QPointF ChartToPixel(const QPointF& p) const;
    QPointF PixelToChart(const QPointF& p) const;
    void RenderScene(QPainter* painter, const QRectF& target);

    std::vector<TLineSeries*> series_;
    QLineSeries* anchor_ = nullptr; // empty series that binds the axes to the chart's domain
    QValueAxis* axisX_ = nullptr;
    QValueAxis* axisY_ = nullptr;
    TChartLayer* layer_ = nullptr;
    QString title_;
    bool titleVisible_ = false;
    bool legendVisible_ = true;
    QLocale numberLocale_;
    bool zoomed_ = false;
    bool settingRanges_ = false;
    bool holdingTicks_ = false;
    mutable bool rangesDirty_ = false;
    bool syncQueued_ = false;
    QPoint pressPos_;
    bool leftPressed_ = false;
};

#endif
