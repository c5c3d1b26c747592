#include "preview_test_util.h"

#include <QColor>
#include <QDir>

#include "plugin_state.h"

namespace preview_test {

const char* const Phenol = "c1ccccc1O";
const char* const Glucose = "OC[C@H]1OC(O)[C@H](O)[C@@H](O)[C@@H]1O";
const char* const Atorvastatin =
    "CC(C)c1c(C(=O)Nc2ccccc2)c(-c2ccccc2)c(-c2ccc(F)cc2)n1CC[C@@H](O)C[C@@H]"
    "(O)CC(=O)O";
const char* const CyclosporinA =
    "CC[C@H]1C(=O)N(CC(=O)N([C@H](C(=O)N[C@H](C(=O)N([C@H](C(=O)N[C@H](C(=O)N[C@@H](C(=O)N([C@H]"
    "(C(=O)N([C@H](C(=O)N([C@H](C(=O)N([C@H](C(=O)N1)[C@@H]([C@H](C)C/C=C/C)O)C)C(C)C)C)CC(C)C)C)"
    "CC(C)C)C)C)C)CC(C)C)C)C(C)C)CC(C)C)C)C";

std::string Peptide(int residues) {
    static const char* const acids[] = {
        "N[C@@H](C)C(=O)",         "N[C@@H](CC(C)C)C(=O)",      "NCC(=O)",
        "N[C@@H](Cc1ccccc1)C(=O)", "N[C@@H](CO)C(=O)",          "N[C@@H](CCCCN)C(=O)",
        "N[C@@H](CC(=O)O)C(=O)",   "N[C@@H](Cc1ccc(O)cc1)C(=O)"};
    std::string s;
    for (int i = 0; i < residues; ++i)
        s += acids[i % 8];
    return s + "O";
}

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
