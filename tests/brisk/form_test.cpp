// TAlphaForm flags, showing, hooks; dialog centring.
#include "alphaform.h"
#include "briskutil.h"

#include <QApplication>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>
#include <algorithm>
#include <stdexcept>
#include <vector>

namespace {

class TProbeForm : public TAlphaForm {
  public:
    std::vector<std::string>* log;
    QPushButton* ok;
    bool throwOnShow = false;

    TProbeForm(QWidget* owner, unsigned flags, std::vector<std::string>* l)
        : TAlphaForm(owner, flags), log(l) {
        resize(462, 187);
        ok = new QPushButton("OK", this);
        ok->setObjectName("BT_Ok");
        ok->setGeometry(186, 156, 89, 25);
        LoadForm();
    }
    ~TProbeForm() override { DoDestroy(); }

  protected:
    void OnFormShow() override {
        log->push_back("show");
        if (throwOnShow) throw std::runtime_error("show failed");
    }
    void OnFormResize() override { log->push_back("resize"); }
    void OnFormDestroy() override {
        // Every control still exists when the destroy hook runs.
        log->push_back(findChild<QPushButton*>("BT_Ok") ? "destroy+children" : "destroy");
    }
};

} // namespace

TEST(FormFlags, FixedModalDialog) {
    std::vector<std::string> log;
    QWidget owner;
    TProbeForm f(&owner, AF_DIALOG, &log);
    EXPECT_EQ(f.Flags(), 0x1005u);
    EXPECT_EQ(f.parentWidget(), &owner);
    EXPECT_TRUE(f.isWindow());
    EXPECT_EQ(f.DesignSize(), QSize(462, 187));
    EXPECT_EQ(f.minimumSize(), QSize(462, 187));
    EXPECT_EQ(f.maximumSize(), QSize(462, 187));
    EXPECT_EQ(f.windowModality(), Qt::ApplicationModal);
    EXPECT_FALSE(f.windowFlags() & Qt::WindowMaximizeButtonHint);
    EXPECT_FALSE(f.windowFlags() & Qt::WindowMinimizeButtonHint);
    EXPECT_TRUE(f.windowFlags() & Qt::WindowCloseButtonHint);
    f.resize(700, 500);
    EXPECT_EQ(f.size(), QSize(462, 187));
}

TEST(FormFlags, ResizableModelessWindow) {
    std::vector<std::string> log;
    QWidget owner;
    TProbeForm f(&owner, AF_TOOLWINDOW, &log);
    EXPECT_EQ(f.Flags(), 0x130Bu);
    EXPECT_EQ(f.parentWidget(), &owner);
    EXPECT_EQ(f.windowModality(), Qt::NonModal);
    EXPECT_TRUE(f.windowFlags() & Qt::WindowMaximizeButtonHint);
    EXPECT_TRUE(f.windowFlags() & Qt::WindowMinimizeButtonHint);
    EXPECT_NE(f.minimumSize(), f.maximumSize());
    f.SetMinSize(462, 187 - 80);
    f.resize(300, 50);
    EXPECT_EQ(f.size(), QSize(462, 107));
    f.resize(900, 600);
    EXPECT_EQ(f.size(), QSize(900, 600));

    // Escape and Return neither close it nor press a button.
    int clicks = 0;
    QObject::connect(f.ok, &QPushButton::clicked, [&] { ++clicks; });
    f.ok->setDefault(true);
    f.Show();
    QCoreApplication::processEvents();
    QTest::keyClick(&f, Qt::Key_Escape);
    QTest::keyClick(&f, Qt::Key_Return);
    EXPECT_TRUE(f.isVisible());
    EXPECT_EQ(clicks, 0);
}

TEST(FormFlags, WithoutOwnedFlagTheFormIsFree) {
    std::vector<std::string> log;
    QWidget owner;
    TProbeForm f(&owner, AF_SYSMENU | AF_SIZEABLE, &log);
    EXPECT_EQ(f.parentWidget(), nullptr);
}

