// The preview's popup menu and its commands: copy picture, copy SMILES,
// print to a PDF file; and the renderer on the main dialog's own panel.
#include <QAction>
#include <QClipboard>
#include <QFile>
#include <QGuiApplication>
#include <QMenu>
#include <QMimeData>
#include <QPainter>
#include <QPrinter>
#include <QProcess>
#include <QSvgRenderer>
#include <QTemporaryDir>
#include <QTest>

#include "common_dialogs.h"
#include "dlg_main.h"
#include "plugin_state.h"
#include "preview_test_util.h"
#include "render2d.h"
#include "render2d_private.h"
#include <indigo.h>
#include <indigo-renderer.h>

using namespace preview_test;

namespace {

QList<QAction*> Items(CRender2D& r) {
    return r.Popup()->actions();
}

// Renders an SVG onto white at the given size.
QImage SvgImage(const QByteArray& svg, QSize size) {
    QImage im(size, QImage::Format_ARGB32);
    im.fill(Qt::white);
    QSvgRenderer renderer(svg);
    EXPECT_TRUE(renderer.isValid());
    QPainter p(&im);
    renderer.render(&p, QRectF(QPointF(0, 0), QSizeF(size)));
    return im;
}

// Prints the renderer's text into a PDF file; returns its path ("" when
// nothing was written).
struct PdfPrint {
    QTemporaryDir dir;
    QString path = dir.path() + QStringLiteral("/structure.pdf");
    int resolution = 0;
    PdfPrint() {
        TPrintDialog::Hook = [this](QPrinter* printer, QWidget*) {
            printer->setOutputFormat(QPrinter::PdfFormat);
            printer->setOutputFileName(path);
            resolution = printer->resolution();
            return true;
        };
    }
    ~PdfPrint() { TPrintDialog::Hook = nullptr; }
    QString Run(const QStringList& args) {
        QProcess p;
        p.start(args.front(), args.mid(1));
        EXPECT_TRUE(p.waitForFinished(60000)) << args.front().toStdString();
        return QString::fromUtf8(p.readAllStandardOutput());
    }
    int Pages() {
        const QString info = Run({QStringLiteral("pdfinfo"), path});
        for (const QString& line : info.split(QLatin1Char('\n')))
            if (line.startsWith(QStringLiteral("Pages:"))) return line.mid(6).trimmed().toInt();
        return -1;
    }
    QString Title() {
        const QString info = Run({QStringLiteral("pdfinfo"), path});
        for (const QString& line : info.split(QLatin1Char('\n')))
            if (line.startsWith(QStringLiteral("Title:"))) return line.mid(6).trimmed();
        return {};
    }
    // The page as a picture (pdftoppm), also kept for a person to look at.
    QImage Page(const std::string& shotName, int dpi = 60) {
        const QString stem = dir.path() + QStringLiteral("/page");
        Run({QStringLiteral("pdftoppm"), QStringLiteral("-png"), QStringLiteral("-r"),
             QString::number(dpi), QStringLiteral("-singlefile"), path, stem});
        QImage im(stem + QStringLiteral(".png"));
        if (!im.isNull()) im.save(QString::fromStdString(ShotPath(shotName)));
        return im;
    }
};

bool WaitShown(CRender2D& r, const std::string& text) {
    return QTest::qWaitFor([&] { return r.ShownText() == text; }, 120000);
}

using PreviewCommands = PreviewTest;

TEST_F(PreviewCommands, MenuItemsAreEnabledExactlyWhileThereIsAText) {
    auto panel = NewPanel();
    CRender2D r(panel.get());
    const QList<QAction*> items = Items(r);
    ASSERT_EQ(4, items.size());
    EXPECT_EQ(QStringLiteral("&Copy"), items[0]->text());
    EXPECT_EQ(QKeySequence(QStringLiteral("Ctrl+C")), items[0]->shortcut());
    EXPECT_EQ(QStringLiteral("Copy &SMILES"), items[1]->text());
    EXPECT_EQ(QKeySequence(QStringLiteral("Ctrl+S")), items[1]->shortcut());
    EXPECT_TRUE(items[2]->isSeparator());
    EXPECT_EQ(QStringLiteral("&Print"), items[3]->text());
    EXPECT_EQ(QKeySequence(QStringLiteral("Ctrl+P")), items[3]->shortcut());
    auto commandsEnabled = [&](bool state) {
        for (int i : {0, 1, 3})
            if (items[i]->isEnabled() != state) return false;
        return items[2]->isEnabled(); // the separator is never touched
    };
    EXPECT_TRUE(commandsEnabled(false));
    r.SetMolecule("nonsense((", true);
    EXPECT_TRUE(commandsEnabled(true));
    r.SetMolecule(nullptr, true);
    EXPECT_TRUE(commandsEnabled(false));
    r.SetMolecule("CCO", true);
    EXPECT_TRUE(commandsEnabled(true));
    r.SetMolecule("", true);
    EXPECT_TRUE(commandsEnabled(false));
    // The panel's context menu opens the popup.
    QContextMenuEvent menu(QContextMenuEvent::Mouse, QPoint(10, 10),
                           panel->mapToGlobal(QPoint(10, 10)));
    QCoreApplication::sendEvent(panel.get(), &menu);
    EXPECT_TRUE(r.Popup()->isVisible());
    r.Popup()->hide();
}

TEST_F(PreviewCommands, CopySmilesPutsTheTextAsItIs) {
    auto panel = NewPanel();
    CRender2D r(panel.get());
    QClipboard* cb = QGuiApplication::clipboard();
    cb->setText(QStringLiteral("before"));
    Items(r)[1]->trigger(); // no text yet: nothing happens
    EXPECT_EQ(QStringLiteral("before"), cb->text());
    for (const char* text : {Atorvastatin, "not((a smiles"}) {
        r.SetMolecule(text, true);
        Items(r)[1]->trigger();
        EXPECT_EQ(QString::fromUtf8(text), cb->text());
        EXPECT_EQ(0, CursorState);
    }
}

TEST_F(PreviewCommands, CopyPutsAVectorAndABitmapPictureWithTheLabels) {
    auto panel = NewPanel();
    CRender2D r(panel.get());
    r.SetMolecule(Atorvastatin, true);
    Items(r)[0]->trigger();
    const QMimeData* data = QGuiApplication::clipboard()->mimeData();
    ASSERT_NE(nullptr, data);
    ASSERT_TRUE(data->hasFormat(QStringLiteral("image/svg+xml")));
    ASSERT_TRUE(data->hasFormat(QStringLiteral("image/png")));
    const QByteArray svg = data->data(QStringLiteral("image/svg+xml"));
    const QImage png = QImage::fromData(data->data(QStringLiteral("image/png")), "PNG");
    ASSERT_FALSE(png.isNull());
    EXPECT_FALSE(svg.contains("<symbol"));
    png.save(QString::fromStdString(ShotPath("copy_atorvastatin.png")));
    const QImage vector = SvgImage(svg, png.size());
    vector.save(QString::fromStdString(ShotPath("copy_atorvastatin_svg.png")));

    // Nothing cut at the edges: a blank border all round.
    QImage flat(png.size(), QImage::Format_ARGB32);
    flat.fill(Qt::white);
    QPainter(&flat).drawImage(0, 0, png);
    const QRect a = DarkBounds(flat), b = DarkBounds(vector);
    EXPECT_GE(a.left(), 4);
    EXPECT_GE(a.top(), 4);
    EXPECT_LE(a.right(), png.width() - 5);
    EXPECT_LE(a.bottom(), png.height() - 5);
    // Both pictures show the same drawing: the same extent (the outermost
    // atoms carry labels, so a vector picture without its glyphs would be
    // smaller) and about as much ink.
    EXPECT_NEAR(a.left(), b.left(), 3);
    EXPECT_NEAR(a.right(), b.right(), 3);
    EXPECT_NEAR(a.top(), b.top(), 3);
    EXPECT_NEAR(a.bottom(), b.bottom(), 3);
    const double inkPng = CountDark(flat), inkSvg = CountDark(vector);
    EXPECT_GT(inkPng, 1000);
    EXPECT_NEAR(inkSvg / inkPng, 1.0, 0.3);
}

TEST(PreviewSvg, SymbolsBecomeGroupsSoThatQtDrawsTheGlyphs) {
    const QByteArray svg =
        "<?xml version=\"1.0\"?><svg xmlns=\"http://www.w3.org/2000/svg\" "
        "xmlns:xlink=\"http://www.w3.org/1999/xlink\" width=\"40pt\" height=\"40pt\" "
        "viewBox=\"0 0 40 40\"><defs><g><symbol overflow=\"visible\" id=\"glyph0-1\">"
        "<path style=\"stroke:none;\" d=\"M 0 0 L 20 0 L 20 -20 L 0 -20 Z\"/></symbol></g></defs>"
        "<g style=\"fill:rgb(0%,0%,0%);\"><use xlink:href=\"#glyph0-1\" x=\"10\" "
        "y=\"30\"/></g></svg>";
    EXPECT_EQ(0, CountDark(SvgImage(svg, QSize(40, 40))));
    const QImage drawn = SvgImage(SvgForQt(svg), QSize(40, 40));
    EXPECT_NEAR(400, CountDark(drawn), 40);
    EXPECT_EQ(QRect(10, 10, 20, 20), DarkBounds(drawn));
}

TEST_F(PreviewCommands, CopyOfAnUnreadableTextLeavesTheClipboardAlone) {
    auto panel = NewPanel();
    CRender2D r(panel.get());
    QGuiApplication::clipboard()->setText(QStringLiteral("kept"));
    r.SetMolecule("C1CC(((", true);
    Items(r)[0]->trigger();
    EXPECT_EQ(QStringLiteral("kept"), QGuiApplication::clipboard()->text());
    EXPECT_EQ(0, CursorState);
}

TEST_F(PreviewCommands, PrintMakesOneWhitePageWithTheStructure) {
    auto panel = NewPanel();
    CRender2D r(panel.get());
    PdfPrint pdf;
    r.SetMolecule(CyclosporinA, true);
    Items(r)[3]->trigger();
    EXPECT_EQ(0, CursorState);
    ASSERT_TRUE(QFile::exists(pdf.path));
    EXPECT_EQ(1, pdf.Pages());
    EXPECT_EQ(QStringLiteral("Quorvel print job"), pdf.Title());
    const QImage page = pdf.Page("print_cyclosporin.png", 120);
    ASSERT_FALSE(page.isNull());
    const QRect ink = DarkBounds(page);
    EXPECT_GT(CountDark(page), 1000);
    EXPECT_NEAR(ink.center().x(), page.width() / 2, page.width() / 20);

    // Oracle: the toolkit itself, linked directly, draws the molecule with
    // bonds of 20 pixels; on paper they are 200 printer pixels (1200 per
    // inch for a PDF), which at 120 pixels per inch is 20 again.
    ASSERT_EQ(1200, pdf.resolution);
    const qword session = indigoAllocSessionId();
    indigoSetSessionId(session);
    const int mol = indigoLoadMoleculeFromString(CyclosporinA);
    ASSERT_GE(mol, 0);
    indigoLayout(mol);
    indigoSetOptionInt("render-bond-length", 20);
    indigoSetOptionXY("render-image-size", 1500, 1500);
    indigoSetOption("render-stereo-style", "none");
    indigoSetOption("render-output-format", "png");
    const int buffer = indigoWriteBuffer();
    ASSERT_GE(indigoRender(mol, buffer), 0);
    char* bytes = nullptr;
    int size = 0;
    ASSERT_GE(indigoToBuffer(buffer, &bytes, &size), 0);
    QImage expected = QImage::fromData(reinterpret_cast<const uchar*>(bytes), size, "PNG");
    indigoReleaseSessionId(session);
    const QRect want = InkBounds(expected);
    EXPECT_NEAR(ink.width(), want.width(), want.width() * 0.06);
    EXPECT_NEAR(ink.height(), want.height(), want.height() * 0.06);
}

TEST_F(PreviewCommands, PrintOfAnUnreadableTextIsABlankPageAndCancelPrintsNothing) {
    auto panel = NewPanel();
    CRender2D r(panel.get());
    {
        PdfPrint pdf;
        r.SetMolecule("C1CC(((", true);
        Items(r)[3]->trigger();
        ASSERT_TRUE(QFile::exists(pdf.path));
        EXPECT_EQ(1, pdf.Pages());
        const QImage page = pdf.Page("print_unreadable.png");
        ASSERT_FALSE(page.isNull());
        EXPECT_EQ(0, CountDark(page));
    }
    {
        PdfPrint pdf;
        TPrintDialog::Hook = [](QPrinter*, QWidget*) { return false; };
        r.SetMolecule(Glucose, true);
        Items(r)[3]->trigger();
        EXPECT_FALSE(QFile::exists(pdf.path));
        EXPECT_EQ(0, CursorState);
    }
}

// On the main dialog's own panel: the menu takes the dialog's pictures, and
// the structures look right at the design size and enlarged.
TEST_F(PreviewCommands, OnTheMainDialogsPanel) {
    Call(101);
    ASSERT_NE(nullptr, DlgQvMain);
    QFrame* panel = DlgQvMain->ui.PN_Preview;
    auto r = std::make_unique<CRender2D>(panel);
    r->Delay = 0;
    for (QAction* a : Items(*r))
        EXPECT_TRUE(a->isSeparator() || !a->icon().isNull());
    // Its separator is drawn as the main dialog's are: a thin line, no text.
    {
        QMenu* preview = r->Popup();
        QMenu* results = DlgQvMain->PM_Results;
        preview->popup(QPoint(0, 0));
        results->popup(QPoint(0, 0));
        QApplication::processEvents();
        QAction* sep = Items(*r)[2];
        ASSERT_TRUE(sep->isSeparator());
        EXPECT_TRUE(sep->text().isEmpty()) << sep->text().toStdString();
        EXPECT_EQ(results->actionGeometry(DlgQvMain->PM_ResSep1).height(),
                  preview->actionGeometry(sep).height());
        EXPECT_LT(preview->actionGeometry(sep).height(), preview->actionGeometry(Items(*r)[0]).height());
        preview->hide();
        results->hide();
    }

    // A hit of the metabolite database (HMDB0000001, 1-methylhistidine).
    const struct {
        const char* name;
        const char* smiles;
    } shots[] = {{"glucose", Glucose},
                 {"atorvastatin", Atorvastatin},
                 {"cyclosporin_a", CyclosporinA},
                 {"methylhistidine", "CN1C=NC(C[C@H](N)C(O)=O)=C1"}};
    DlgQvMain->ui.IMG_Logo->hide();
    const QSize design = DlgQvMain->size();
    for (const auto& s : shots) {
        DlgQvMain->resize(design);
        r->SetMolecule(s.smiles, true);
        ASSERT_TRUE(WaitShown(*r, s.smiles));
        QCoreApplication::processEvents();
        QImage small = panel->grab().toImage();
        small.save(QString::fromStdString(ShotPath(std::string(s.name) + "_design.png")));
        EXPECT_GT(CountDark(small), 300) << s.name;
        DlgQvMain->resize(design * 2);
        QCoreApplication::processEvents();
        QImage big = panel->grab().toImage();
        big.save(QString::fromStdString(ShotPath(std::string(s.name) + "_large.png")));
        EXPECT_GT(big.width(), small.width()) << s.name;
        EXPECT_GT(CountDark(big), CountDark(small)) << s.name;
    }
    DlgQvMain->resize(design);
    r.reset();
}

} // namespace
