// Scaling, zoom, value <-> pixel mapping, mouse handling and the painted colours of TChart.
#include "chart_test_util.h"

#include <QChart>
#include <QDir>
#include <QHelpEvent>
#include <QToolTip>
#include <QImage>
#include <QMouseEvent>
#include <QSignalSpy>
#include <QValueAxis>
#include <cmath>
#include <gtest/gtest.h>
#include <limits>

using namespace charttest;

namespace {

struct Ranges {
    double x0, x1, y0, y1;
};

Ranges RangesOf(const TChart& chart) {
    return {chart.BottomAxis()->min(), chart.BottomAxis()->max(), chart.LeftAxis()->min(),
            chart.LeftAxis()->max()};
}

void SendMouse(TChart& chart, QEvent::Type type, QPoint pos, Qt::MouseButton button,
               Qt::MouseButtons buttons) {
    const QPointF global = chart.viewport()->mapToGlobal(QPointF(pos));
    QMouseEvent event(type, QPointF(pos), global, button, buttons, Qt::NoModifier);
    QApplication::sendEvent(chart.viewport(), &event);
}

void Drag(TChart& chart, QPoint from, QPoint to) {
    SendMouse(chart, QEvent::MouseButtonPress, from, Qt::LeftButton, Qt::LeftButton);
    SendMouse(chart, QEvent::MouseMove, (from + to) / 2, Qt::NoButton, Qt::LeftButton);
    SendMouse(chart, QEvent::MouseMove, to, Qt::NoButton, Qt::LeftButton);
    SendMouse(chart, QEvent::MouseButtonRelease, to, Qt::LeftButton, Qt::NoButton);
    QApplication::processEvents();
}

// Three calculated peaks (red) and two experimental ones (blue), on a 600 x 400 chart.
struct SpectrumChart {
    TChart chart;
    TLineSeries* calc;
    TLineSeries* exp;
    SpectrumChart() {
        calc = NewPeakSeries(chart, Qt::red);
        exp = NewPeakSeries(chart, Qt::blue);
        AddPeak(calc, 180.0, 100.0);
        AddPeak(calc, 181.0, 50.0);
        AddPeak(calc, 182.0, 20.0);
        AddPeak(exp, 180.5, 80.0);
        AddPeak(exp, 181.5, 30.0);
        ShowChart(chart, 600, 400);
        chart.UndoZoom();
        QApplication::processEvents();
    }
};

} // namespace

TEST(ChartView, UndoZoomShowsAllDataWithTheYAxisFromZero) {
    SpectrumChart sc;
    // Data: x from 179.0 (leading point) to 182.0, y up to 100.
    const double span = 3.0;
    const Ranges r = RangesOf(sc.chart);
    EXPECT_NEAR(r.x0, 179.0 - 0.05 * span, 1e-9);
    EXPECT_NEAR(r.x1, 182.0 + 0.05 * span, 1e-9);
    EXPECT_EQ(r.y0, 0.0);
    EXPECT_NEAR(r.y1, 105.0, 1e-9);
    EXPECT_FALSE(sc.chart.Zoomed());

    // While not zoomed the chart follows new data.
    AddPeak(sc.calc, 190.0, 200.0);
    QApplication::processEvents();
    EXPECT_NEAR(sc.chart.BottomAxis()->max(), 190.0 + 0.05 * 11.0, 1e-9);
    EXPECT_NEAR(sc.chart.LeftAxis()->max(), 210.0, 1e-9);
}

