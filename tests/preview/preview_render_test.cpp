// The structure renderer on real panels: drawing, requests, the worker's
// life, the toolkit's binding and the shared display lock.
#include <QLabel>
#include <QPixmap>
#include <QRandomGenerator>
#include <QTest>
#include <indigo.h>

#include "dlg_main.h"
#include "plugin_state.h"
#include "preview_test_util.h"
#include "render2d.h"

using namespace preview_test;

namespace {

constexpr int Patience = 120000; // ms: a generous bound, never a speed check

// Waits until the worker has finished the latest request and its picture
// has been painted.
bool WaitShown(CRender2D& r, const std::string& text) {
    return QTest::qWaitFor(
        [&] {
            return r.ShownText() == text &&
                   (!r.HasMolecule() || r.PaintedGeneration() == r.Generation());
        },
        Patience);
}

QImage Grab(QWidget& w) {
    return w.grab().toImage();
}

// Objects alive in a toolkit session (the session is bound to this thread).
int ObjectsIn(unsigned long long session) {
    indigoSetSessionId(session);
    return indigoCountReferences();
}

using PreviewRender = PreviewTest;

TEST_F(PreviewRender, DrawsTheMoleculeFittedWithinItsMargins) {
    auto panel = NewPanel();
    CRender2D r(panel.get());
    r.Delay = 0;
    r.SetMolecule(Phenol, true);
    ASSERT_TRUE(WaitShown(r, Phenol));
    ASSERT_TRUE(r.HasMolecule());
    QImage shot = Grab(*panel);
    shot.save(QString::fromStdString(ShotPath("phenol_334x363.png")));
    EXPECT_GT(CountDark(shot), 500);

    // Fitted: inside the 8-pixel margins, centred, and touching them on one
    // axis (the toolkit may keep a pixel or two of anti-aliasing inside)
    // unless the toolkit's longest bond stops the drawing from growing.
    auto checkFit = [](const QImage& im, bool touches) {
        const QRect b = DarkBounds(im);
        ASSERT_FALSE(b.isNull());
        EXPECT_GE(b.left(), 7);
        EXPECT_GE(b.top(), 7);
        EXPECT_LE(b.right(), im.width() - 8);
        EXPECT_LE(b.bottom(), im.height() - 8);
        EXPECT_NEAR(b.center().x(), im.width() / 2, 2);
        EXPECT_NEAR(b.center().y(), im.height() / 2, 2);
        const bool wide = b.width() >= im.width() - 16 - 24;
        const bool tall = b.height() >= im.height() - 16 - 24;
        if (touches) {
            EXPECT_TRUE(wide || tall) << "drawing " << b.width() << "x" << b.height() << " in "
                                      << im.width() << "x" << im.height();
        }
    };
    {
        SCOPED_TRACE("design size");
        checkFit(shot, true);
    }

    // A resize draws it again at the new size: a small molecule stays at the
    // toolkit's longest bond, a large one is fitted to the new size.
    panel->resize(640, 300);
    QCoreApplication::processEvents();
    QImage wide = Grab(*panel);
    wide.save(QString::fromStdString(ShotPath("phenol_640x300.png")));
    {
        SCOPED_TRACE("resized");
        checkFit(wide, false);
    }
    r.SetMolecule(Atorvastatin, true);
    ASSERT_TRUE(WaitShown(r, Atorvastatin));
    for (QSize size : {QSize(334, 363), QSize(700, 300), QSize(300, 700)}) {
        panel->resize(size);
        QCoreApplication::processEvents();
        const QImage im = Grab(*panel);
        im.save(QString::fromStdString(ShotPath("atorvastatin_" + std::to_string(size.width()) +
                                                "x" + std::to_string(size.height()) + ".png")));
        SCOPED_TRACE(size.width());
        checkFit(im, true);
    }
}

TEST_F(PreviewRender, NoTextOrUnreadableTextLeavesThePanelsOwnFace) {
    auto panel = NewPanel();
    // A red logo picture in a corner, as the dialog's logo label sits in the panel.
    auto* logo = new QLabel(panel.get());
    QPixmap red(40, 40);
    red.fill(Qt::red);
    logo->setPixmap(red);
    logo->setGeometry(0, 0, 40, 40);
    logo->show();

    CRender2D r(panel.get());
    r.Delay = 0;
    EXPECT_FALSE(r.IsMenuEnabled());
    EXPECT_GT(CountRed(Grab(*panel)), 1000);

    r.SetMolecule("CCO", true);
    EXPECT_TRUE(r.IsMenuEnabled());
    ASSERT_TRUE(WaitShown(r, "CCO"));
    EXPECT_TRUE(r.HasMolecule());
    EXPECT_GT(CountDark(Grab(*panel)), 50);

    // Unreadable: nothing drawn, the commands stay enabled.
    r.SetMolecule("C1CC(((", true);
    ASSERT_TRUE(WaitShown(r, "C1CC((("));
    EXPECT_FALSE(r.HasMolecule());
    EXPECT_TRUE(r.IsMenuEnabled());
    QImage shot = Grab(*panel);
    EXPECT_EQ(0, CountDark(shot));
    EXPECT_GT(CountRed(shot), 1000);

    for (const char* empty : {static_cast<const char*>(nullptr), ""}) {
        r.SetMolecule("CCO", true);
        ASSERT_TRUE(WaitShown(r, "CCO"));
        ASSERT_TRUE(r.HasMolecule());
        r.SetMolecule(empty, true);
        EXPECT_FALSE(r.IsMenuEnabled());
        EXPECT_TRUE(r.Text().empty());
        ASSERT_TRUE(WaitShown(r, ""));
        EXPECT_FALSE(r.HasMolecule());
        shot = Grab(*panel);
        EXPECT_EQ(0, CountDark(shot));
        EXPECT_GT(CountRed(shot), 1000);
    }
}

TEST_F(PreviewRender, ABurstOfRequestsEndsWithTheLastOne) {
    auto panel = NewPanel();
    CRender2D r(panel.get());
    r.Delay = 0;
    const char* texts[] = {Glucose, "CCN",        "not a smiles", Atorvastatin,
                           "",      CyclosporinA, "c1ccncc1"};
    for (int round = 0; round < 20; ++round)
        for (const char* t : texts)
            r.SetMolecule(t, true);
    r.SetMolecule(Glucose, true);
    ASSERT_TRUE(WaitShown(r, Glucose));
    EXPECT_TRUE(r.HasMolecule());
    // Requests collapse: far fewer were drawn than were made.
    EXPECT_LT(r.Generation(), 20u * 7u);
    const QImage burst = Grab(*panel);

    // The same picture as a renderer that was only ever asked for glucose.
    auto other = NewPanel();
    CRender2D single(other.get());
    single.Delay = 0;
    single.SetMolecule(Glucose, true);
    ASSERT_TRUE(WaitShown(single, Glucose));
    EXPECT_EQ(Grab(*other), burst);
}

TEST_F(PreviewRender, ALongLayoutNeverHoldsUpTheUserInterface) {
    auto panel = NewPanel(1200, 900);
    CRender2D r(panel.get());
    r.Delay = 0;
    r.SetMolecule("CCO", true);
    ASSERT_TRUE(WaitShown(r, "CCO"));
    const uint64_t before = r.Generation();

    // 200 residues take the worker a long while to lay out. Were the user
    // interface to wait for it anywhere (a request, a paint, a state query),
    // the worker would have finished before these calls return.
    const std::string peptide = Peptide(200);
    r.SetMolecule(peptide.c_str(), true);
    panel->repaint();
    r.SetMolecule(peptide.c_str(), true);
    panel->repaint();
    EXPECT_TRUE(r.HasMolecule()); // still the previous molecule
    EXPECT_EQ(before, r.Generation());

    ASSERT_TRUE(WaitShown(r, peptide));
    ASSERT_TRUE(r.HasMolecule());
    const QImage shot = Grab(*panel);
    shot.save(QString::fromStdString(ShotPath("peptide200.png")));
    // So long a chain has short bonds and faint lines, but they are there.
    const QImage im = shot.convertToFormat(QImage::Format_RGB32);
    int drawn = 0;
    for (int y = 0; y < im.height(); ++y)
        for (int x = 0; x < im.width(); ++x)
            drawn += im.pixel(x, y) != im.pixel(0, 0);
    EXPECT_GT(drawn, 1000);
}

TEST_F(PreviewRender, DestroyingARendererStopsItsWorkerAndGivesThePanelBack) {
    auto panel = NewPanel();
    const std::string peptide = Peptide(120);
    {
        // Busy: destroyed while the worker lays out.
        CRender2D r(panel.get());
        r.Delay = 0;
        r.SetMolecule(peptide.c_str(), true);
        QTest::qWait(20);
        EXPECT_EQ(1, CRender2D::RenderCount);
    }
    EXPECT_EQ(0, CRender2D::RenderCount);
    EXPECT_EQ(nullptr, CRender2D::hRenderMutex);
    EXPECT_FALSE(panel->property("quorvelRender2D").isValid());
    EXPECT_TRUE(panel->actions().isEmpty());
    {
        // Idle in its pause after a request (default delay of a second).
        CRender2D r(panel.get());
        r.SetMolecule("CCO", true);
        ASSERT_TRUE(WaitShown(r, "CCO"));
        EXPECT_NE(0u, r.ThreadId());
    }
    // Nothing drawn on the panel any more, and no repaint left pending.
    QCoreApplication::processEvents();
    EXPECT_EQ(0, CountDark(Grab(*panel)));
}

TEST_F(PreviewRender, TwoRenderersShareOneLockClosedWithTheLast) {
    auto p1 = NewPanel(), p2 = NewPanel();
    auto r1 = std::make_unique<CRender2D>(p1.get());
    std::mutex* lock = CRender2D::hRenderMutex;
    ASSERT_NE(nullptr, lock);
    auto r2 = std::make_unique<CRender2D>(p2.get());
    EXPECT_EQ(lock, CRender2D::hRenderMutex);
    EXPECT_EQ(2, CRender2D::RenderCount);
    r1->Delay = r2->Delay = 0;
    r1->SetMolecule(Atorvastatin, true);
    r2->SetMolecule(Glucose, true);
    ASSERT_TRUE(WaitShown(*r1, Atorvastatin));
    ASSERT_TRUE(WaitShown(*r2, Glucose));
    EXPECT_NE(Grab(*p1), Grab(*p2));
    r1.reset();
    EXPECT_EQ(lock, CRender2D::hRenderMutex);
    EXPECT_EQ(1, CRender2D::RenderCount);
    // The survivor still works.
    r2->SetMolecule("CCO", true);
    ASSERT_TRUE(WaitShown(*r2, "CCO"));
    r2.reset();
    EXPECT_EQ(nullptr, CRender2D::hRenderMutex);
    EXPECT_EQ(0, CRender2D::RenderCount);
}

TEST(PreviewBinding, AMissingLibraryFailsTheConstructionUntilItIsThere) {
    QFrame panel;
    panel.resize(200, 200);
    panel.show();
    EXPECT_THROW(CRender2D(nullptr), int);
    {
        TestHost host;
        host.loader.refuse("indigo.dll");
        ASSERT_NE(nullptr, Init(&host.info));
        EXPECT_THROW(CRender2D{&panel}, int);
        EXPECT_EQ(nullptr, hIndigo);
        EXPECT_EQ(nullptr, hIndigoRenderer);
        EXPECT_EQ(0, CRender2D::RenderCount);
        EXPECT_EQ(nullptr, CRender2D::hRenderMutex);
        EXPECT_FALSE(panel.property("quorvelRender2D").isValid());
        EXPECT_TRUE(panel.actions().isEmpty());
        Free();
    }
    {
        // The core loads, the renderer does not: the core stays bound, and
        // the next attempt, with the library there, loads only the other one.
        TestHost refusing;
        refusing.loader.refuse("indigo-renderer.dll");
        ASSERT_NE(nullptr, Init(&refusing.info));
        EXPECT_THROW(CRender2D{&panel}, int);
        void* core = hIndigo;
        EXPECT_NE(nullptr, core);
        EXPECT_EQ(nullptr, hIndigoRenderer);

        TestHost allowing; // the loader the host has once the library is installed
        TwInfo = &allowing.info;
        {
            CRender2D r(&panel);
            EXPECT_EQ(core, hIndigo);
            EXPECT_NE(nullptr, hIndigoRenderer);
            r.Delay = 0;
            r.SetMolecule(Phenol, true);
            ASSERT_TRUE(WaitShown(r, Phenol));
            EXPECT_GT(CountDark(Grab(panel)), 200);
        }
        Free();
    }
}

TEST_F(PreviewRender, AsIsFalseFoldsHydrogens) {
    auto a = NewPanel(), b = NewPanel();
    CRender2D asRead(a.get()), folded(b.get());
    asRead.Delay = folded.Delay = 0;
    const char* withH = "[H]OC([H])([H])C([H])([H])[H]";
    asRead.SetMolecule(withH, true);
    folded.SetMolecule(withH, false);
    ASSERT_TRUE(WaitShown(asRead, withH));
    ASSERT_TRUE(WaitShown(folded, withH));
    // Folded, the drawing is ethanol's: the same as from "OCC" read as is.
    auto c = NewPanel();
    CRender2D plain(c.get());
    plain.Delay = 0;
    plain.SetMolecule("OCC", true);
    ASSERT_TRUE(WaitShown(plain, "OCC"));
    EXPECT_LT(CountDark(Grab(*b)), CountDark(Grab(*a)));
    EXPECT_GT(CountDark(Grab(*b)), 50);
}

// Thousands of requests, valid and not, while the panel repaints and
// resizes; the sessions end holding only the molecule on show. Run under
// ThreadSanitizer in a build of its own.
TEST_F(PreviewRender, StressOfRequestsWhileThePanelRepaintsAndResizes) {
    auto panel = NewPanel();
    CRender2D r(panel.get());
    r.Delay = 0;
    const char* pool[] = {
        Phenol, Glucose, Atorvastatin, "CCO",         "C1=CC=CN=C1",    "",
        "((",   "C1CC",  "[Xx]",       "OC(=O)C(N)C", "c1ccc2ccccc2c1", "F/C=C/F"};
    QRandomGenerator rng(20240611);
    const int n = qEnvironmentVariableIntValue("QV_PREVIEW_STRESS") > 0
                      ? qEnvironmentVariableIntValue("QV_PREVIEW_STRESS")
                      : 3000;
    for (int i = 0; i < n; ++i) {
        r.SetMolecule(pool[rng.bounded(int(std::size(pool)))], rng.bounded(2) == 0);
        if (i % 7 == 0) panel->repaint();
        if (i % 50 == 0) panel->resize(200 + rng.bounded(400), 150 + rng.bounded(400));
        if (i % 3 == 0) QCoreApplication::processEvents();
    }
    r.SetMolecule(Atorvastatin, true);
    ASSERT_TRUE(WaitShown(r, Atorvastatin));
    EXPECT_GT(r.Generation(), 1u);
    EXPECT_GT(CountDark(Grab(*panel)), 300);
    // No object of the toolkit left behind: the molecule on show only.
    const auto [shown, work] = r.Sessions();
    EXPECT_EQ(1, ObjectsIn(shown));
    EXPECT_EQ(0, ObjectsIn(work));
}

} // namespace