TEST(FormShow, ModalResults) {
    std::vector<std::string> log;
    TProbeForm f(nullptr, AF_DIALOG, &log);
    f.SetButtonModalResult(f.ok, MR_OK);
    QTimer::singleShot(0, f.ok, [&] { f.ok->click(); });
    EXPECT_EQ(f.ShowModal(), MR_OK);
    EXPECT_FALSE(f.isVisible());

    QTimer::singleShot(0, &f, [&] { f.close(); }); // the window frame's close
    EXPECT_EQ(f.ShowModal(), MR_CANCEL);

    QTimer::singleShot(0, &f, [&] { QTest::keyClick(&f, Qt::Key_Escape); });
    EXPECT_EQ(f.ShowModal(), MR_CANCEL);

    // Return presses the default button.
    f.ok->setDefault(true);
    QTimer::singleShot(0, &f, [&] { QTest::keyClick(&f, Qt::Key_Return); });
    EXPECT_EQ(f.ShowModal(), MR_OK);
    EXPECT_EQ(std::count(log.begin(), log.end(), "show"), 4);
}

TEST(FormShow, HooksRunInOrderAndOnEveryShow) {
    std::vector<std::string> log;
    QWidget owner;
    owner.setGeometry(100, 100, 600, 400);
    owner.show();
    auto* f = new TProbeForm(&owner, AF_TOOLWINDOW, &log);
    f->Show();
    QCoreApplication::processEvents();
    // First show: centred over the owner.
    EXPECT_EQ(f->frameGeometry().center(), owner.frameGeometry().center());
    f->hide();
    f->Show();
    f->resize(500, 200);
    QCoreApplication::processEvents();
    EXPECT_EQ(std::count(log.begin(), log.end(), "show"), 2);
    EXPECT_EQ(log.back(), "resize");

    // A throwing hook is contained.
    f->throwOnShow = true;
    f->hide();
    f->Show();
    EXPECT_TRUE(f->isVisible());

    log.clear();
    f->DoDestroy();
    f->DoDestroy();
    delete f;
    EXPECT_EQ(log, std::vector<std::string>{"destroy+children"});

    log.clear();
    f = new TProbeForm(&owner, AF_TOOLWINDOW, &log);
    f->Release();
    EXPECT_EQ(log, std::vector<std::string>{"destroy+children"});
}

TEST(FormShow, DestroyedWithItsOwner) {
    std::vector<std::string> log;
    auto* owner = new QWidget;
    new TProbeForm(owner, AF_TOOLWINDOW, &log);
    delete owner;
    EXPECT_EQ(log, std::vector<std::string>{"destroy+children"});
}

TEST(CenterDialog, CentredOverAWindowAndClampedToTheScreen) {
    QScreen* screen = QGuiApplication::primaryScreen();
    ASSERT_NE(screen, nullptr);
    const QRect avail = screen->availableGeometry();
    ASSERT_GE(avail.width(), 400);
    ASSERT_GE(avail.height(), 300);

    QWidget over;
    over.setGeometry(avail.x() + 20, avail.y() + 30, 300, 200);
    QWidget dlg;
    dlg.resize(100, 60);
    BriskCenterDialog(&dlg, &over);
    EXPECT_EQ(dlg.pos(), QPoint(avail.x() + 20 + 100, avail.y() + 30 + 70));

    // Over a control: centred over the control's place on the screen.
    auto* child = new QWidget(&over);
    child->setGeometry(10, 20, 40, 40);
    dlg.resize(20, 10);
    BriskCenterDialog(&dlg, child);
    EXPECT_EQ(dlg.pos(), QPoint(avail.x() + 20 + 10 + 10, avail.y() + 30 + 20 + 15));

    // Near the bottom-right corner: kept on the screen.
    over.setGeometry(avail.right() - 100, avail.bottom() - 50, 150, 100);
    dlg.resize(300, 200);
    BriskCenterDialog(&dlg, &over);
    EXPECT_EQ(dlg.pos(), QPoint(avail.right() + 1 - 300, avail.bottom() + 1 - 200));

    // Larger than the screen: the top-left corner stays visible.
    dlg.resize(avail.width() + 100, avail.height() + 100);
    BriskCenterDialog(&dlg, &over);
    EXPECT_EQ(dlg.pos(), avail.topLeft());

    // No window to centre over: the screen's centre.
    dlg.resize(100, 50);
    BriskCenterDialog(&dlg, nullptr);
    EXPECT_EQ(dlg.pos(),
              QPoint(avail.x() + (avail.width() - 100) / 2, avail.y() + (avail.height() - 50) / 2));
    BriskCenterDialog(nullptr, &over); // nothing to move: no effect
}