TEST(ChartView, ValueToPixelMatchesTheLinearMapOfThePlotArea) {
    SpectrumChart sc;
    const QRectF plot = sc.chart.ChartRect();
    ASSERT_GT(plot.width(), 300);
    ASSERT_GT(plot.height(), 200);
    const Ranges r = RangesOf(sc.chart);
    const double values[][2] = {{180.0, 100.0}, {181.25, 0.0}, {179.0, 33.3}, {182.1, 104.0}};
    for (const auto& v : values) {
        const QPointF px = sc.chart.ValueToPixel(QPointF(v[0], v[1]));
        const double ex = plot.left() + (v[0] - r.x0) / (r.x1 - r.x0) * plot.width();
        const double ey = plot.bottom() - (v[1] - r.y0) / (r.y1 - r.y0) * plot.height();
        EXPECT_NEAR(px.x(), ex, 1e-6);
        EXPECT_NEAR(px.y(), ey, 1e-6);
        const QPointF back = sc.chart.PixelToValue(px);
        EXPECT_NEAR(back.x(), v[0], 1e-9);
        EXPECT_NEAR(back.y(), v[1], 1e-9);
        EXPECT_EQ(sc.chart.CalcXPosValue(v[0]), int(std::floor(ex)));
        EXPECT_EQ(sc.chart.CalcYPosValue(v[1]), int(std::floor(ey)));
    }
    // Point positions of a series: point 2 is the top of the first peak.
    EXPECT_EQ(sc.calc->CalcXPos(2), sc.chart.CalcXPosValue(180.0));
    EXPECT_EQ(sc.calc->CalcYPos(2), sc.chart.CalcYPosValue(100.0));
    EXPECT_EQ(sc.calc->CalcYPos(1), sc.chart.CalcYPosValue(0.0));
    // Positions that cannot be placed stay bounded, so squared distances fit into an int.
    EXPECT_EQ(sc.chart.CalcXPosValue(std::numeric_limits<double>::quiet_NaN()), -30000);
    EXPECT_EQ(sc.chart.CalcXPosValue(1e300), 30000);
    TLineSeries loose;
    loose.AddXY(1, 1);
    EXPECT_EQ(loose.CalcXPos(0), 0);
}

TEST(ChartView, ZoomPercentInOutAndReset) {
    SpectrumChart sc;
    const Ranges full = RangesOf(sc.chart);
    const double cx = (full.x0 + full.x1) / 2, wx = full.x1 - full.x0, h = full.y1;

    sc.chart.ZoomPercent(125.0); // range x 100/125 around the centre, y from 0
    Ranges r = RangesOf(sc.chart);
    EXPECT_TRUE(sc.chart.Zoomed());
    EXPECT_NEAR(r.x0, cx - wx * 0.8 / 2, 1e-9);
    EXPECT_NEAR(r.x1, cx + wx * 0.8 / 2, 1e-9);
    EXPECT_EQ(r.y0, 0.0);
    EXPECT_NEAR(r.y1, h * 0.8, 1e-9);

    sc.chart.ZoomPercent(125.0);
    sc.chart.ZoomPercent(25.0); // zoom out: range x 4
    r = RangesOf(sc.chart);
    EXPECT_NEAR(r.x1 - r.x0, wx * 0.8 * 0.8 * 4, 1e-9);
    EXPECT_NEAR((r.x0 + r.x1) / 2, cx, 1e-9);
    EXPECT_EQ(r.y0, 0.0);
    EXPECT_NEAR(r.y1, h * 0.8 * 0.8 * 4, 1e-9);

    // Not finite or not positive: ignored.
    sc.chart.ZoomPercent(0.0);
    sc.chart.ZoomPercent(-50.0);
    sc.chart.ZoomPercent(std::numeric_limits<double>::quiet_NaN());
    sc.chart.ZoomPercent(std::numeric_limits<double>::infinity());
    const Ranges same = RangesOf(sc.chart);
    EXPECT_EQ(same.x0, r.x0);
    EXPECT_EQ(same.y1, r.y1);

    // While zoomed, new data does not move the view.
    AddPeak(sc.exp, 185.0, 10.0);
    QApplication::processEvents();
    EXPECT_EQ(sc.chart.BottomAxis()->max(), r.x1);

    sc.chart.UndoZoom();
    r = RangesOf(sc.chart);
    EXPECT_FALSE(sc.chart.Zoomed());
    EXPECT_NEAR(r.x0, 179.0 - 0.05 * 6.0, 1e-9); // the data now spans 179 to 185
    EXPECT_NEAR(r.x1, 185.0 + 0.05 * 6.0, 1e-9);
    EXPECT_EQ(r.y0, 0.0);
    EXPECT_NEAR(r.y1, full.y1, 1e-9);
}

