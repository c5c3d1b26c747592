// Output of TChart: clipboard (SVG + PNG), printing to PDF, localised axis numbers and a
// screenshot of a stick spectrum for inspection.
#include "chart_test_util.h"

#include <QClipboard>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QMimeData>
#include <QPrinter>
#include <QProcess>
#include <QStandardPaths>
#include <QSvgRenderer>
#include <QTemporaryDir>
#include <QValueAxis>
#include <gtest/gtest.h>

using namespace charttest;

namespace {

// The glucose pattern: calculated (red) and measured (blue) peaks, RMS in the title.
void FillGlucose(TChart& chart) {
    TLineSeries* calc = NewPeakSeries(chart, ColorFromTColor(0x0000FF));
    AddPeak(calc, 180.063388, 100.0);
    AddPeak(calc, 181.0668, 6.86);
    AddPeak(calc, 182.0680, 1.43);
    TLineSeries* exp = NewPeakSeries(chart, ColorFromTColor(0xFF0000));
    AddPeak(exp, 180.0634, 100.0);
    AddPeak(exp, 181.067, 7.2);
    chart.SetTitle(QStringLiteral("Rms = 0.10"));
    chart.SetTitleVisible(true);
    chart.UndoZoom();
}

// Runs a poppler tool; the test fails when it is missing.
QString RunTool(const QString& program, const QStringList& args) {
    const QString path = QStandardPaths::findExecutable(program);
    EXPECT_FALSE(path.isEmpty()) << program.toStdString() << " not found (poppler-utils)";
    if (path.isEmpty()) return QString();
    QProcess p;
    p.start(path, args);
    EXPECT_TRUE(p.waitForFinished(60000));
    EXPECT_EQ(p.exitCode(), 0) << p.readAllStandardError().toStdString();
    return QString::fromUtf8(p.readAllStandardOutput());
}

struct ColourCount {
    int red = 0, blue = 0, black = 0;
};

ColourCount CountColours(const QImage& img) {
    ColourCount n;
    for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < img.width(); ++x) {
            const QColor c = img.pixelColor(x, y);
            n.red += IsRed(c);
            n.blue += IsBlue(c);
            n.black += IsBlack(c);
        }
    return n;
}

} // namespace

TEST(ChartOutput, CopyPutsSvgAndPngOnTheClipboard) {
    TChart chart;
    FillGlucose(chart);
    ShowChart(chart, 317, 185);
    QClipboard* clipboard = QGuiApplication::clipboard();
    ASSERT_NE(clipboard, nullptr);
    clipboard->clear();
    chart.CopyToClipboardMetafile(true);

    const QMimeData* mime = clipboard->mimeData();
    ASSERT_NE(mime, nullptr);
    EXPECT_TRUE(mime->hasFormat(QStringLiteral("image/svg+xml")));
    EXPECT_TRUE(mime->hasFormat(QStringLiteral("image/png")));
    EXPECT_TRUE(mime->hasImage());

    const QByteArray svg = mime->data(QStringLiteral("image/svg+xml"));
    QFile svgCopy(QDir::temp().filePath(QStringLiteral("tchart_clipboard.svg")));
    if (svgCopy.open(QIODevice::WriteOnly)) svgCopy.write(svg); // kept for a look
    QSvgRenderer renderer(svg);
    ASSERT_TRUE(renderer.isValid());
    EXPECT_TRUE(svg.contains("<svg"));
    EXPECT_TRUE(svg.contains("Rms = 0.10"));
    EXPECT_TRUE(svg.contains("#ff0000")); // red and blue strokes of the sticks
    EXPECT_TRUE(svg.contains("#0000ff"));

    // The SVG renders back into the same picture: red and blue sticks, black baseline. At
    // twice the size the 1-pixel lines cover whole pixels despite antialiasing. The measured
    // sticks at 180 and 181 cover the calculated ones; red shows on the peak at 182.
    const QSizeF size = chart.ExportSize();
    EXPECT_EQ(size.width(), 640.0);
    EXPECT_NEAR(size.height(), 185.0 * 640.0 / 317.0, 1.0);
    QImage fromSvg((size * 2).toSize(), QImage::Format_ARGB32);
    fromSvg.fill(Qt::white);
    {
        QPainter p(&fromSvg);
        renderer.render(&p);
    }
    const ColourCount svgColours = CountColours(fromSvg);
    EXPECT_GT(svgColours.red, 4);
    EXPECT_GT(svgColours.blue, 100);
    EXPECT_GT(svgColours.black, 1000);

    QImage png;
    ASSERT_TRUE(png.loadFromData(mime->data(QStringLiteral("image/png")), "PNG"));
    EXPECT_EQ(png.size(), size.toSize());
    const ColourCount pngColours = CountColours(png);
    EXPECT_GT(pngColours.red, 2);
    EXPECT_GT(pngColours.blue, 50);
    EXPECT_GT(pngColours.black, 500);

    // Copying lays the chart out at the export size and puts it back afterwards.
    EXPECT_EQ(chart.chart()->size(), QSizeF(317, 185));
}

