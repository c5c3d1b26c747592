// Anchors of TAlphaForm: placement arithmetic, a form laid out like the
// working dialog (resized through the real resize events), and controls that
// code moves.
#include "alphaform.h"
#include "ui_AnchorTestForm.h"

#include <QApplication>
#include <QTabWidget>
#include <QTest>
#include <cmath>
#include <gtest/gtest.h>
#include <map>
#include <string>

namespace {

int FloorHalf(int v) {
    return v >= 0 ? v / 2 : -((-v + 1) / 2);
}

// The working dialog's own resize rule: extra width is shared equally
// between the left column and the page control.
class TTestMain : public TAlphaForm {
  public:
    Ui::AnchorTestForm ui;
    int DesignWidth = 0, DesignResultsWidth = 0, DesignViewLeft = 0, DesignViewWidth = 0;
    QRect paramSeenInHook; // PN_Options as OnFormResize found it

    explicit TTestMain(bool withMinimum = true) : TAlphaForm(nullptr, AF_TOOLWINDOW) {
        ui.setupUi(this);
        LoadForm();
        if (withMinimum) SetMinSize(width(), height() - 80);
        DesignWidth = width();
        DesignResultsWidth = ui.GRP_Results->width();
        DesignViewLeft = ui.PC_View->x();
        DesignViewWidth = ui.PC_View->width();
    }

  protected:
    void OnFormResize() override {
        paramSeenInHook = ui.PN_Options->geometry();
        const int d = FloorHalf(width() - DesignWidth);
        QWidget* v = ui.PC_View;
        SetControlBounds(v, DesignViewLeft + d, v->y(), DesignViewWidth + d, v->height());
        for (QWidget* g :
             {static_cast<QWidget*>(ui.GRP_Param), static_cast<QWidget*>(ui.GRP_Results)})
            SetControlBounds(g, g->x(), g->y(), DesignResultsWidth + d, g->height());
    }
};

// Expected geometry of every control for a form of size w x h, written out
// from the design table: d = half the extra width (rounded down), dh the
// extra height; `page0` is the tab page's size at the design size.
std::map<std::string, QRect> Expected(int w, int h, QSize page0, QSize page) {
    const int dw = w - 738, dh = h - 441, d = FloorHalf(dw);
    const int pw = page.width() - page0.width(), ph = page.height() - page0.height();
    return {
        {"PN_Options", {4, 4, 730 + dw, 413 + dh}},
        {"SB_Status", {0, 422 + dh, 738 + dw, 19}},
        {"GRP_Param", {8, 8, 361 + d, 145}},
        {"CB_Database", {152, 20, 201, 21}},
        {"STR_Ppm", {256, 48, 65, 21}},
        {"BT_Search", {264, 108, 89, 25}},
        {"GRP_Results", {8, 156, 361 + d, 249 + dh}},
        {"LBL_FoundNum", {121 + d, 16, 180, 16}},
        {"LBL_FoundNumVal", {302 + d, 16, 50, 16}},
        {"PN_Results", {8, 40, 345 + d, 201 + dh}},
        {"LV_Results", {2, 2, 341 + d, 197 + dh}},
        {"PC_View", {375 + d, 8, 348 + d, 397 + dh}},
        {"PN_Preview", {3, 3, 334 + pw, 363 + ph}},
        {"IMG_Logo", {2, 2, 330 + pw, 359 + ph}},
        {"GRP_Experimental", {5, 3, 330 + pw, 145}},
        {"ME_ExData", {8, 20, 314 + pw, 85}},
        {"LBL_ExInfo", {8, 111, 210 + pw, 31}},
        {"BT_ExUpdate", {233 + pw, 112, 89, 25}},
        {"GRP_IsoChart", {5, 154, 330 + pw, 212 + ph}},
        {"TC_IsoChart", {3, 24, 317 + pw, 185 + ph}},
    };
}

void ExpectLayout(TTestMain& f, QSize page0, const char* when) {
    // A page grows exactly as the page control does; the hidden page, which
    // Qt does not size until it is shown, has its controls placed for that
    // size too.
    const QSize page = page0 + (f.ui.PC_View->size() - QSize(348, 397));
    EXPECT_EQ(f.ui.PC_View->currentWidget()->size(), page) << when;
    for (const auto& [name, rect] : Expected(f.width(), f.height(), page0, page)) {
        auto* w = f.findChild<QWidget*>(QString::fromStdString(name));
        ASSERT_NE(w, nullptr) << name;
        EXPECT_EQ(w->geometry(), rect)
            << name << " " << when << " at " << f.width() << "x" << f.height();
    }
}

void ResizeTo(QWidget& w, int width, int height) {
    w.resize(width, height);
    QCoreApplication::processEvents();
    ASSERT_EQ(w.size(), QSize(width, height));
}

} // namespace

