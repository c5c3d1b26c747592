// The structure preview's popup menu and its commands: copy the picture,
// copy the SMILES, print. They work on the renderer's current text, in an
// Indigo session of their own, on the user-interface thread.
#include <QAction>
#include <QBuffer>
#include <QClipboard>
#include <QGuiApplication>
#include <QImage>
#include <QKeySequence>
#include <QMenu>
#include <QMimeData>
#include <QPainter>
#include <QPrinter>
#include <QRegularExpression>
#include <QSvgRenderer>
#include <QVariant>
#include <QWidget>
#include <cctype>
#include <cstdio>

#include "common_dialogs.h"
#include "dlg_main.h"
#include "host_cmd.h"
#include "imagelist.h"
#include "indigo_api.h"
#include "localized.h"
#include "plugin_state.h"
#include "render2d.h"
#include "render2d_private.h"

namespace {

// Bonds on paper are at most this long, in printer pixels.
constexpr int PrintBondLength = 200;
// Blank border kept around a copied picture, in pixels.
constexpr int CopyMargin = 8;

// The SVG showing only the part crop of its picture (in its own units).
QByteArray SvgCrop(const QByteArray& svg, const QRect& crop) {
    const int start = svg.indexOf("<svg");
    const int end = start < 0 ? -1 : svg.indexOf('>', start);
    if (end < 0) return svg;
    QString tag = QString::fromUtf8(svg.mid(start, end - start));
    const QString w = QString::number(crop.width()), h = QString::number(crop.height());
    tag.replace(QRegularExpression(QStringLiteral("\\swidth=\"[^\"]*\"")),
                QStringLiteral(" width=\"%1pt\"").arg(w));
    tag.replace(QRegularExpression(QStringLiteral("\\sheight=\"[^\"]*\"")),
                QStringLiteral(" height=\"%1pt\"").arg(h));
    tag.replace(QRegularExpression(QStringLiteral("\\sviewBox=\"[^\"]*\"")),
                QStringLiteral(" viewBox=\"%1 %2 %3 %4\"").arg(crop.x()).arg(crop.y()).arg(w, h));
    return svg.left(start) + tag.toUtf8() + svg.mid(end);
}

// A molecule read in a short-lived session of its own, on the calling thread.
class TCommandMolecule {
  public:
    explicit TCommandMolecule(const std::string& text) {
        session_ = TW_indigoAllocSessionId();
        TW_indigoSetSessionId(session_);
        reader_ = TW_indigoReadString(text.c_str());
        if (reader_ < 0) return;
        molecule_ = TW_indigoLoadMolecule(reader_);
        // A SMILES has no coordinates: one layout serves every drawing made
        // of it, so the picture and the panel show the same arrangement.
        if (molecule_ >= 0 && text.find_first_of("\r\n") == std::string::npos)
            TW_indigoLayout(molecule_);
    }
    ~TCommandMolecule() {
        TW_indigoSetSessionId(session_);
        if (molecule_ >= 0) TW_indigoFree(molecule_);
        if (reader_ >= 0) TW_indigoFree(reader_);
        TW_indigoRenderReset();
        TW_indigoReleaseSessionId(session_);
    }
    TCommandMolecule(const TCommandMolecule&) = delete;
    TCommandMolecule& operator=(const TCommandMolecule&) = delete;

    bool Loaded() const { return molecule_ >= 0; }

    // The drawing in the given format ("svg", "png") with the options set so
    // far; empty when it fails.
    QByteArray Render(const char* format) {
        QByteArray out;
        if (molecule_ < 0) return out;
        TW_indigoSetSessionId(session_);
        if (TW_indigoSetOption("render-output-format", format) < 0) return out;
        const int buffer = TW_indigoWriteBuffer();
        if (buffer < 0) return out;
        char* data = nullptr;
        int size = 0;
        if (TW_indigoRender(molecule_, buffer) >= 0 &&
            TW_indigoToBuffer(buffer, &data, &size) >= 0 && data && size > 0)
            out = QByteArray(data, size);
        TW_indigoFree(buffer);
        return out;
    }

  private:
    unsigned long long session_ = 0;
    int reader_ = -1;
    int molecule_ = -1;
};

// Busy cursor for the length of a command.
struct TBusy {
    TBusy() { CursorBusy(1); }
    ~TBusy() { CursorBusy(0); }
};

} // namespace

QByteArray SvgForQt(const QByteArray& svg) {
    QByteArray out = svg;
    out.replace("<symbol", "<g");
    out.replace("</symbol>", "</g>");
    return out;
}

void CRender2D::BuildPopup() {
    Popup_ = std::make_unique<QMenu>();
    Popup_->setObjectName(QStringLiteral("PM_Preview"));
    PopupAdd(43, 'C', 4, &CRender2D::CopyClick);
    PopupAdd(32, 'S', 15, &CRender2D::CopySmilesClick);
    PopupSep();
    PopupAdd(25, 'P', 7, &CRender2D::PrintClick);
    // Every command disabled until there is a text.
    const QList<QAction*> items = Popup_->actions();
    for (auto it = items.rbegin(); it != items.rend(); ++it)
        if (!(*it)->isSeparator()) (*it)->setEnabled(false);
    MenuEnabled = false;
}

