// Helpers shared by the chart tests.
#ifndef CHART_TEST_UTIL_H
#define CHART_TEST_UTIL_H

#include "tchart.h"

#include <QApplication>
#include <QColor>
#include <QTest>

namespace charttest {

// Appends one peak as a stick: leading baseline point (first peak only), foot, top, foot
// again in the series colour. The stick is drawn up in black and down in the series colour.
inline void AddPeak(TLineSeries* s, double mass, double prob) {
    if (s->Count() == 0) s->AddXY(mass - 1.0, 0.0, QString(), Qt::black);
    s->AddXY(mass, 0.0, QString(), Qt::black);
    s->AddXY(mass, prob, QString::number(mass, 'g', 15), Qt::black);
    s->AddXY(mass, 0.0, QString(), s->SeriesColor());
}

inline TLineSeries* NewPeakSeries(TChart& chart, const QColor& color) {
    auto* s = new TLineSeries(nullptr);
    s->SetActive(true);
    s->SetMarksVisible(false);
    s->SetSeriesColor(color);
    s->SetShowInLegend(false);
    chart.AddSeries(s);
    return s;
}

// Shows the chart at the given size and lets it lay out.
inline void ShowChart(TChart& chart, int width, int height) {
    chart.resize(width, height);
    chart.show();
    (void)QTest::qWaitForWindowExposed(&chart);
    for (int i = 0; i < 3; ++i)
        QApplication::processEvents();
}

inline bool IsRed(QColor c) {
    return c.red() > 190 && c.green() < 70 && c.blue() < 70;
}
inline bool IsBlue(QColor c) {
    return c.blue() > 190 && c.red() < 70 && c.green() < 70;
}
inline bool IsBlack(QColor c) {
    return c.red() < 40 && c.green() < 40 && c.blue() < 40;
}
inline bool IsWhite(QColor c) {
    return c.red() > 235 && c.green() > 235 && c.blue() > 235;
}

} // namespace charttest

#endif