TEST(AnchorPlace, FollowsEachAnchorKind) {
    const QRect r(10, 20, 30, 40);
    const QSize p0(100, 200), p1(150, 160); // 50 wider, 40 lower
    EXPECT_EQ(BriskAnchorPlace(r, p0, p1, AK_LEFT | AK_TOP), r);
    EXPECT_EQ(BriskAnchorPlace(r, p0, p1, AK_ALL), QRect(10, 20, 80, 0));
    EXPECT_EQ(BriskAnchorPlace(r, p0, p1, AK_RIGHT | AK_BOTTOM), QRect(60, -20, 30, 40));
    EXPECT_EQ(BriskAnchorPlace(r, p0, QSize(100, 100), AK_ALL), QRect(10, 20, 30, 0))
        << "a height that would go negative stops at 0";
    // No anchor on an axis: the centre keeps its relative place. Centre 25 of
    // 100 becomes 37.5 of 150; centre 40 of 200 becomes 32 of 160.
    const QRect c = BriskAnchorPlace(r, p0, p1, 0);
    EXPECT_EQ(c.size(), r.size());
    EXPECT_NEAR(c.x() + c.width() / 2.0, 25.0 * 150 / 100, 0.5);
    EXPECT_NEAR(c.y() + c.height() / 2.0, 40.0 * 160 / 200, 0.5);
    // An invalid design parent leaves the control where it was designed.
    EXPECT_EQ(BriskAnchorPlace(r, QSize(), p1, AK_ALL), r);
}

TEST(AnchorPlace, ParsesTheDesignerProperty) {
    EXPECT_EQ(BriskParseAnchors("left,top,right,bottom"), unsigned(AK_ALL));
    EXPECT_EQ(BriskParseAnchors(" Top , RIGHT "), unsigned(AK_TOP | AK_RIGHT));
    EXPECT_EQ(BriskParseAnchors("akLeft|akBottom"), unsigned(AK_LEFT | AK_BOTTOM));
    EXPECT_EQ(BriskParseAnchors("left sideways"), unsigned(AK_LEFT));
    EXPECT_EQ(BriskParseAnchors(""), 0u);
}

TEST(AnchorForm, WorkingDialogLayoutFollowsResizes) {
    TTestMain f;
    f.show();
    QCoreApplication::processEvents();
    ASSERT_EQ(f.size(), QSize(738, 441));
    const QSize page0 = f.ui.TS_Preview->size();
    ASSERT_FALSE(page0.isEmpty());
    // The page size the anchors assumed at load time is the one Qt gave the
    // page: the design geometry is kept exactly at the design size.
    ExpectLayout(f, page0, "design");

    ResizeTo(f, 839, 441); // 101 wider: page control 50 right and 50 wider
    EXPECT_EQ(f.ui.PC_View->geometry(), QRect(425, 8, 398, 397));
    EXPECT_EQ(f.ui.GRP_Param->width(), 411);
    EXPECT_EQ(f.ui.GRP_Results->width(), 411);
    ExpectLayout(f, page0, "wider");
    // The hook runs after the anchors placed the form's children.
    EXPECT_EQ(f.paramSeenInHook, QRect(4, 4, 831, 413));

    ResizeTo(f, 839, 541);
    ExpectLayout(f, page0, "higher");
    f.ui.PC_View->setCurrentIndex(1);
    QCoreApplication::processEvents();
    ExpectLayout(f, page0, "chart page");

    ResizeTo(f, 738, 441);
    ExpectLayout(f, page0, "back to design");
    f.ui.PC_View->setCurrentIndex(0);
    QCoreApplication::processEvents();
    ExpectLayout(f, page0, "preview page at design");
}