void CRender2D::PopupAdd(uint32_t strId, char letter, int32_t image,
                         void (CRender2D::*handler)(QObject* sender)) {
    auto* item = new QAction(QString::fromUtf8(GetStr(static_cast<int32_t>(strId))), Popup_.get());
    // The main dialog's menu pictures, when the panel is the dialog's.
    if (DlgQvMain && DlgQvMain->MenuImages) item->setIcon(DlgQvMain->MenuImages->GetIcon(image));
    const int key = std::toupper(static_cast<unsigned char>(letter));
    item->setShortcut(QKeySequence(QKeyCombination(Qt::ControlModifier, Qt::Key(key))));
    // Like a panel's popup menu, its shortcuts act while the panel (or a
    // control in it) has the focus.
    item->setShortcutContext(Qt::WidgetWithChildrenShortcut);
    item->setData(QVariant::fromValue(static_cast<void*>(this)));
    QObject::connect(item, &QAction::triggered, item, [this, item, handler] {
        try {
            (this->*handler)(item);
        } catch (...) {
            std::fprintf(stderr, "Quorvel: structure preview command failed\n");
        }
    });
    Popup_->addAction(item);
    if (Panel) Panel->addAction(item);
}

void CRender2D::PopupSep() {
    // A plain separator: one with a text is drawn as a heading showing it.
    Popup_->addSeparator();
}

void CRender2D::PopupEnable(bool state) {
    if (state == MenuEnabled) return;
    const QList<QAction*> items = Popup_->actions();
    for (auto it = items.rbegin(); it != items.rend(); ++it)
        if (!(*it)->isSeparator()) (*it)->setEnabled(state);
    MenuEnabled = state;
}

CRender2D* CRender2D::FromSender(QObject* sender, CRender2D* fallback) {
    if (auto* item = qobject_cast<QAction*>(sender))
        if (void* r = item->data().value<void*>()) return static_cast<CRender2D*>(r);
    return fallback;
}

void CRender2D::CopyClick(QObject* sender) {
    CRender2D* self = FromSender(sender, this);
    if (self->Smiles.empty()) return;
    TBusy busy;
    QByteArray svg;
    QImage image;
    QRect crop;
    {
        TCommandMolecule mol(self->Smiles);
        if (!mol.Loaded()) return;
        // Drawn as read, without stereo marks, at the toolkit's own scale.
        TW_indigoSetOption("render-stereo-style", "none");
        TW_indigoSetOptionXY("render-image-size", -1, -1);
        const QImage first = QImage::fromData(mol.Render("png"), "PNG");
        if (first.isNull()) return;
        // The automatic size is the toolkit's estimate and may cut labels at
        // the edge: the drawing, at the same scale, goes on a larger canvas
        // and both pictures are cut to what it covers.
        QSize canvas = first.size() * 5 / 4 + QSize(64, 64);
        QRect ink;
        for (int attempt = 0; attempt < 3; ++attempt) {
            TW_indigoSetOptionXY("render-image-size", canvas.width(), canvas.height());
            image = QImage::fromData(mol.Render("png"), "PNG");
            ink = image.isNull() ? QRect() : InkBounds(image);
            if (ink.isNull()) return;
            if (image.rect().adjusted(1, 1, -1, -1).contains(ink)) break;
            canvas = canvas * 3 / 2;
        }
        svg = mol.Render("svg");
        if (svg.isEmpty()) return;
        crop = ink.adjusted(-CopyMargin, -CopyMargin, CopyMargin, CopyMargin) & image.rect();
    }
    QByteArray png;
    {
        QBuffer buffer(&png);
        buffer.open(QIODevice::WriteOnly);
        if (!image.copy(crop).save(&buffer, "PNG")) return;
    }
    auto* data = new QMimeData();
    data->setData(QStringLiteral("image/svg+xml"), SvgCrop(SvgForQt(svg), crop));
    data->setData(QStringLiteral("image/png"), png);
    data->setImageData(image.copy(crop));
    QGuiApplication::clipboard()->setMimeData(data);
}

void CRender2D::CopySmilesClick(QObject* sender) {
    CRender2D* self = FromSender(sender, this);
    if (self->Smiles.empty()) return;
    TBusy busy;
    // As held, with no line end added.
    QGuiApplication::clipboard()->setText(QString::fromUtf8(self->Smiles.c_str()));
}

void CRender2D::PrintClick(QObject* sender) {
    CRender2D* self = FromSender(sender, this);
    if (self->Smiles.empty()) return;
    TBusy busy;
    if (!self->PD_Print) self->PD_Print = std::make_unique<TPrintDialog>();
    if (!self->PD_Print->Execute(self->Panel)) return;
    QPrinter* printer = self->PD_Print->Printer();
    printer->setDocName(QString::fromUtf8(GetStr(57)));
    printer->setFullPage(false);

    QPainter painter;
    if (!painter.begin(printer)) return;
    // The printable area in printer pixels; the painter's origin is its corner.
    const QSize area = printer->pageLayout().paintRectPixels(printer->resolution()).size();
    const QRect page(QPoint(0, 0), area);
    painter.fillRect(page, Qt::white);
    QByteArray svg;
    {
        TCommandMolecule mol(self->Smiles);
        if (mol.Loaded()) {
            TW_indigoSetOptionInt("render-image-width", area.width());
            TW_indigoSetOptionInt("render-image-height", area.height());
            TW_indigoSetOptionInt("render-bond-length", PrintBondLength);
            TW_indigoSetOption("render-stereo-style", "none");
            svg = mol.Render("svg");
        }
    }
    // A text that does not read still prints its blank page.
    if (!svg.isEmpty()) {
        QSvgRenderer renderer(SvgForQt(svg));
        if (renderer.isValid()) renderer.render(&painter, QRectF(page));
    }
    painter.end();
}