TEST(ChartView, ZoomAwayFromTheBaselineScalesAroundTheCentre) {
    SpectrumChart sc;
    // Drag a rectangle over the middle of the plot: y no longer starts at 0.
    const QRectF plot = sc.chart.ChartRect();
    const QPoint from(int(plot.left() + plot.width() * 0.25),
                      int(plot.top() + plot.height() * 0.2));
    const QPoint to(int(plot.left() + plot.width() * 0.75), int(plot.top() + plot.height() * 0.6));
    const QPointF v0 = sc.chart.PixelToValue(from);
    const QPointF v1 = sc.chart.PixelToValue(to);
    const double pxX = (RangesOf(sc.chart).x1 - RangesOf(sc.chart).x0) / plot.width();
    const double pxY = (RangesOf(sc.chart).y1 - RangesOf(sc.chart).y0) / plot.height();
    Drag(sc.chart, from, to);
    Ranges r = RangesOf(sc.chart);
    EXPECT_TRUE(sc.chart.Zoomed());
    EXPECT_NEAR(r.x0, v0.x(), 2 * pxX);
    EXPECT_NEAR(r.x1, v1.x(), 2 * pxX);
    EXPECT_NEAR(r.y1, v0.y(), 2 * pxY);
    EXPECT_NEAR(r.y0, v1.y(), 2 * pxY);
    ASSERT_GT(r.y0, 1.0);

    const double cy = (r.y0 + r.y1) / 2, hy = r.y1 - r.y0;
    sc.chart.ZoomPercent(200.0);
    const Ranges z = RangesOf(sc.chart);
    EXPECT_NEAR(z.y0, cy - hy / 4, 1e-9);
    EXPECT_NEAR(z.y1, cy + hy / 4, 1e-9);

    // A drag from right to left undoes the zoom.
    Drag(sc.chart, to, from);
    EXPECT_FALSE(sc.chart.Zoomed());
    EXPECT_EQ(RangesOf(sc.chart).y0, 0.0);
    EXPECT_NEAR(RangesOf(sc.chart).y1, 105.0, 1e-9);
}

TEST(ChartView, ClicksAndTheRightButtonDoNotZoom) {
    SpectrumChart sc;
    const Ranges before = RangesOf(sc.chart);
    const QPoint mid = sc.chart.ChartRect().center().toPoint();
    Drag(sc.chart, mid, mid + QPoint(2, 1)); // a click, not a drag
    SendMouse(sc.chart, QEvent::MouseButtonPress, mid, Qt::RightButton, Qt::RightButton);
    SendMouse(sc.chart, QEvent::MouseButtonRelease, mid, Qt::RightButton, Qt::NoButton);
    QApplication::processEvents();
    EXPECT_FALSE(sc.chart.Zoomed());
    const Ranges after = RangesOf(sc.chart);
    EXPECT_EQ(after.x0, before.x0);
    EXPECT_EQ(after.x1, before.x1);
    EXPECT_EQ(after.y1, before.y1);
}

TEST(ChartView, MouseMoveReportsChartPixels) {
    SpectrumChart sc;
    QSignalSpy spy(&sc.chart, &TChart::MouseMove);
    SendMouse(sc.chart, QEvent::MouseMove, QPoint(123, 77), Qt::NoButton, Qt::NoButton);
    ASSERT_EQ(spy.count(), 1);
    EXPECT_EQ(spy.at(0).at(1).toInt(), 123);
    EXPECT_EQ(spy.at(0).at(2).toInt(), 77);
    // The reported pixel of a peak top is where CalcXPos/CalcYPos put it.
    const QPoint top(sc.calc->CalcXPos(2), sc.calc->CalcYPos(2));
    SendMouse(sc.chart, QEvent::MouseMove, top, Qt::NoButton, Qt::NoButton);
    ASSERT_EQ(spy.count(), 2);
    EXPECT_EQ(spy.at(1).at(1).toInt(), top.x());
    EXPECT_EQ(spy.at(1).at(2).toInt(), top.y());
    const QPointF value = sc.chart.PixelToValue(top);
    EXPECT_NEAR(value.x(), 180.0, 0.01);
    EXPECT_NEAR(value.y(), 100.0, 0.5);
}

