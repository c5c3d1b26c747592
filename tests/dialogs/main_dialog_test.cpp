// The main dialog's construction, show, resize and life cycle, and the about box.
#include <QAbstractItemView>
#include <QComboBox>
#include <QFontInfo>
#include <QLabel>
#include <QPushButton>
#include <QMenu>
#include "brisk.h"
#include <QLineEdit>
#include <QPointer>
#include <QTabWidget>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

#include "dialog_fixture.h"
#include "dlg_about.h"
#include "edit_popup.h"

namespace {

using MainDialog = DialogFixture;

QRect geo(QWidget* w) { return w->geometry(); }

TEST_F(MainDialog, IsBuiltWithItsLocalisedControls) {
    TDlgQvMain* d = show();
    ASSERT_NE(nullptr, d);
    EXPECT_EQ(QSize(738, 441), d->size());
    EXPECT_EQ("Mass spectrometry tool", d->windowTitle());
    EXPECT_EQ("&Search", d->ui.BT_Search->text());
    EXPECT_EQ("&Default", d->ui.BT_Default->text());
    EXPECT_EQ("Molecules found", d->ui.GRP_Results->title());
    QTreeWidgetItem* header = d->ui.LV_Results->headerItem();
    EXPECT_EQ("Mass", header->text(0));
    EXPECT_EQ("Formula", header->text(1));
    EXPECT_EQ("Name", header->text(2));
    ASSERT_EQ(3, d->ui.CB_Mass->count());
    EXPECT_EQ("[M+H]+", d->ui.CB_Mass->itemText(0));
    EXPECT_EQ("Monoisotopic mass:", d->ui.CB_Mass->itemText(1));
    EXPECT_EQ("[M-H]-", d->ui.CB_Mass->itemText(2));
    EXPECT_EQ(d->ui.TS_Preview, d->ui.PC_View->currentWidget());
    EXPECT_EQ("2D structure", d->ui.PC_View->tabText(0));
    EXPECT_EQ("Isotopic distribution", d->ui.PC_View->tabText(1));
    // Menus in the designed order, with pictures.
    QStringList names;
    for (QAction* a : d->PM_Results->actions()) names << a->objectName();
    EXPECT_EQ(QStringList({"PM_ResShow", "PM_ResIsoDist", "PM_ResSep3", "PM_ResSave", "PM_ResSep1",
                           "PM_ResCopy", "PM_ResCopyRow", "PM_ResCopyAll", "PM_ResSep2", "PM_ResExcel"}),
              names);
    EXPECT_EQ("&Show 3D structure", d->PM_ResShow->text());
    EXPECT_FALSE(d->PM_ResShow->icon().isNull());
    EXPECT_FALSE(d->PM_IC_Print->icon().isNull());
    EXPECT_EQ("Copy &data", d->PM_IC_CopyData->text());
    EXPECT_EQ(16, d->MenuImages->Count());
    EXPECT_EQ("Comma Separated Values (*.csv)|*.csv|Data Interchange Format (*.dif)|*.dif",
              d->SD_Results.Filter);
    EXPECT_FALSE(d->windowIcon().isNull());
    // Fields ready for what the user types and pastes.
    EXPECT_EQ(0x21u, d->ui.STR_Mass->property(EditPopupFlagsProperty).toUInt());
    EXPECT_EQ(0x41u, d->ui.STR_MaxResults->property(EditPopupFlagsProperty).toUInt());
    EXPECT_EQ(0x23u, d->ui.ME_ExData->property(EditPopupFlagsProperty).toUInt());
    EXPECT_EQ(100, d->ui.ME_ExData->property("tag").toInt());
}

TEST_F(MainDialog, FirstShowWithoutSettingsTakesTheDefaults) {
    TDlgQvMain* d = show();
    EXPECT_EQ(1, d->ui.CB_Mass->currentIndex());
    EXPECT_EQ("", d->ui.STR_Mass->text());
    EXPECT_EQ("2", d->ui.STR_Ppm->text());
    EXPECT_EQ("200", d->ui.STR_MaxResults->text());
    EXPECT_EQ(0, d->ui.CB_Database->currentIndex());
    EXPECT_EQ(0, SaveIni);
}

TEST_F(MainDialog, ClosingHidesAndTheNextShowKeepsWhatTheUserLeft) {
    TDlgQvMain* d = show();
    QPointer<TDlgQvMain> guard(d);
    d->ui.STR_Mass->setText("301.141");
    d->ui.STR_Ppm->setText("5");
    d->ui.CB_Mass->setCurrentIndex(0);
    d->ui.PC_View->setCurrentWidget(d->ui.TS_IsoChart);
    d->close();
    QApplication::processEvents();
    ASSERT_TRUE(guard);
    EXPECT_FALSE(d->isVisible());
    EXPECT_EQ(d, show()) << "a second Call(101) builds another dialog";
    EXPECT_TRUE(d->isVisible());
    EXPECT_EQ("301.141", d->ui.STR_Mass->text());
    EXPECT_EQ("5", d->ui.STR_Ppm->text());
    EXPECT_EQ(0, d->ui.CB_Mass->currentIndex());
    EXPECT_EQ(d->ui.TS_IsoChart, d->ui.PC_View->currentWidget());
    Free();
    EXPECT_FALSE(guard) << "Free left the dialog alive";
    EXPECT_EQ(nullptr, DlgQvMain);
    EXPECT_EQ(nullptr, PM_Edit);
    Init(&host.info);  // TearDown frees again
}

TEST_F(MainDialog, ExtraWidthIsSharedBetweenTheColumnsAndAnchorsDoTheRest) {
    TDlgQvMain* d = show();
    const QRect view = geo(d->ui.PC_View), param = geo(d->ui.GRP_Param),
                results = geo(d->ui.GRP_Results), list = geo(d->ui.PN_Results),
                update = geo(d->ui.BT_ExUpdate), found = geo(d->ui.LBL_FoundNumVal),
                status = geo(d->ui.SB_Status);
    EXPECT_EQ(QRect(375, 8, 348, 397), view);
    d->resize(738 + 101, 441 + 60);
    QApplication::processEvents();
    EXPECT_EQ(view.x() + 50, d->ui.PC_View->x());
    EXPECT_EQ(view.width() + 50, d->ui.PC_View->width());
    EXPECT_EQ(view.height() + 60, d->ui.PC_View->height());
    EXPECT_EQ(param.width() + 50, d->ui.GRP_Param->width());
    EXPECT_EQ(param.height(), d->ui.GRP_Param->height());
    EXPECT_EQ(results.width() + 50, d->ui.GRP_Results->width());
    EXPECT_EQ(results.height() + 60, d->ui.GRP_Results->height());
    // Inside the group: the list grows both ways, the count label follows the right edge.
    EXPECT_EQ(list.width() + 50, d->ui.PN_Results->width());
    EXPECT_EQ(list.height() + 60, d->ui.PN_Results->height());
    EXPECT_EQ(found.x() + 50, d->ui.LBL_FoundNumVal->x());
    EXPECT_EQ(status.y() + 60, d->ui.SB_Status->y());
    EXPECT_EQ(status.width() + 101, d->ui.SB_Status->width());
    // On the chart page the update button keeps to the bottom right.
    d->ui.PC_View->setCurrentWidget(d->ui.TS_IsoChart);
    QApplication::processEvents();
    QWidget* grp = d->ui.GRP_Experimental;
    EXPECT_EQ(grp->width() - (330 - update.right()), d->ui.BT_ExUpdate->geometry().right());
    EXPECT_EQ(d->ui.GRP_IsoChart->height() - (212 - 209), d->ui.TC_IsoChart->geometry().bottom() + 1);
    // Back to the design size: everything where it was.
    d->resize(738, 441);
    QApplication::processEvents();
    EXPECT_EQ(view, geo(d->ui.PC_View));
    EXPECT_EQ(results, geo(d->ui.GRP_Results));
    EXPECT_EQ(update, geo(d->ui.BT_ExUpdate));
}

// True when `f` draws every character as wide as every other.
bool fixedPitch(const QFont& f) {
    const QFontMetrics m(f);
    return m.horizontalAdvance("iiii") == m.horizontalAdvance("MMMM") &&
           m.horizontalAdvance("1.1.") == m.horizontalAdvance("0000");
}

TEST_F(MainDialog, LayoutFollowsTheDesign) {
    TDlgQvMain* d = show();
    // The form's designed font, 8 point; peaks in a fixed-pitch font of that size.
    EXPECT_EQ(8, d->font().pointSize());
    EXPECT_FALSE(fixedPitch(d->ui.STR_Mass->font()));
    EXPECT_TRUE(fixedPitch(d->ui.ME_ExData->font())) << QFontInfo(d->ui.ME_ExData->font()).family().toStdString();
    EXPECT_NEAR(d->font().pointSizeF(), d->ui.ME_ExData->font().pointSizeF(), 0.5);
    // The ion mode box shows "Monoisotopic mass:" whole, and still stops short of STR_Mass.
    QComboBox* cb = d->ui.CB_Mass;
    cb->setCurrentIndex(1);
    EXPECT_GE(cb->width(), cb->sizeHint().width()) << "the box cuts its text";
    EXPECT_GE(cb->width(), 133);
    EXPECT_EQ(QPoint(8, 48), cb->pos());
    EXPECT_LT(cb->geometry().right(), d->ui.STR_Mass->x());
    EXPECT_TRUE(cb->toolTip().isEmpty());
    // Its list shows every entry whole.
    cb->showPopup();
    QApplication::processEvents();
    EXPECT_GE(cb->view()->viewport()->width(), cb->view()->sizeHintForColumn(0));
    cb->hidePopup();
    // Anchors as designed: widening the form leaves the box where it is.
    const QRect before = cb->geometry();
    d->resize(d->width() + 101, d->height());
    QApplication::processEvents();
    EXPECT_EQ(before, cb->geometry());
}

TEST_F(MainDialog, NoButtonIsDrawnAsTheDefault) {
    TDlgQvMain* d = show();
    const QList<QPushButton*> buttons = d->findChildren<QPushButton*>();
    ASSERT_GE(buttons.size(), 3);
    for (QPushButton* b : buttons) {
        EXPECT_FALSE(b->isDefault()) << b->objectName().toStdString();
        EXPECT_FALSE(b->autoDefault()) << b->objectName().toStdString();
    }
    // Not even the one with the focus.
    d->ui.BT_Default->setFocus();
    QApplication::processEvents();
    EXPECT_FALSE(d->ui.BT_Default->isDefault());
}

TEST_F(MainDialog, CannotShrinkBelowItsDesign) {
    TDlgQvMain* d = show();
    EXPECT_EQ(QSize(738, 441 - 80), d->minimumSize());
    d->resize(500, 200);
    QApplication::processEvents();
    EXPECT_EQ(QSize(738, 361), d->size());
}

TEST_F(MainDialog, TypingIntoNumericFieldsIsFiltered) {
    TDlgQvMain* d = show();
    const char saved = FormatSettings.DecimalSeparator;
    for (char sep : {'.', ','}) {
        FormatSettings.DecimalSeparator = sep;
        const QString s(QChar::fromLatin1(sep));
        d->ui.STR_Mass->clear();
        QTest::keyClicks(d->ui.STR_Mass, "a-+12" + s + "5e" + s + "3 x");
        EXPECT_EQ("12" + s + "53", d->ui.STR_Mass->text());
        d->ui.STR_Ppm->clear();
        QTest::keyClicks(d->ui.STR_Ppm, "-2" + s + s + "5");
        EXPECT_EQ("2" + s + "5", d->ui.STR_Ppm->text());
        d->ui.STR_MaxResults->clear();
        QTest::keyClicks(d->ui.STR_MaxResults, "1,0.0-0e");
        EXPECT_EQ("1000", d->ui.STR_MaxResults->text());
    }
    FormatSettings.DecimalSeparator = saved;
}

TEST_F(MainDialog, AboutBoxIsBuiltOnceAndClosesWithReturnOrOk) {
    for (int round = 0; round < 2; ++round) {
        QTimer::singleShot(0, [round] {
            ASSERT_NE(nullptr, DlgQvAbout);
            ASSERT_TRUE(DlgQvAbout->isVisible());
            if (round == 0) QTest::keyClick(DlgQvAbout, Qt::Key_Return);
            else DlgQvAbout->ui.BT_Ok->click();
        });
        TDlgQvAbout* before = DlgQvAbout;
        EXPECT_EQ(1, Call(1));
        if (round == 1) {
            EXPECT_EQ(before, DlgQvAbout) << "the about box was built again";
        }
        ASSERT_NE(nullptr, DlgQvAbout);
        EXPECT_FALSE(DlgQvAbout->isVisible());
        EXPECT_EQ(MR_OK, DlgQvAbout->result());
    }
    TDlgQvAbout* a = DlgQvAbout;
    EXPECT_EQ("About Quorvel", a->windowTitle());
    EXPECT_EQ("2.0", a->ui.LBL_Version->text());
    EXPECT_EQ("&Ok", a->ui.BT_Ok->text());
    EXPECT_EQ("Mass spectrometry plug-in for Tarvish", a->ui.LBL_Desc->text());
    EXPECT_EQ("Translation by Orlavik", a->ui.LBL_Translation->text());
    EXPECT_EQ("", a->ui.LBL_Rights->text());
    EXPECT_EQ(a->minimumSize(), a->maximumSize());
    EXPECT_EQ(QSize(462, 187), a->size());
    EXPECT_FALSE(a->ui.IMG_Logo->pixmap().isNull());
    // The layout of the form.
    EXPECT_EQ(8, a->font().pointSize());
    EXPECT_EQ(QRect(262, 32, 18, 16), a->ui.LBL_Version->geometry());
    EXPECT_EQ(QRect(8, 60, 289, 13), a->ui.LBL_Desc->geometry());
    EXPECT_EQ(QRect(8, 80, 289, 13), a->ui.LBL_Copyright->geometry());
    EXPECT_EQ(QRect(8, 120, 289, 13), a->ui.LBL_Translation->geometry());
    // Each text's ink fits its label.
    for (QLabel* l : {a->ui.LBL_Version, a->ui.LBL_Desc, a->ui.LBL_Copyright, a->ui.LBL_Translation}) {
        const QRect ink = QFontMetrics(l->font()).tightBoundingRect(l->text());
        EXPECT_LE(ink.width(), l->width()) << l->objectName().toStdString();
        EXPECT_LE(ink.height(), l->height()) << l->objectName().toStdString();
    }
    EXPECT_TRUE(a->ui.BT_Ok->isDefault());
}

} // namespace