TEST(AnchorForm, ManyResizesLeaveNoDrift) {
    TTestMain f;
    f.show();
    QCoreApplication::processEvents();
    const QSize page0 = f.ui.TS_Preview->size();
    std::map<QString, QRect> design;
    // Every control the form defines; the tab pages and Qt's inner widgets
    // (in "qt_" parents) are placed by Qt.
    auto defined = [](const QWidget* w) {
        return !w->objectName().isEmpty() && !w->objectName().startsWith("qt_") &&
               !w->objectName().startsWith("TS_") &&
               !w->parentWidget()->objectName().startsWith("qt_");
    };
    for (QWidget* w : f.findChildren<QWidget*>())
        if (defined(w)) design[w->objectName()] = w->geometry();
    ASSERT_EQ(design.size(), 28u);

    unsigned seed = 12345;
    auto next = [&seed](int lo, int hi) {
        seed = seed * 1103515245u + 12345u;
        return lo + int((seed >> 8) % unsigned(hi - lo + 1));
    };
    for (int i = 0; i < 150; ++i) {
        ResizeTo(f, next(738, 1500), next(361, 1000));
        if (i % 37 == 0) f.ui.PC_View->setCurrentIndex(1 - f.ui.PC_View->currentIndex());
        if (i % 10 == 0) ExpectLayout(f, page0, "random size");
    }
    f.ui.PC_View->setCurrentIndex(1);
    ResizeTo(f, 738, 441);
    f.ui.PC_View->setCurrentIndex(0);
    QCoreApplication::processEvents();
    for (QWidget* w : f.findChildren<QWidget*>()) {
        if (!defined(w)) continue;
        EXPECT_EQ(w->geometry(), design[w->objectName()]) << qPrintable(w->objectName());
    }
}

TEST(AnchorForm, ResizedWhileHiddenIsRightAtFirstShow) {
    TTestMain f;
    f.resize(900, 500); // no resize event reaches a hidden window
    f.show();
    QCoreApplication::processEvents();
    ASSERT_EQ(f.size(), QSize(900, 500));
    // The page size at the design size, from a second form shown as designed.
    TTestMain ref;
    ref.show();
    QCoreApplication::processEvents();
    ExpectLayout(f, ref.ui.TS_Preview->size(), "first show");
    f.ui.PC_View->setCurrentIndex(1);
    QCoreApplication::processEvents();
    ExpectLayout(f, ref.ui.TS_Preview->size(), "first show, chart page");
}

TEST(AnchorForm, SmallerThanDesignAndBackWithoutMinimum) {
    TTestMain f(false);
    f.show();
    QCoreApplication::processEvents();
    const QRect logo = f.ui.IMG_Logo->geometry();
    ResizeTo(f, 300, 200); // far below the design: sizes stop at 0
    EXPECT_GE(f.ui.LV_Results->height(), 0);
    ResizeTo(f, 738, 441);
    EXPECT_EQ(f.ui.IMG_Logo->geometry(), logo);
    EXPECT_EQ(f.ui.LV_Results->geometry(), QRect(2, 2, 341, 197));
    EXPECT_EQ(f.ui.PC_View->geometry(), QRect(375, 8, 348, 397));
}

