// How the results list shows its hits at the dialog's designed size: grid
// lines, the Mass column's width for masses of 6 and of 11 decimals, and no
// sideways jump when a cell is clicked.
#include <QHeaderView>
#include <QHelpEvent>
#include <QImage>
#include <QScrollBar>
#include <QTest>
#include <QToolTip>

#include "search_fixture.h"

namespace {

const char* const Glucoses = "1;180.063388;C6H12O6;D-Glucose;C\n"
                             "2;180.063388;C6H12O6;D-Galactose;C\n"
                             "3;180.063388;C6H12O6;3-Deoxyarabinohexonic acid;C\n";
const char* const LongGlucoses = "1;180.06338810418;C6H12O6;D-Glucose;C\n"
                                 "2;180.06338810418;C6H12O6;D-Galactose;C\n"
                                 "3;180.06338810418;C6H12O6;3-Deoxyarabinohexonic acid;C\n";

struct ResultsView : SearchFixture {
    TDlgQvMain* d = nullptr;
    QTreeWidget* lv = nullptr;
    void open(const char* answer) {
        addFile("Metabolites.db");
        host.answer("DbOpen", 0, "DB1");
        host.answer("DbInfo", 0, "SQLITE");
        host.answer("DbSqlExec", 0, answer);
        d = show();
        ASSERT_NE(nullptr, d);
        ASSERT_EQ(QSize(738, 441), d->size());
        choose(d, entryOf(d, "Metabolites"));
        FormatSettings.DecimalSeparator = '.';
        search(d, "180.0634", "2", 1);
        lv = d->ui.LV_Results;
        ASSERT_EQ(3, lv->topLevelItemCount());
        QApplication::processEvents();
    }
    // Where the Name column starts in the visible part of the list.
    int nameLeft() const { return lv->header()->sectionViewportPosition(2); }
};

TEST_F(ResultsView, GridLinesRunBetweenRowsAndColumns) {
    open(Glucoses);
    const QImage img = lv->viewport()->grab().toImage();
    const QColor base = lv->palette().color(QPalette::Base);
    const QRect row0 = lv->visualItemRect(lv->topLevelItem(0));
    const QHeaderView* h = lv->header();
    // The right edge of the Mass and Formula columns, halfway down the first row.
    for (int c : {0, 1}) {
        const int x = h->sectionViewportPosition(c) + h->sectionSize(c) - 1;
        EXPECT_NE(base, img.pixelColor(x, row0.center().y())) << "no column line after column " << c;
    }
    // Under the first row, and below the last one where no row is.
    const int xBlank = h->sectionViewportPosition(1) + h->sectionSize(1) - 4; // past "C6H12O6"
    EXPECT_NE(base, img.pixelColor(xBlank, row0.bottom())) << "no line under the first row";
    const QRect last = lv->visualItemRect(lv->topLevelItem(2));
    EXPECT_NE(base, img.pixelColor(xBlank, last.bottom() + row0.height())) << "no line in the empty area";
    // ...and not through the rows' text area.
    EXPECT_EQ(base, img.pixelColor(xBlank, row0.center().y()));
}

TEST_F(ResultsView, MassesOf6DecimalsFitTheDesignedColumn) {
    open(Glucoses);
    EXPECT_EQ(80, lv->columnWidth(0));
    EXPECT_EQ(200, nameLeft()) << "the Name column starts where it was designed to";
}

TEST_F(ResultsView, MassesOf11DecimalsLeaveTheNameInView) {
    open(LongGlucoses);
    const int visible = lv->viewport()->width();
    // Wider than designed, but at least half of the Name column stays in view.
    EXPECT_GT(lv->columnWidth(0), 80);
    EXPECT_LE(nameLeft() + 100, visible) << "Name pushed out of view: Mass is " << lv->columnWidth(0);
    // The whole mass is the cut cell's tool tip.
    const QRect cell = lv->visualRect(lv->model()->index(0, 0));
    QHelpEvent tip(QEvent::ToolTip, cell.center(), lv->viewport()->mapToGlobal(cell.center()));
    QApplication::sendEvent(lv->viewport(), &tip);
    EXPECT_EQ("180.06338810418", QToolTip::text().toStdString());
    QToolTip::hideText();
}

TEST_F(ResultsView, ClickingANameCellDoesNotScrollSideways) {
    open(LongGlucoses);
    ASSERT_GT(lv->header()->length(), lv->viewport()->width()) << "the columns must overflow the list";
    ASSERT_EQ(0, lv->horizontalScrollBar()->value());
    for (int row : {1, 2, 0}) {
        const QRect name = lv->visualRect(lv->model()->index(row, 2));
        QTest::mouseClick(lv->viewport(), Qt::LeftButton, {}, QPoint(name.left() + 20, name.center().y()));
        EXPECT_TRUE(lv->topLevelItem(row)->isSelected());
        EXPECT_EQ(0, lv->horizontalScrollBar()->value()) << "row " << row;
    }
    // Going down with the keyboard scrolls down, never sideways.
    for (int i = 0; i < 2; ++i) QTest::keyClick(lv, Qt::Key_Down);
    EXPECT_EQ(0, lv->horizontalScrollBar()->value());
}

} // namespace
