// Point storage of TLineSeries and the series list of TChart.
#include "chart_test_util.h"
#include "ui_chart_form.h"

#include <QChart>
#include <QPointer>
#include <cmath>
#include <gtest/gtest.h>

using namespace charttest;

TEST(ChartSeries, KeepsPointsInInsertionOrderWithLabelsAndColours) {
    TLineSeries s;
    s.SetSeriesColor(Qt::red);
    // Deliberately not sorted by x: the order of addition is the order kept.
    EXPECT_EQ(s.AddXY(181.5, 0.0, QString(), Qt::black), 0);
    EXPECT_EQ(s.AddXY(100.25, 50.0, QStringLiteral("100.25"), Qt::black), 1);
    EXPECT_EQ(s.AddXY(90.0, 0.0, QString(), Qt::blue), 2);
    EXPECT_EQ(s.AddXY(95.0, 7.0), 3); // no colour: drawn in the series colour
    ASSERT_EQ(s.Count(), 4);
    const double xs[] = {181.5, 100.25, 90.0, 95.0};
    const double ys[] = {0.0, 50.0, 0.0, 7.0};
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(s.XValue(i), xs[i]) << i;
        EXPECT_EQ(s.YValue(i), ys[i]) << i;
    }
    EXPECT_EQ(s.Label(1), QStringLiteral("100.25"));
    EXPECT_TRUE(s.Label(0).isEmpty());
    EXPECT_EQ(s.ValueColor(0), QColor(Qt::black));
    EXPECT_EQ(s.ValueColor(2), QColor(Qt::blue));
    EXPECT_EQ(s.ValueColor(3), QColor(Qt::red));
    // A point without its own colour follows later changes of the series colour.
    s.SetSeriesColor(Qt::green);
    EXPECT_EQ(s.ValueColor(3), QColor(Qt::green));
    EXPECT_EQ(s.ValueColor(0), QColor(Qt::black));
}

TEST(ChartSeries, DeleteClearAndOutOfRangeAccess) {
    TLineSeries s;
    for (int i = 0; i < 5; ++i)
        s.AddXY(i, i * 10.0, QString::number(i));
    s.Delete(1);
    s.Delete(-1); // ignored
    s.Delete(99); // ignored
    ASSERT_EQ(s.Count(), 4);
    EXPECT_EQ(s.XValue(0), 0.0);
    EXPECT_EQ(s.XValue(1), 2.0);
    EXPECT_EQ(s.Label(1), QStringLiteral("2"));
    EXPECT_TRUE(std::isnan(s.XValue(4)));
    EXPECT_TRUE(std::isnan(s.YValue(-1)));
    EXPECT_TRUE(s.Label(7).isEmpty());
    EXPECT_FALSE(s.ValueColor(7).isValid());
    s.Clear();
    EXPECT_EQ(s.Count(), 0);
}

TEST(ChartSeries, PeakLayoutGivesThreeNPlusOnePoints) {
    TChart chart;
    TLineSeries* s = NewPeakSeries(chart, QColor(0, 0, 255));
    AddPeak(s, 100.0, 50.0);
    ASSERT_EQ(s->Count(), 4);
    const double x[] = {99.0, 100.0, 100.0, 100.0};
    const double y[] = {0.0, 0.0, 50.0, 0.0};
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(s->XValue(i), x[i]);
        EXPECT_EQ(s->YValue(i), y[i]);
    }
    EXPECT_EQ(s->ValueColor(2), QColor(Qt::black));
    EXPECT_EQ(s->ValueColor(3), QColor(0, 0, 255));
    AddPeak(s, 101.0, 5.0);
    EXPECT_EQ(s->Count(), 7);
    EXPECT_FALSE(s->MarksVisible());
    EXPECT_FALSE(s->ShowInLegend());
    EXPECT_TRUE(s->Active());
}

TEST(ChartSeries, ChartSeriesListAndOwnership) {
    auto chart = std::make_unique<TChart>();
    EXPECT_EQ(chart->SeriesCount(), 0);
    EXPECT_EQ(chart->Series(0), nullptr);

    QPointer<TLineSeries> a = new TLineSeries(nullptr);
    QPointer<TLineSeries> b = new TLineSeries(nullptr);
    chart->AddSeries(a);
    chart->AddSeries(b);
    chart->AddSeries(a); // already there: no duplicate
    chart->AddSeries(nullptr);
    ASSERT_EQ(chart->SeriesCount(), 2);
    EXPECT_EQ(chart->Series(0), a.data());
    EXPECT_EQ(chart->Series(1), b.data());
    EXPECT_EQ(a->ParentChart(), chart.get());

    // Removing detaches without destroying; destroying detaches.
    chart->RemoveSeries(a);
    EXPECT_EQ(chart->SeriesCount(), 1);
    EXPECT_EQ(a->ParentChart(), nullptr);
    ASSERT_FALSE(a.isNull());
    delete a.data();
    delete b.data();
    EXPECT_EQ(chart->SeriesCount(), 0);

    // A series left on the chart goes with the chart, also when it has an owner object.
    QObject owner;
    QPointer<TLineSeries> c = new TLineSeries(&owner);
    chart->AddSeries(c);
    chart.reset();
    EXPECT_TRUE(c.isNull());
    EXPECT_TRUE(owner.children().isEmpty());

    // Moving a series to another chart takes it off the first.
    TChart one, two;
    auto* d = new TLineSeries(nullptr);
    one.AddSeries(d);
    two.AddSeries(d);
    EXPECT_EQ(one.SeriesCount(), 0);
    EXPECT_EQ(two.SeriesCount(), 1);
    EXPECT_EQ(d->ParentChart(), &two);
}

TEST(ChartSeries, TitleShownOnlyWhenVisible) {
    TChart chart;
    EXPECT_FALSE(chart.TitleVisible());
    chart.SetTitle(QStringLiteral("Rms = 0.10"));
    EXPECT_TRUE(chart.chart()->title().isEmpty());
    chart.SetTitleVisible(true);
    EXPECT_EQ(chart.chart()->title(), QStringLiteral("Rms = 0.10"));
    EXPECT_EQ(chart.Title(), QStringLiteral("Rms = 0.10"));
    chart.SetTitleVisible(false);
    EXPECT_TRUE(chart.chart()->title().isEmpty());
}

TEST(ChartSeries, TColorValuesAreBlueGreenRed) {
    EXPECT_EQ(ColorFromTColor(0x0000FF), QColor(255, 0, 0));
    EXPECT_EQ(ColorFromTColor(0xFF0000), QColor(0, 0, 255));
    EXPECT_EQ(ColorFromTColor(0x00FF00), QColor(0, 255, 0));
    EXPECT_EQ(ColorFromTColor(0), QColor(0, 0, 0));
}

TEST(ChartSeries, UsableAsPromotedWidgetOfADesignerForm) {
    QWidget form;
    Ui::ChartForm ui;
    ui.setupUi(&form);
    auto* chart = form.findChild<TChart*>(QStringLiteral("TC_IsoChart"));
    ASSERT_NE(chart, nullptr);
    EXPECT_EQ(chart, ui.TC_IsoChart);
    EXPECT_EQ(chart->geometry(), QRect(3, 24, 317, 185));
    EXPECT_EQ(chart->SeriesCount(), 0);
}