TEST(ChartOutput, PrintsOneVectorPageToPdf) {
    TChart chart;
    FillGlucose(chart);
    ShowChart(chart, 317, 185);
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString pdf = dir.filePath(QStringLiteral("chart.pdf"));
    {
        QPrinter printer(QPrinter::HighResolution);
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setOutputFileName(pdf);
        ASSERT_TRUE(chart.Print(&printer));
    }
    QFile file(pdf);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray bytes = file.readAll();
    EXPECT_FALSE(bytes.contains("/Subtype /Image")); // drawn as vectors, not as a bitmap

    const QString info = RunTool(QStringLiteral("pdfinfo"), {pdf});
    EXPECT_TRUE(info.contains(QRegularExpression(QStringLiteral("Pages:\\s+1\\n"))))
        << info.toStdString();
    const QString text = RunTool(QStringLiteral("pdftotext"), {pdf, QStringLiteral("-")});
    EXPECT_TRUE(text.contains(QStringLiteral("Rms = 0.10"))) << text.toStdString();
    EXPECT_TRUE(text.contains(QStringLiteral("180.5"))) << text.toStdString();
    EXPECT_TRUE(text.contains(QStringLiteral("100"))) << text.toStdString();

    // Rendered back, the page shows the red and blue sticks.
    const QString prefix = dir.filePath(QStringLiteral("page"));
    RunTool(QStringLiteral("pdftoppm"),
            {QStringLiteral("-png"), QStringLiteral("-r"), QStringLiteral("200"), pdf, prefix});
    const QStringList pages = QDir(dir.path()).entryList({QStringLiteral("page*.png")});
    ASSERT_EQ(pages.size(), 1);
    QImage page(dir.filePath(pages.first()));
    ASSERT_FALSE(page.isNull());
    const ColourCount n = CountColours(page);
    EXPECT_GT(n.red, 4);
    EXPECT_GT(n.blue, 100);
    EXPECT_GT(n.black, 1000);
    // Copy the page next to the screenshots, for a look.
    page.save(QDir::temp().filePath(QStringLiteral("tchart_print_page.png")));
}

TEST(ChartOutput, PrintFailsOnAPrinterThatCannotOpen) {
    TChart chart;
    FillGlucose(chart);
    EXPECT_FALSE(chart.Print(nullptr));
    QPrinter printer;
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(QStringLiteral("/nonexistent-dir/x/chart.pdf"));
    EXPECT_FALSE(chart.Print(&printer));
}

TEST(ChartOutput, AxisNumbersUseTheChosenDecimalSeparator) {
    TChart chart;
    FillGlucose(chart);
    ShowChart(chart, 317, 185);
    QLocale german(QLocale::German, QLocale::Germany);
    chart.SetNumberLocale(german);
    const QByteArray svgComma = chart.SvgData();
    EXPECT_TRUE(svgComma.contains("180,5")) << svgComma.left(4000).toStdString();
    EXPECT_FALSE(svgComma.contains("180.5"));
    chart.SetNumberLocale(QLocale::c());
    const QByteArray svgPoint = chart.SvgData();
    EXPECT_TRUE(svgPoint.contains("180.5"));
    EXPECT_FALSE(svgPoint.contains("180,5"));
    // No group separators even for large numbers.
    TChart big;
    TLineSeries* s = NewPeakSeries(big, Qt::red);
    AddPeak(s, 5000.0, 100.0);
    AddPeak(s, 5004.0, 100.0);
    big.SetNumberLocale(QLocale(QLocale::English, QLocale::UnitedStates));
    ShowChart(big, 400, 300);
    big.UndoZoom();
    const QByteArray svgBig = big.SvgData();
    EXPECT_TRUE(svgBig.contains(">5000<") || svgBig.contains("5000")) << svgBig.toStdString();
    EXPECT_FALSE(svgBig.contains("5,000"));
}

TEST(ChartOutput, ScreenshotOfTheGlucoseSpectrum) {
    // Form size and a larger window; both saved to the temporary folder for a look.
    for (QSize size : {QSize(317, 185), QSize(640, 400)}) {
        TChart chart;
        FillGlucose(chart);
        ShowChart(chart, size.width(), size.height());
        const QImage img = chart.grab().toImage();
        const QString name =
            QStringLiteral("tchart_glucose_%1x%2.png").arg(size.width()).arg(size.height());
        ASSERT_TRUE(img.save(QDir::temp().filePath(name)));
        const ColourCount n = CountColours(img);
        EXPECT_GT(n.red, 0);   // the small calculated peak at 182 shows in red
        EXPECT_GT(n.blue, 10); // the measured sticks cover the calculated ones at 180 and 181
        EXPECT_GT(n.black, 50);
    }
}
