// The stick spectrum as the user sees it: screenshot and pixel colours, printing to a PDF,
// the copied chart's clipboard formats.
#include <QBuffer>
#include <cmath>
#include <QClipboard>
#include <QDir>
#include <QFile>
#include <QMimeData>
#include <QPrinter>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include "iso_fixture.h"

namespace {

using IsoChart = IsoFixture;

// Where the pictures of these tests are kept for a look.
QString OutputPath(const QString& name) {
    const QString dir = QStringLiteral(TW_BUILD_DIR) + QStringLiteral("/tests/isotope");
    QDir().mkpath(dir);
    return dir + QLatin1Char('/') + name;
}

bool IsColor(QRgb p, int r, int g, int b, int tolerance = 60) {
    return std::abs(qRed(p) - r) <= tolerance && std::abs(qGreen(p) - g) <= tolerance &&
           std::abs(qBlue(p) - b) <= tolerance;
}

// True when a pixel of the colour lies within one pixel of (x, y).
bool ColorNear(const QImage& image, int x, int y, int r, int g, int b) {
    for (int dy = -1; dy <= 1; ++dy)
        for (int dx = -1; dx <= 1; ++dx) {
            const QPoint p(x + dx, y + dy);
            if (image.rect().contains(p) && IsColor(image.pixel(p), r, g, b)) return true;
        }
    return false;
}

QString RunTool(const QString& program, const QStringList& args) {
    QProcess p;
    p.start(program, args);
    EXPECT_TRUE(p.waitForFinished(60000)) << program.toStdString();
    EXPECT_EQ(0, p.exitCode()) << program.toStdString() << ": "
                               << p.readAllStandardError().toStdString();
    return QString::fromUtf8(p.readAllStandardOutput());
}

TEST_F(IsoChart, SticksAreRedAndBlueOverABlackBaseline) {
    calculated("100 100\n");
    experimental("102 50\n103 20");
    QApplication::processEvents();
    const QImage shot = chart()->grab().toImage();
    ASSERT_FALSE(shot.isNull());
    TLineSeries* calc = d->SerCalc;
    TLineSeries* exp = d->SerExp;
    auto stickMiddle = [](TLineSeries* s, int top) {
        return QPoint(s->CalcXPos(top), (s->CalcYPos(top) + s->CalcYPos(top - 1)) / 2);
    };
    const QPoint red = stickMiddle(calc, 2), blue = stickMiddle(exp, 2),
                 blue2 = stickMiddle(exp, 5);
    EXPECT_TRUE(ColorNear(shot, red.x(), red.y(), 255, 0, 0)) << red.x() << "," << red.y();
    EXPECT_TRUE(ColorNear(shot, blue.x(), blue.y(), 0, 0, 255));
    EXPECT_TRUE(ColorNear(shot, blue2.x(), blue2.y(), 0, 0, 255));
    // The baseline between the peaks, and before the first one, is black.
    const int base = calc->CalcYPos(1);
    for (double mass : {99.5, 101.0, 102.5})
        EXPECT_TRUE(ColorNear(shot, chart()->CalcXPosValue(mass), base, 0, 0, 0)) << mass;
    // Beside a stick, halfway up, there is background.
    EXPECT_FALSE(ColorNear(shot, red.x() + 6, red.y(), 255, 0, 0));
    EXPECT_FALSE(ColorNear(shot, red.x() + 6, red.y(), 0, 0, 0));
}

TEST_F(IsoChart, GlucoseScreenshotWithTitle) {
    // Experimental peaks first, then the calculated ones drawn over them: where the
    // experimental peaks stand higher (181 and 182) their tips show blue above the red.
    host.useRealInterpreter("english", data.path().toStdString() + "/");
    host.clearAnswers();
    const double expPeaks[3][2] = {{180.0634, 100}, {181.0667, 12}, {182.0678, 4}};
    experimental("180.0634 100\n181.0667 12\n182.0678 4");
    ASSERT_NE(nullptr, d->SerExp);
    selectRow("C6H12O6");
    d->PM_ResIsoDistClick();
    ASSERT_NE(nullptr, d->SerCalc);
    EXPECT_TRUE(chart()->TitleVisible());
    // Daltons and percent add unweighted: the calculated 181 peak (6.86 %) lies nearer to
    // the experimental 182 peak (1 Da, 2.86 %) than to its own (0 Da, 5.14 %), so the pairs
    // are 180-180, 181-182 and 182-181.
    const auto calc = tops(d->SerCalc);
    ASSERT_GE(calc.size(), 3u);
    const int pairedWith[3] = {0, 2, 1};
    double sum = 0;
    for (int i = 0; i < 3; ++i)
        sum += std::pow(calc[size_t(i)].first - expPeaks[pairedWith[i]][0], 2) +
               std::pow(calc[size_t(i)].second - expPeaks[pairedWith[i]][1], 2);
    EXPECT_EQ(QString::asprintf("Rms = %.2f", std::sqrt(sum / 3)), chart()->Title());
    QApplication::processEvents();
    const QImage chartShot = chart()->grab().toImage();
    const QImage dialogShot = d->grab().toImage();
    ASSERT_TRUE(chartShot.save(OutputPath("glucose_chart.png")));
    ASSERT_TRUE(dialogShot.save(OutputPath("glucose_dialog.png")));
    for (int top : {5, 8}) {
        const int x = d->SerExp->CalcXPos(top);
        const int yExp = d->SerExp->CalcYPos(top), yCalc = d->SerCalc->CalcYPos(top);
        ASSERT_LT(yExp + 2, yCalc);
        EXPECT_TRUE(ColorNear(chartShot, x, (yExp + yCalc) / 2, 0, 0, 255)) << top;
        EXPECT_TRUE(ColorNear(chartShot, x, yCalc + 2, 255, 0, 0)) << top;
    }
}

TEST_F(IsoChart, PrintsOneVectorPage) {
    calculated("180.063388 100\n181.0668 6.86\n182.068 1.43\n");
    experimental("180.0634 100\n181.0667 9.5");
    QTemporaryDir tmp;
    const QString pdf = tmp.path() + "/chart.pdf";
    int shown = 0;
    TPrintDialog::Hook = [&](QPrinter* printer, QWidget*) {
        ++shown;
        printer->setOutputFormat(QPrinter::PdfFormat);
        printer->setOutputFileName(pdf);
        return true;
    };
    host.commands.clear();
    d->PM_IC_PrintClick();
    TPrintDialog::Hook = nullptr;
    EXPECT_EQ(1, shown);
    const std::vector<std::string> busy = {"Cursor Busy", "Cursor Default"};
    EXPECT_EQ(busy, host.commands);
    ASSERT_TRUE(QFile::exists(pdf));
    EXPECT_TRUE(RunTool("pdfinfo", {pdf}).contains(QRegularExpression("Pages:\\s+1\\n")));
    // Vector: no embedded picture, text kept as text.
    const QStringList images = RunTool("pdfimages", {"-list", pdf}).split('\n', Qt::SkipEmptyParts);
    EXPECT_EQ(2, images.size()) << images.join('\n').toStdString(); // the header lines only
    EXPECT_TRUE(RunTool("pdftotext", {pdf, "-"}).contains("Rms = "));
    QFile::remove(OutputPath("chart_pdf-1.png"));
    RunTool("pdftoppm", {"-r", "50", "-png", pdf, OutputPath("chart_pdf")});
    EXPECT_TRUE(QFile::exists(OutputPath("chart_pdf-1.png")));

    // Cancelled: nothing happens.
    TPrintDialog::Hook = [](QPrinter*, QWidget*) { return false; };
    host.commands.clear();
    d->PM_IC_PrintClick();
    TPrintDialog::Hook = nullptr;
    EXPECT_TRUE(host.commands.empty());
}

TEST_F(IsoChart, CopiedChartIsAVectorAndABitmapPicture) {
    calculated("100 100\n101 10\n");
    host.commands.clear();
    QGuiApplication::clipboard()->clear();
    d->PM_IC_CopyChart->trigger();
    const std::vector<std::string> busy = {"Cursor Busy", "Cursor Default"};
    EXPECT_EQ(busy, host.commands);
    const QMimeData* mime = QGuiApplication::clipboard()->mimeData();
    ASSERT_NE(nullptr, mime);
    EXPECT_TRUE(mime->hasFormat("image/svg+xml"));
    EXPECT_TRUE(mime->hasFormat("image/png"));
    EXPECT_TRUE(mime->hasImage());
    EXPECT_TRUE(mime->data("image/svg+xml").contains("<svg"));
    QImage png;
    ASSERT_TRUE(png.loadFromData(mime->data("image/png"), "PNG"));
    EXPECT_GE(png.width(), 640);
}

} // namespace