TEST(ChartView, SticksTakeTheSeriesColourAndTheBaselineIsBlack) {
    SpectrumChart sc;
    // A blue experimental stick over a red one at the same mass: drawn later, shown on top.
    AddPeak(sc.exp, 182.0, 10.0);
    QApplication::processEvents();
    const QImage img = sc.chart.grab().toImage();
    ASSERT_EQ(img.width(), 600);
    const int base = sc.chart.CalcYPosValue(0.0);

    auto stickPixel = [&](double mass, double height) {
        const int x = sc.chart.CalcXPosValue(mass);
        const int y = (base + sc.chart.CalcYPosValue(height)) / 2;
        return img.pixelColor(x, y);
    };
    EXPECT_TRUE(IsRed(stickPixel(180.0, 100.0))) << stickPixel(180.0, 100.0).name().toStdString();
    EXPECT_TRUE(IsRed(stickPixel(181.0, 50.0)));
    EXPECT_TRUE(IsBlue(stickPixel(180.5, 80.0))) << stickPixel(180.5, 80.0).name().toStdString();
    EXPECT_TRUE(IsBlue(stickPixel(181.5, 30.0)));
    // At 182 the red stick is 20 high and the blue one 10: blue below 10, red above.
    const int x182 = sc.chart.CalcXPosValue(182.0);
    EXPECT_TRUE(IsBlue(img.pixelColor(x182, sc.chart.CalcYPosValue(5.0))));
    EXPECT_TRUE(IsRed(img.pixelColor(x182, sc.chart.CalcYPosValue(15.0))));

    // Just beside a stick, and above its top, the background shows.
    const int x180 = sc.chart.CalcXPosValue(180.0);
    const int yMid = sc.chart.CalcYPosValue(50.0);
    for (int dx : {-4, 4}) {
        const QColor c = img.pixelColor(x180 + dx, yMid);
        EXPECT_TRUE(c.red() > 215 && c.green() > 215 && c.blue() > 215) << c.name().toStdString();
    }
    EXPECT_FALSE(IsRed(img.pixelColor(sc.chart.CalcXPosValue(181.0), sc.chart.CalcYPosValue(60))));

    // The baseline between the sticks is black, from the leading point on.
    for (double m : {179.2, 179.7, 180.25, 180.75, 181.25, 181.75})
        EXPECT_TRUE(IsBlack(img.pixelColor(sc.chart.CalcXPosValue(m), base)))
            << m << " " << img.pixelColor(sc.chart.CalcXPosValue(m), base).name().toStdString();
    EXPECT_FALSE(IsBlack(img.pixelColor(sc.chart.CalcXPosValue(178.9), base)));
    EXPECT_FALSE(IsBlack(img.pixelColor(sc.chart.CalcXPosValue(182.1), base)));
}

TEST(ChartView, SeriesAreClippedToThePlotArea) {
    SpectrumChart sc;
    sc.chart.ZoomPercent(400.0); // 180.0 and 182.0 fall outside the view
    QApplication::processEvents();
    const QImage img = sc.chart.grab().toImage();
    const QRect inside = sc.chart.ChartRect().toAlignedRect().adjusted(-2, -2, 2, 2);
    int outside = 0, coloured = 0;
    for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < img.width(); ++x) {
            const QColor c = img.pixelColor(x, y);
            if (!IsRed(c) && !IsBlue(c)) continue;
            if (inside.contains(x, y))
                ++coloured;
            else
                ++outside;
        }
    EXPECT_EQ(outside, 0);
    EXPECT_GT(coloured, 20); // the sticks inside the view are still drawn
}

