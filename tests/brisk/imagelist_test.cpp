// Image lists and the menu fix-up of their pictures.
#include "imagelist.h"

#include <QImage>
#include <QTemporaryDir>
#include <QFile>
#include <gtest/gtest.h>

namespace {

// A red disc on a transparent background.
const char kSvg[] = R"(<svg xmlns="http://www.w3.org/2000/svg" width="16" height="16">
<circle cx="8" cy="8" r="7" fill="#ff0000"/></svg>)";

bool Contains(const QList<QSize>& sizes, QSize s) {
    return sizes.contains(s);
}

} // namespace

TEST(ImageList, IndexesAndMissingPictures) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString svg = dir.filePath("disc.svg");
    {
        QFile f(svg);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(kSvg);
    }
    const QString png = dir.filePath("square.png");
    QImage img(32, 32, QImage::Format_ARGB32);
    img.fill(QColor(0, 0, 255));
    ASSERT_TRUE(img.save(png));

    TImageList il({svg, png, dir.filePath("missing.svg")});
    ASSERT_EQ(il.Count(), 3);
    EXPECT_FALSE(il.GetIcon(0).isNull());
    EXPECT_FALSE(il.GetIcon(1).isNull());
    EXPECT_TRUE(il.GetIcon(2).isNull());
    EXPECT_TRUE(il.GetIcon(-1).isNull());
    EXPECT_TRUE(il.GetIcon(3).isNull());
    EXPECT_EQ(il.Add(QIcon()), 3);

    const TImageList menu = BriskImageListPatch(&il);
    ASSERT_EQ(menu.Count(), il.Count());
    EXPECT_TRUE(menu.GetIcon(2).isNull());
    EXPECT_TRUE(menu.GetIcon(3).isNull());
    for (int i : {0, 1}) {
        const QIcon icon = menu.GetIcon(i);
        for (QIcon::Mode mode : {QIcon::Normal, QIcon::Disabled}) {
            const QList<QSize> sizes = icon.availableSizes(mode);
            EXPECT_TRUE(Contains(sizes, QSize(16, 16))) << i << " mode " << mode;
            EXPECT_TRUE(Contains(sizes, QSize(32, 32))) << i << " mode " << mode;
        }
    }
    // The vector picture is drawn at 32 px, not scaled up from 16: its
    // centre is pure red, and the disabled picture is grey.
    const QImage normal = menu.GetIcon(0).pixmap(QSize(32, 32)).toImage();
    ASSERT_EQ(normal.size(), QSize(32, 32));
    EXPECT_EQ(normal.pixelColor(16, 16), QColor(255, 0, 0));
    EXPECT_EQ(normal.pixelColor(0, 0).alpha(), 0);
    const QColor grey =
        menu.GetIcon(0).pixmap(QSize(32, 32), QIcon::Disabled).toImage().pixelColor(16, 16);
    EXPECT_NEAR(grey.red(), grey.green(), 40);
    EXPECT_NEAR(grey.red(), grey.blue(), 40);

    EXPECT_EQ(BriskImageListPatch(nullptr).Count(), 0);
}