namespace {

// A form built in code, with one control of each anchor kind.
class TCodeForm : public TAlphaForm {
  public:
    std::map<std::string, QWidget*> c;
    TCodeForm() : TAlphaForm(nullptr, AF_SYSMENU | AF_SIZEABLE) {
        resize(400, 300);
        auto add = [this](const char* name, QWidget* parent, QRect r, const char* anchors) {
            auto* w = new QWidget(parent);
            w->setObjectName(name);
            w->setGeometry(r);
            if (anchors) w->setProperty("anchors", QString::fromLatin1(anchors));
            c[name] = w;
        };
        add("plain", this, {10, 10, 50, 20}, nullptr);
        add("none", this, {100, 50, 40, 20}, "");
        add("right", this, {300, 10, 80, 20}, "top,right");
        add("bottom", this, {10, 250, 80, 30}, "left,bottom");
        add("all", this, {150, 100, 200, 100}, "left,top,right,bottom");
        add("inner", c["all"], {150, 70, 40, 20}, "right,bottom");
        LoadForm();
    }
};

} // namespace

TEST(AnchorForm, EveryAnchorKindInCode) {
    TCodeForm f;
    f.show();
    QCoreApplication::processEvents();
    ResizeTo(f, 520, 390); // +120, +90
    EXPECT_EQ(f.c["plain"]->geometry(), QRect(10, 10, 50, 20));
    EXPECT_EQ(f.c["right"]->geometry(), QRect(420, 10, 80, 20));
    EXPECT_EQ(f.c["bottom"]->geometry(), QRect(10, 340, 80, 30));
    EXPECT_EQ(f.c["all"]->geometry(), QRect(150, 100, 320, 190));
    EXPECT_EQ(f.c["inner"]->geometry(), QRect(270, 160, 40, 20));
    const QRect n = f.c["none"]->geometry();
    EXPECT_EQ(n.size(), QSize(40, 20));
    EXPECT_NEAR(n.x() + 20.0, 120.0 * 520 / 400, 0.5);
    EXPECT_NEAR(n.y() + 10.0, 60.0 * 390 / 300, 0.5);
    // Odd sizes, many times, and back: the centred control returns exactly.
    for (int i = 0; i < 40; ++i)
        ResizeTo(f, 401 + 7 * i, 301 + 3 * i);
    ResizeTo(f, 400, 300);
    EXPECT_EQ(f.c["none"]->geometry(), QRect(100, 50, 40, 20));
    EXPECT_EQ(f.c["inner"]->geometry(), QRect(150, 70, 40, 20));
}

TEST(AnchorForm, ControlMovedByCodeKeepsItsNewDistances) {
    TCodeForm f;
    f.show();
    QCoreApplication::processEvents();
    // Move "all" 20 px right and make it 30 px narrower: its right distance
    // becomes 60, its bottom distance stays 100; its child follows it.
    f.SetControlBounds(f.c["all"], 170, 100, 170, 100);
    EXPECT_EQ(f.c["inner"]->geometry(), QRect(120, 70, 40, 20));
    ResizeTo(f, 500, 350);
    EXPECT_EQ(f.c["all"]->geometry(), QRect(170, 100, 270, 150));
    EXPECT_EQ(f.c["inner"]->geometry(), QRect(220, 120, 40, 20));

    // Moved with setGeometry and then re-recorded.
    f.c["right"]->setGeometry(200, 40, 80, 20);
    f.AnchorsRebase(f.c["right"]);
    ResizeTo(f, 450, 350);
    EXPECT_EQ(f.c["right"]->geometry(), QRect(150, 40, 80, 20));

    // A control created after LoadForm, anchored by code.
    auto* late = new QWidget(&f);
    late->setGeometry(10, 300, 100, 20);
    f.SetAnchors(late, AK_LEFT | AK_RIGHT | AK_BOTTOM);
    EXPECT_EQ(f.Anchors(late), unsigned(AK_LEFT | AK_RIGHT | AK_BOTTOM));
    ResizeTo(f, 500, 400);
    EXPECT_EQ(late->geometry(), QRect(10, 350, 150, 20));
    delete late; // forgotten by the anchors; resizing goes on
    ResizeTo(f, 400, 300);
    EXPECT_EQ(f.c["plain"]->geometry(), QRect(10, 10, 50, 20));
}
