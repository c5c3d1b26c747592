#include "structure_view.h"

#include <QPainter>
#include <indigo-renderer.h>
#include <indigo.h>

namespace {

// One toolkit session for the drawing, bound while in use and released at the end.
class IndigoSession {
public:
    IndigoSession() : id_(indigoAllocSessionId()) { indigoSetSessionId(id_); }
    ~IndigoSession() { indigoReleaseSessionId(id_); }

private:
    qword id_;
};

std::string lastError() {
    const char* e = indigoGetLastError();
    return e ? e : "unknown error";
}

} // namespace

QImage RenderStructure(const std::string& smiles, const QSize& size, std::string* error) {
    IndigoSession session;
    int mol = indigoLoadMoleculeFromString(smiles.c_str());
    if (mol < 0 || indigoCountAtoms(mol) <= 0) {
        if (error) *error = mol < 0 ? lastError() : "no atoms";
        return {};
    }
    if (indigoLayout(mol) < 0) {
        if (error) *error = lastError();
        return {};
    }
    indigoSetOption("render-output-format", "png");
    indigoSetOptionXY("render-image-size", size.width(), size.height());
    indigoSetOption("render-background-color", "1.0, 1.0, 1.0");
    indigoSetOptionInt("render-coloring", 1);
    indigoSetOptionFloat("render-relative-thickness", 1.2f);
    int buffer = indigoWriteBuffer();
    if (buffer < 0 || indigoRender(mol, buffer) < 0) {
        if (error) *error = lastError();
        return {};
    }
    char* data = nullptr;
    int length = 0;
    if (indigoToBuffer(buffer, &data, &length) < 0 || !data) {
        if (error) *error = lastError();
        return {};
    }
    QImage image = QImage::fromData(reinterpret_cast<const uchar*>(data), length, "PNG");
    if (image.isNull() && error) *error = "the drawing could not be read";
    return image;
}

StructureView::StructureView(QWidget* parent) : QWidget(parent) {
    setMinimumSize(200, 160);
    setAutoFillBackground(true);
    QPalette p = palette();
    p.setColor(QPalette::Window, Qt::white);
    setPalette(p);
}

void StructureView::setSmiles(const std::string& smiles) {
    smiles_ = smiles;
    render();
    update();
}

void StructureView::render() {
    error_.clear();
    image_ = QImage();
    if (smiles_.empty() || width() < 10 || height() < 10) return;
    const qreal dpr = devicePixelRatioF();
    image_ = RenderStructure(smiles_, size() * dpr, &error_);
    image_.setDevicePixelRatio(dpr);
}

void StructureView::resizeEvent(QResizeEvent*) { render(); }

void StructureView::paintEvent(QPaintEvent*) {
    QPainter p(this);
    if (!image_.isNull()) {
        p.drawImage(QPoint(0, 0), image_);
    } else if (!error_.empty()) {
        p.setPen(Qt::darkRed);
        p.drawText(rect(), Qt::AlignCenter | Qt::TextWordWrap,
                   tr("Cannot draw the structure: %1").arg(QString::fromStdString(error_)));
    }
}
