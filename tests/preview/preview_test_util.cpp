#include "preview_test_util.h"

#include <QColor>
#include <QDir>

#include "plugin_state.h"

namespace preview_test {

void PreviewTest::SetUp() {
    host = std::make_unique<TestHost>();
    host->answer("Get PrfLang", 0, "english");
    ASSERT_NE(nullptr, Init(&host->info));
}

void PreviewTest::TearDown() {
    Free();
    EXPECT_EQ(nullptr, hIndigo);
    host.reset();
}

std::unique_ptr<QFrame> PreviewTest::NewPanel(int width, int height) {
    auto panel = std::make_unique<QFrame>();
    panel->setFrameShape(QFrame::NoFrame);
    panel->resize(width, height);
    panel->show();
    return panel;
}

bool IsDark(QRgb c) {
    return qAlpha(c) > 128 && qRed(c) < 100 && qGreen(c) < 100 && qBlue(c) < 100;
}

int CountDark(const QImage& image) {
    const QImage im = image.convertToFormat(QImage::Format_ARGB32);
    int n = 0;
    for (int y = 0; y < im.height(); ++y)
        for (int x = 0; x < im.width(); ++x)
            n += IsDark(im.pixel(x, y));
    return n;
}

QRect DarkBounds(const QImage& image) {
    const QImage im = image.convertToFormat(QImage::Format_ARGB32);
    QRect r;
    for (int y = 0; y < im.height(); ++y)
        for (int x = 0; x < im.width(); ++x)
            if (IsDark(im.pixel(x, y))) r |= QRect(x, y, 1, 1);
    return r;
}

int CountRed(const QImage& image) {
    const QImage im = image.convertToFormat(QImage::Format_ARGB32);
    int n = 0;
    for (int y = 0; y < im.height(); ++y)
        for (int x = 0; x < im.width(); ++x) {
            const QRgb c = im.pixel(x, y);
            n += qRed(c) > 200 && qGreen(c) < 60 && qBlue(c) < 60;
        }
    return n;
}

std::string ShotPath(const std::string& name) {
    const QString dir = QStringLiteral(TW_BUILD_DIR "/tests/preview_shots");
    QDir().mkpath(dir);
    return (dir + QLatin1Char('/') + QString::fromStdString(name)).toStdString();
}

} // namespace preview_test
