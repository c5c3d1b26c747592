// The isotope commands of the main dialog, driven through the test host.
#include <QAction>
#include <QChart>
#include <QMenu>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTest>
#include <QValueAxis>
#include <cmath>

#include "iso_fixture.h"
#include "peak_series.h"

namespace {

using IsoDialog = IsoFixture;

std::vector<QAction*> commandItems(TDlgQvMain* d) {
    return {d->PM_IC_CopyChart, d->PM_IC_CopyData, d->PM_IC_Print,    d->PM_IC_SendExp,
            d->PM_IC_ZoomIn,    d->PM_IC_ZoomOut,  d->PM_IC_ZoomReset};
}

TEST_F(IsoDialog, ChartMenuFollowsTheSeries) {
    auto expectItems = [&](bool on) {
        for (QAction* a : commandItems(d))
            EXPECT_EQ(on, a->isEnabled()) << a->objectName().toStdString();
        EXPECT_TRUE(d->PM_IC_Edit->menuAction()->isEnabled());
        EXPECT_TRUE(d->PM_IC_Zoom->menuAction()->isEnabled());
    };
    expectItems(false);
    TLineSeries* s = d->SerNew(0x00FF00);
    ASSERT_NE(nullptr, s);
    EXPECT_EQ(1, chart()->SeriesCount());
    EXPECT_FALSE(s->MarksVisible());
    EXPECT_FALSE(s->ShowInLegend());
    EXPECT_EQ(QColor(0, 255, 0), s->SeriesColor());
    expectItems(true);
    d->SerDelete(s);
    EXPECT_EQ(0, chart()->SeriesCount());
    expectItems(false);
    d->SerDelete(nullptr);

    // Only experimental peaks: copy and send are enabled but do nothing.
    experimental("100 50");
    ASSERT_NE(nullptr, d->SerExp);
    expectItems(true);
    host.commands.clear();
    d->ui.ME_ExData->setPlainText("keep");
    d->PM_IC_CopyData->trigger();
    d->PM_IC_SendExp->trigger();
    EXPECT_TRUE(host.commands.empty());
    EXPECT_EQ("keep", d->ui.ME_ExData->toPlainText());

    // The reset part: both series gone, title hidden, menu off.
    calculated("100 100\n");
    experimental("100 100");
    EXPECT_TRUE(chart()->TitleVisible());
    d->ClearChartSeries();
    EXPECT_EQ(nullptr, d->SerCalc);
    EXPECT_EQ(nullptr, d->SerExp);
    EXPECT_EQ(0, chart()->SeriesCount());
    EXPECT_FALSE(chart()->TitleVisible());
    expectItems(false);
}

TEST_F(IsoDialog, RequestChartsTheHostsAnswerInRed) {
    d->ui.PC_View->setCurrentWidget(d->ui.TS_Preview);
    selectRow("C6H12O6");
    host.commands.clear();
    calculated("180.063388 100.000000\n181.066800 6.860000\n182.068000 1.430000\n");
    const std::vector<std::string> expected = {"Cursor Busy", "IsoDist C6H12O6", "Cursor Default"};
    EXPECT_EQ(expected, host.commands);
    EXPECT_EQ(d->ui.TS_IsoChart, d->ui.PC_View->currentWidget());
    ASSERT_NE(nullptr, d->SerCalc);
    EXPECT_EQ(QColor(Qt::red), d->SerCalc->SeriesColor());
    const auto peaks = tops(d->SerCalc);
    ASSERT_EQ(3u, peaks.size());
    EXPECT_EQ(180.063388, peaks[0].first);
    EXPECT_EQ(1.43, peaks[2].second);
    EXPECT_FALSE(chart()->TitleVisible()); // nothing to compare yet
    EXPECT_FALSE(chart()->Zoomed());

    // A new answer replaces the series; a failed one leaves it and its title alone, but the
    // chart tab still comes to the front.
    experimental("180.0634 50\n181.067 3.4");
    const QString title = chart()->Title();
    TLineSeries* old = d->SerCalc;
    d->ui.PC_View->setCurrentWidget(d->ui.TS_Preview);
    host.clearAnswers();
    host.answer("IsoDist", 3, "unknown element symbol 'Xx'");
    d->PM_ResIsoDistClick();
    EXPECT_EQ(old, d->SerCalc);
    EXPECT_EQ(3u, tops(d->SerCalc).size());
    EXPECT_EQ(title, chart()->Title());
    EXPECT_EQ(d->ui.TS_IsoChart, d->ui.PC_View->currentWidget());
    EXPECT_EQ(2, chart()->SeriesCount());

    calculated("200 100\n");
    EXPECT_EQ(1u, tops(d->SerCalc).size());
    EXPECT_EQ(2, chart()->SeriesCount());
    EXPECT_EQ(d->SerCalc, chart()->Series(1)); // added after the experimental series
}

TEST_F(IsoDialog, RequestNeedsARowAndADatabase) {
    auto* item = new QTreeWidgetItem(d->ui.LV_Results, {"1", "C6H12O6", "glucose"});
    d->DbName = "DB1";
    d->ui.PC_View->setCurrentWidget(d->ui.TS_Preview);
    host.commands.clear();
    d->PM_ResIsoDistClick(); // no row selected
    {
        const QSignalBlocker block(d->ui.LV_Results);
        item->setSelected(true);
    }
    d->DbName.clear();
    d->PM_ResIsoDistClick(); // no database open
    EXPECT_TRUE(host.commands.empty());
    EXPECT_EQ(d->ui.TS_Preview, d->ui.PC_View->currentWidget());
    EXPECT_EQ(nullptr, d->SerCalc);
}

TEST_F(IsoDialog, RmsTitleOfTheWorkedExamples) {
    calculated("100 100\n101 10\n");
    experimental("100 50\n101 5");
    EXPECT_TRUE(chart()->TitleVisible());
    EXPECT_EQ("Rms = 0.00", chart()->Title());
    // The series keeps the values as typed; only the comparison scales them.
    const auto typed = tops(d->SerExp);
    ASSERT_EQ(2u, typed.size());
    EXPECT_EQ(50.0, typed[0].second);
    EXPECT_EQ(QColor(Qt::blue), d->SerExp->SeriesColor());

    calculated("100 100\n");
    EXPECT_EQ("Rms = 0.00", chart()->Title()); // compared again with the new series
    experimental("100.1 100\n100 90");
    EXPECT_EQ("Rms = 0.10", chart()->Title());

    FormatSettings.DecimalSeparator = ',';
    experimental("100,1 100\n100 90");
    EXPECT_EQ("Rms = 0,10", chart()->Title());
    experimental("100.1 100\n100 90"); // points become the separator before reading
    EXPECT_EQ("Rms = 0,10", chart()->Title());
}

TEST_F(IsoDialog, NoCalculatedPairGivesNotANumber) {
    calculated("180.063388");
    ASSERT_NE(nullptr, d->SerCalc);
    EXPECT_EQ(0, d->SerCalc->Count());
    experimental("100 50");
    EXPECT_EQ("Rms = NAN", chart()->Title());
    calculated("");
    ASSERT_NE(nullptr, d->SerCalc);
    EXPECT_EQ(0, d->SerCalc->Count());
}

TEST_F(IsoDialog, UpdateRebuildsOrRemovesTheExperimentalPeaks) {
    EXPECT_FALSE(d->ui.BT_ExUpdate->isEnabled());
    d->ui.ME_ExData->setPlainText("1");
    EXPECT_TRUE(d->ui.BT_ExUpdate->isEnabled());
    d->ui.ME_ExData->clear();
    EXPECT_FALSE(d->ui.BT_ExUpdate->isEnabled());

    calculated("100 100\n");
    experimental("100 80");
    ASSERT_NE(nullptr, d->SerExp);
    EXPECT_EQ("Rms = 0.00", chart()->Title());
    // No complete pair: no series, no message; the title keeps the last RMS.
    host.commands.clear();
    experimental("100.5");
    EXPECT_EQ(nullptr, d->SerExp);
    EXPECT_FALSE(sent("messagebox"));
    EXPECT_TRUE(chart()->TitleVisible());
    EXPECT_EQ("Rms = 0.00", chart()->Title());
    EXPECT_TRUE(d->ui.BT_ExUpdate->isEnabled()); // the memo holds text

    experimental("101 80");
    ASSERT_NE(nullptr, d->SerExp);
    // An empty memo with a series present removes the peaks.
    d->ui.ME_ExData->clear();
    EXPECT_TRUE(d->ui.BT_ExUpdate->isEnabled());
    d->ui.BT_ExUpdate->click();
    EXPECT_EQ(nullptr, d->SerExp);
    EXPECT_FALSE(d->ui.BT_ExUpdate->isEnabled());
    EXPECT_EQ(1, chart()->SeriesCount());
    EXPECT_FALSE(chart()->Zoomed());
}

TEST_F(IsoDialog, MemoTakesOnlyPeakCharacters) {
    QPlainTextEdit* memo = d->ui.ME_ExData;
    memo->setFocus();
    QTest::keyClicks(memo, "1a.5-2 3,4E+");
    EXPECT_EQ("1.52 34", memo->toPlainText());
    QTest::keyClick(memo, Qt::Key_Tab);
    QTest::keyClick(memo, Qt::Key_Return);
    QTest::keyClicks(memo, "7");
    EXPECT_EQ("1.52 34\n7", memo->toPlainText());
    QTest::keyClick(memo, Qt::Key_Backspace);
    QTest::keyClick(memo, Qt::Key_Home);
    QTest::keyClick(memo, Qt::Key_Up);
    QTest::keyClick(memo, Qt::Key_Delete);
    EXPECT_EQ(".52 34\n", memo->toPlainText());
    // Select all and undo are the edit menu's keys, run before the filter,
    // which never sees their control characters (1 and 26).
    QTest::keyClick(memo, Qt::Key_A, Qt::ControlModifier);
    EXPECT_EQ(".52 34\u2029", memo->textCursor().selectedText().toStdString());
    QTest::keyClick(memo, Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ("1.52 34\n", memo->toPlainText().toStdString());
    // Other Ctrl letters type nothing.
    QTest::keyClick(memo, Qt::Key_B, Qt::ControlModifier);
    EXPECT_EQ("1.52 34\n", memo->toPlainText().toStdString());

    FormatSettings.DecimalSeparator = ',';
    memo->clear();
    QTest::keyClicks(memo, "100.5 1,25");
    EXPECT_EQ("100,5 1,25", memo->toPlainText());

    // The handler itself, as the form calls it.
    QChar key('.');
    d->ME_ExDataKeyPress(memo, key);
    EXPECT_EQ(QChar(','), key);
    key = QChar('-');
    d->ME_ExDataKeyPress(memo, key);
    EXPECT_TRUE(key.isNull());
}

TEST_F(IsoDialog, CopyAndSendTheCalculatedPeaks) {
    calculated("100.5 100\n101.5 10.25\n");
    host.commands.clear();
    d->PM_IC_CopyData->trigger();
    const std::vector<std::string> expected = {
        "Cursor Busy", "CopyText \"100.50000000 100.00000000\r\n101.50000000 10.25000000\r\n\"",
        "Cursor Default"};
    EXPECT_EQ(expected, host.commands);

    FormatSettings.DecimalSeparator = ',';
    d->PM_IC_SendExp->trigger();
    EXPECT_EQ("100,50000000 100,00000000\n101,50000000 10,25000000\n",
              d->ui.ME_ExData->toPlainText());
    EXPECT_TRUE(d->ui.BT_ExUpdate->isEnabled());
    EXPECT_EQ(nullptr, d->SerExp); // built only by the update button
    d->BT_ExUpdateClick();
    ASSERT_NE(nullptr, d->SerExp);
    EXPECT_EQ(tops(d->SerCalc), tops(d->SerExp));
    EXPECT_EQ("Rms = 0,00", chart()->Title());

    // An empty calculated series copies an empty text.
    calculated("1");
    host.commands.clear();
    d->PM_IC_CopyData->trigger();
    EXPECT_TRUE(sent("CopyText \"\""));
}

TEST_F(IsoDialog, ReadOutWithinFourteenPixels) {
    FormatSettings.DecimalSeparator = ',';
    calculated("100.5 12.346\n");
    QApplication::processEvents();
    TLineSeries* s = d->SerCalc;
    const int px = s->CalcXPos(2), py = s->CalcYPos(2);
    ASSERT_TRUE(chart()->ChartRect().contains(px, py));

    d->TC_IsoChartMouseMove(chart(), {}, px + 14, py);
    EXPECT_EQ("100,500000\n12,35%", d->Hint);
    EXPECT_TRUE(d->ShowHint);
    d->TC_IsoChartMouseMove(chart(), {}, px + 15, py);
    EXPECT_EQ("", d->Hint);
    EXPECT_FALSE(d->ShowHint);
    d->TC_IsoChartMouseMove(chart(), {}, px - 10, py + 9); // 181 <= 199
    EXPECT_TRUE(d->ShowHint);
    d->TC_IsoChartMouseMove(chart(), {}, px - 10, py + 10); // 200
    EXPECT_FALSE(d->ShowHint);
    // Baseline points are not read out.
    d->TC_IsoChartMouseMove(chart(), {}, s->CalcXPos(1), s->CalcYPos(1));
    EXPECT_FALSE(d->ShowHint);

    // The same through the chart's own mouse movement.
    QTest::mouseMove(chart()->viewport(), QPoint(px + 3, py) - chart()->viewport()->pos());
    EXPECT_EQ("100,500000\n12,35%", d->Hint);

    // A new series clears the text; with no series the read-out leaves it alone.
    d->SerDelete(d->SerCalc);
    d->SerCalc = nullptr;
    d->TC_IsoChartMouseMove(chart(), {}, px, py);
    EXPECT_EQ("100,500000\n12,35%", d->Hint);
    d->SerCalc = d->SerNew(0x0000FF);
    EXPECT_EQ("", d->Hint);
}

TEST_F(IsoDialog, EqualDistancesReadTheFirstSeries) {
    experimental("100.5 12.346");
    calculated("100.5 12.3449\n");
    QApplication::processEvents();
    const int px = d->SerCalc->CalcXPos(2), py = d->SerCalc->CalcYPos(2);
    ASSERT_EQ(px, d->SerExp->CalcXPos(2));
    ASSERT_EQ(py, d->SerExp->CalcYPos(2));
    d->TC_IsoChartMouseMove(chart(), {}, px, py);
    EXPECT_EQ("100.500000\n12.35%", d->Hint); // the experimental series was added first
}

TEST_F(IsoDialog, ZoomInOutAndReset) {
    calculated("180.063388 100\n181.0668 6.86\n182.068 1.43\n");
    experimental("180.06 90\n181.07 7");
    QApplication::processEvents();
    QValueAxis* x = chart()->BottomAxis();
    QValueAxis* y = chart()->LeftAxis();
    const double x0 = x->min(), x1 = x->max(), y1 = y->max();
    EXPECT_LT(x0, 179.063388);
    EXPECT_GT(x1, 182.068);
    EXPECT_EQ(0.0, y->min());
    EXPECT_GT(y1, 100.0);

    d->PM_IC_ZoomIn->trigger();
    EXPECT_NEAR((x1 - x0) * 0.8, x->max() - x->min(), 1e-9);
    EXPECT_NEAR((x0 + x1) / 2, (x->min() + x->max()) / 2, 1e-9);
    EXPECT_EQ(0.0, y->min());
    EXPECT_NEAR(y1 * 0.8, y->max(), 1e-9);
    d->PM_IC_ZoomIn->trigger();
    d->PM_IC_ZoomOut->trigger();
    EXPECT_NEAR((x1 - x0) * 0.8 * 0.8 * 4, x->max() - x->min(), 1e-9);
    EXPECT_TRUE(chart()->Zoomed());
    d->PM_IC_ZoomReset->trigger();
    EXPECT_FALSE(chart()->Zoomed());
    EXPECT_DOUBLE_EQ(x0, x->min());
    EXPECT_DOUBLE_EQ(x1, x->max());
    EXPECT_DOUBLE_EQ(y1, y->max());

    // Each command ends with the reset.
    d->PM_IC_ZoomIn->trigger();
    experimental("180.06 90");
    EXPECT_FALSE(chart()->Zoomed());
}

TEST_F(IsoDialog, GlucoseFromTheRealInterpreter) {
    host.useRealInterpreter("english", data.path().toStdString() + "/");
    host.clearAnswers();
    selectRow("C6H12O6");
    d->PM_ResIsoDistClick();
    ASSERT_NE(nullptr, d->SerCalc);
    const auto peaks = tops(d->SerCalc);
    ASSERT_GE(peaks.size(), 3u);
    EXPECT_NEAR(180.063388, peaks[0].first, 1e-6);
    EXPECT_NEAR(100.0, peaks[0].second, 1e-9);
    EXPECT_NEAR(181.0668, peaks[1].first, 1e-3);
    EXPECT_NEAR(6.86, peaks[1].second, 0.01);
    EXPECT_NEAR(182.0680, peaks[2].first, 1e-3);
    EXPECT_NEAR(1.43, peaks[2].second, 0.01);

    // Sending the peaks to the memo and comparing them with themselves gives 0.
    d->PM_IC_SendExp->trigger();
    d->BT_ExUpdateClick();
    EXPECT_EQ("Rms = 0.00", chart()->Title());

    // A formula the host cannot read changes nothing.
    TLineSeries* old = d->SerCalc;
    {
        const QSignalBlocker block(d->ui.LV_Results);
        d->ui.LV_Results->clear();
    }
    selectRow("C6H12Xx");
    d->PM_ResIsoDistClick();
    EXPECT_EQ(old, d->SerCalc);
}

TEST_F(IsoDialog, AMillionCharactersOfRandomText) {
    QRandomGenerator rng(20240531);
    QString text;
    const int kChars = 1000000;
    text.reserve(kChars);
    const QString alphabet = QStringLiteral("0123456789.,;-+eE \t\n\rabcxyz\u00e9\u4e00");
    for (int i = 0; i < kChars; ++i)
        text += alphabet[int(rng.bounded(alphabet.size()))];
    calculated("100 100\n101 10\n");
    experimental(text);
    // Oracle: the memo's tokens, counted another way.
    const QStringList tokens =
        d->ui.ME_ExData->toPlainText().split(QRegularExpression("[\t\n\r ]+"), Qt::SkipEmptyParts);
    ASSERT_NE(nullptr, d->SerExp);
    EXPECT_EQ(tokens.size() / 2, (d->SerExp->Count() - 1) / 3);
    EXPECT_TRUE(chart()->Title().startsWith("Rms = "));
    QApplication::processEvents();
    const QImage shot = chart()->grab().toImage();
    EXPECT_FALSE(shot.isNull());
    const QRectF plot = chart()->ChartRect();
    d->TC_IsoChartMouseMove(chart(), {}, int(plot.center().x()), int(plot.center().y()));
}

TEST_F(IsoDialog, AMassTypedWithoutItsSeparatorKeepsTheAxesSane) {
    calculated("180.063388 100\n181.0668 6.86\n");
    QApplication::processEvents();
    experimental("180.06 100\n18006 5\n181.07 1e90");
    QApplication::processEvents();
    for (QValueAxis* axis : {chart()->BottomAxis(), chart()->LeftAxis()}) {
        ASSERT_EQ(QValueAxis::TicksDynamic, axis->tickType());
        EXPECT_LE((axis->max() - axis->min()) / axis->tickInterval(), 50.0);
    }
    EXPECT_GT(chart()->BottomAxis()->max(), 18006.0);
    EXPECT_GT(chart()->LeftAxis()->max(), 1e90);
    d->PM_IC_ZoomIn->trigger();
    d->PM_IC_ZoomIn->trigger();
    d->PM_IC_ZoomReset->trigger();
    EXPECT_LE(chart()->BottomAxis()->max() / chart()->BottomAxis()->tickInterval(), 50.0);
}

TEST_F(IsoDialog, NotANumberAndInfinityInTheMemo) {
    calculated("100 100\n101 10\n");
    experimental("nan 50\n100 inf\ninf 20\n-inf nan\n1e999 3\n101 -5\n100 100");
    ASSERT_NE(nullptr, d->SerExp);
    EXPECT_EQ(7u, tops(d->SerExp).size());
    EXPECT_TRUE(chart()->TitleVisible());
    EXPECT_TRUE(chart()->Title().startsWith("Rms = ")) << chart()->Title().toStdString();
    // The chart scales to the finite values and still draws and reads out.
    QApplication::processEvents();
    EXPECT_FALSE(chart()->grab().toImage().isNull());
    EXPECT_LT(chart()->BottomAxis()->max(), 1000.0);
    const QRectF plot = chart()->ChartRect();
    for (int x = int(plot.left()); x < plot.right(); x += 7)
        d->TC_IsoChartMouseMove(chart(), {}, x, int(plot.top()) + 5);
    std::string copied;
    d->SerCalcToStr(copied);
    EXPECT_EQ("100.00000000 100.00000000\r\n101.00000000 10.00000000\r\n", copied);

    // Probabilities that are all 0.
    experimental("100 0\n101 0");
    EXPECT_EQ("Rms = INF", chart()->Title());
}

} // namespace
