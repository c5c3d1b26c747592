// The results list: sorting, selection, preview, the popup's availability and
// loading a hit into the host, with scripted answers.
#include <QAction>
#include <QCursor>
#include <QHeaderView>
#include <QTabWidget>
#include <QTest>

#include "render2d.h"
#include "search_core.h"
#include "search_fixture.h"

namespace {

struct ResultsList : SearchFixture {
    TDlgQvMain* d = nullptr;
    // Three hits, answered in ascending mass as the host does.
    void SetUp() override {
        SearchFixture::SetUp();
        addFile("Drugs.db");
        host.answer("DbOpen", 0, "DB7");
        host.answer("DbInfo", 0, "SQLITE");
        host.answer("DbSqlExec", 0,
                    "11;42.01;C2H2O;alpha;C=C=O\n"
                    "22;180.06;C6H12O6;Beta;OCC1OC(O)C(O)C(O)C1O\n"
                    "33;1000.5;C50H90;ALPHA;CCCCCCCCCC\n");
        d = show();
        d->ui.CB_Database->setCurrentIndex(entryOf(d, "Drugs"));
        emit d->ui.CB_Database->activated(d->ui.CB_Database->currentIndex());
        d->resize(900, 600);
        QApplication::processEvents();
    }
    void select(int row) { d->ui.LV_Results->setCurrentItem(d->ui.LV_Results->topLevelItem(row)); }
    void clickHeader(int column) { emit d->ui.LV_Results->header()->sectionClicked(column); }
    int32_t selectedId() { return d->RowIds[d->SelectedRow()]; }
};

TEST_F(ResultsList, MassSortsNumericallyUnderEitherSeparator) {
    for (char sep : {',', '.'}) {
        FormatSettings.DecimalSeparator = sep;
        search(d, sep == ',' ? "500,5" : "500.5", "1000000", 1);
        const QString s(sep);
        // The column's direction flag starts at 0: ascending first. As text,
        // "1000" would come before "180" and "42".
        d->ui.LV_Results->headerItem()->setData(0, Qt::UserRole, 0);
        clickHeader(0);
        EXPECT_EQ(QStringList({"42" + s + "01", "180" + s + "06", "1000" + s + "5"}), column(d, 0));
        clickHeader(0);
        EXPECT_EQ(QStringList({"1000" + s + "5", "180" + s + "06", "42" + s + "01"}), column(d, 0));
    }
}

TEST_F(ResultsList, TextColumnsSortIgnoringCaseEachWithItsOwnDirection) {
    search(d, "500", "1000000", 1);
    clickHeader(2); // Name ascending
    QStringList names = column(d, 2);
    EXPECT_EQ("Beta", names.back());
    EXPECT_EQ(0, CompareText(names[0], names[1]));
    clickHeader(1); // Formula ascending
    EXPECT_EQ(QStringList({"C2H2O", "C50H90", "C6H12O6"}), column(d, 1));
    clickHeader(2); // Name again: descending now
    names = column(d, 2);
    EXPECT_EQ("Beta", names.front());
    // A new search does not re-sort, and the directions stay.
    search(d, "500", "1000000", 1);
    EXPECT_EQ(QStringList({"alpha", "Beta", "ALPHA"}), column(d, 2));
    clickHeader(1);
    EXPECT_EQ(QStringList({"C6H12O6", "C50H90", "C2H2O"}), column(d, 1));
    EXPECT_EQ(1, d->SortColumn);
    EXPECT_EQ(1, d->SortDescending);
}

TEST_F(ResultsList, TheComparisonFollowsColumnAndDirection) {
    search(d, "500", "1000000", 1);
    QTreeWidget* lv = d->ui.LV_Results;
    QTreeWidgetItem *light = lv->topLevelItem(0), *heavy = lv->topLevelItem(2);
    d->SortColumn = 0;
    d->SortDescending = 0;
    EXPECT_LT(d->LV_ResultsCmpMass(light, heavy), 0);
    EXPECT_EQ(0, d->LV_ResultsCmpMass(light, light));
    d->SortDescending = 1;
    EXPECT_GT(d->LV_ResultsCmpMass(light, heavy), 0);
    d->SortColumn = 2; // alpha against ALPHA
    EXPECT_EQ(0, d->LV_ResultsCmpMass(light, heavy));
}

TEST_F(ResultsList, AfterSortingTheSelectedRowPreviewsAndLoadsItsOwnHit) {
    search(d, "500", "1000000", 1);
    select(1); // Beta, ID 22
    ASSERT_NE(nullptr, d->Renderer) << "the structure toolkit did not load";
    EXPECT_EQ("OCC1OC(O)C(O)C(O)C1O", d->Renderer->Text());
    clickHeader(2);
    clickHeader(2); // Name descending: Beta first
    ASSERT_EQ("Beta", d->ui.LV_Results->selectedItems().value(0)->text(2));
    EXPECT_EQ(22, selectedId());

    select(0);
    EXPECT_EQ("Beta", d->ui.LV_Results->topLevelItem(0)->text(2));
    select(2); // one of the two alphas
    const QString name = d->ui.LV_Results->topLevelItem(2)->text(2);
    const int32_t id = name == "alpha" ? 11 : 33;
    EXPECT_EQ(name == "alpha" ? "C=C=O" : "CCCCCCCCCC", d->Renderer->Text());
    EXPECT_TRUE(d->ui.IMG_Logo->isHidden());
    d->PM_ResShow->trigger();
    EXPECT_EQ("DbGetRowId DB7 " + std::to_string(id) + " Replace", sent("DbGetRowId").back());
    EXPECT_EQ(0, CursorState);
}

TEST_F(ResultsList, CommandsFollowTheSelectionAndTheLogoComesBack) {
    search(d, "500", "1000000", 1);
    const std::vector<QAction*> seven = {d->PM_ResCopy,  d->PM_ResCopyRow, d->PM_ResCopyAll,
                                         d->PM_ResExcel, d->PM_ResIsoDist, d->PM_ResSave,
                                         d->PM_ResShow};
    for (QAction* a : seven)
        EXPECT_FALSE(a->isEnabled()) << a->objectName().toStdString();
    select(0);
    for (QAction* a : seven)
        EXPECT_TRUE(a->isEnabled()) << a->objectName().toStdString();
    EXPECT_TRUE(d->ui.IMG_Logo->isHidden());
    // Ctrl-click on the selected row deselects it.
    QTreeWidget* lv = d->ui.LV_Results;
    const QRect r = lv->visualItemRect(lv->topLevelItem(0));
    QTest::mouseClick(lv->viewport(), Qt::LeftButton, Qt::ControlModifier, r.center());
    ASSERT_TRUE(lv->selectedItems().isEmpty());
    for (QAction* a : seven)
        EXPECT_FALSE(a->isEnabled()) << a->objectName().toStdString();
    EXPECT_FALSE(d->ui.IMG_Logo->isHidden());
    ASSERT_NE(nullptr, d->Renderer);
    EXPECT_EQ("", d->Renderer->Text());
    // Without a selected row nothing is loaded.
    d->PM_ResShowClick();
    EXPECT_TRUE(sent("DbGetRowId").empty());
}

TEST_F(ResultsList, ThePreviewFollowsOnlyWhileItsPageIsActive) {
    search(d, "500", "1000000", 1);
    select(0);
    ASSERT_NE(nullptr, d->Renderer);
    EXPECT_EQ("C=C=O", d->Renderer->Text());
    d->ui.PC_View->setCurrentWidget(d->ui.TS_IsoChart);
    select(2);
    EXPECT_EQ("C=C=O", d->Renderer->Text());
    d->ui.PC_View->setCurrentWidget(d->ui.TS_Preview);
    EXPECT_EQ("CCCCCCCCCC", d->Renderer->Text());
}

TEST_F(ResultsList, ThePopupRecordsTheColumnUnderTheMouse) {
    search(d, "500", "1000000", 1);
    select(0);
    QTreeWidget* lv = d->ui.LV_Results;
    const QRect r = lv->visualItemRect(lv->topLevelItem(1));
    const int nameX = lv->header()->sectionViewportPosition(2) + 5;
    QCursor::setPos(lv->viewport()->mapToGlobal(QPoint(nameX, r.center().y())));
    d->PM_ResultsPopup();
    EXPECT_EQ(2, d->PopupColumn);
    QCursor::setPos(lv->viewport()->mapToGlobal(QPoint(5, r.center().y())));
    d->PM_ResultsPopup();
    EXPECT_EQ(0, d->PopupColumn);
    // Below the last row: no cell, yet the commands stay as the selection says.
    QCursor::setPos(lv->viewport()->mapToGlobal(QPoint(nameX, lv->viewport()->height() - 3)));
    d->PM_ResultsPopup();
    EXPECT_EQ(-1, d->PopupColumn);
    EXPECT_TRUE(d->PM_ResShow->isEnabled());
}

TEST_F(ResultsList, ShowingNeedsAnOpenDatabase) {
    search(d, "500", "1000000", 1);
    select(0);
    d->DbName.clear();
    d->PM_ResShowClick();
    EXPECT_TRUE(sent("DbGetRowId").empty());
}

} // namespace