TEST(ChartView, PointsThatCannotBePlacedAreSkipped) {
    TChart chart;
    TLineSeries* s = NewPeakSeries(chart, Qt::red);
    const double inf = std::numeric_limits<double>::infinity();
    AddPeak(s, 100.0, 50.0);
    AddPeak(s, std::numeric_limits<double>::quiet_NaN(), 10.0);
    AddPeak(s, 101.0, inf);
    AddPeak(s, 1e300, -1e300);
    AddPeak(s, 102.0, 25.0);
    ShowChart(chart, 400, 300);
    chart.UndoZoom();
    const Ranges r = RangesOf(chart);
    EXPECT_NEAR(r.x0, 99.0 - 0.15, 1e-9);
    EXPECT_NEAR(r.x1, 102.0 + 0.15, 1e-9);
    EXPECT_EQ(r.y0, 0.0);
    EXPECT_NEAR(r.y1, 52.5, 1e-9);
    const QImage img = chart.grab().toImage();
    const int base = chart.CalcYPosValue(0.0);
    EXPECT_TRUE(
        IsRed(img.pixelColor(chart.CalcXPosValue(102.0), (base + chart.CalcYPosValue(25)) / 2)));
    EXPECT_TRUE(
        IsRed(img.pixelColor(chart.CalcXPosValue(100.0), (base + chart.CalcYPosValue(50)) / 2)));
}

TEST(ChartView, MarksAndLegendAreDrawnOnlyWhenAskedFor) {
    SpectrumChart sc;
    const QImage plain = sc.chart.grab().toImage();
    const QRect above(sc.calc->CalcXPos(2) - 30, sc.calc->CalcYPos(2) - 16, 60, 14);
    const QRect legendArea = sc.chart.ChartRect().toAlignedRect();
    auto differs = [](const QImage& a, const QImage& b, const QRect& r) {
        int n = 0;
        for (int y = r.top(); y <= r.bottom(); ++y)
            for (int x = r.left(); x <= r.right(); ++x)
                n += a.pixel(x, y) != b.pixel(x, y);
        return n;
    };
    // Titles alone make no legend entry while the series are kept out of the legend.
    sc.calc->SetTitle(QStringLiteral("Calculated"));
    sc.exp->SetTitle(QStringLiteral("Experimental"));
    QApplication::processEvents();
    EXPECT_EQ(differs(plain, sc.chart.grab().toImage(), legendArea), 0);

    sc.calc->SetMarksVisible(true);
    sc.calc->SetShowInLegend(true);
    sc.exp->SetShowInLegend(true);
    QApplication::processEvents();
    const QImage decorated = sc.chart.grab().toImage();
    decorated.save(QDir::temp().filePath(QStringLiteral("tchart_marks_legend.png")));
    EXPECT_GT(differs(plain, decorated, above), 5); // the label "180" above the first peak
    EXPECT_GT(differs(plain, decorated, legendArea), 50);

    sc.chart.SetLegendVisible(false);
    sc.calc->SetMarksVisible(false);
    QApplication::processEvents();
    EXPECT_EQ(differs(plain, sc.chart.grab().toImage(), legendArea), 0);
}

TEST(ChartView, TooltipsOfEnclosingWidgetsStillShow) {
    // The read-out is the enclosing dialog's tooltip: the chart must pass tooltip events on.
    QWidget dialog;
    dialog.setToolTip(QStringLiteral("100.500000\n12.35%"));
    auto* chart = new TChart(&dialog);
    chart->setGeometry(0, 0, 300, 200);
    dialog.resize(320, 220);
    dialog.show();
    (void)QTest::qWaitForWindowExposed(&dialog);
    const QPoint pos(150, 100);
    QHelpEvent help(QEvent::ToolTip, pos, chart->viewport()->mapToGlobal(pos));
    QApplication::sendEvent(chart->viewport(), &help);
    EXPECT_TRUE(QToolTip::isVisible());
    EXPECT_EQ(QToolTip::text(), QStringLiteral("100.500000\n12.35%"));
    QToolTip::hideText();
}
