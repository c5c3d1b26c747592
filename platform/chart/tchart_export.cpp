// Chart output: rendering into any painter, SVG and PNG for the clipboard, printing.
#include "tchart.h"

#include <QBuffer>
#include <QChart>
#include <QClipboard>
#include <QGraphicsLayout>
#include <QGraphicsScene>
#include <QGuiApplication>
#include <QImage>
#include <QMimeData>
#include <QPainter>
#include <QPrinter>
#include <QSvgGenerator>
#include <cmath>

namespace {

constexpr qreal kMinExportWidth = 640.0;

} // namespace

QSizeF TChart::ExportSize() const {
    QSizeF size = chart()->size();
    if (size.width() < 2 || size.height() < 2) return QSizeF(kMinExportWidth, 400.0);
    if (size.width() < kMinExportWidth) size *= kMinExportWidth / size.width();
    return QSizeF(std::round(size.width()), std::round(size.height()));
}

void TChart::RenderScene(QPainter* painter, const QRectF& target) {
    SyncRanges();
    QChart* c = chart();
    const QRectF oldGeometry = c->geometry();
    const QSizeF size = ExportSize();
    const bool relayout = size != oldGeometry.size();
    if (relayout) {
        // Lay the chart out at the export size (ticks and fonts fitted to it), draw, and put
        // it back before any event can repaint the screen.
        c->setGeometry(QRectF(oldGeometry.topLeft(), size));
        c->layout()->activate();
    }
    scene()->render(painter, target, QRectF(oldGeometry.topLeft(), size), Qt::KeepAspectRatio);
    if (relayout) {
        c->setGeometry(oldGeometry);
        c->layout()->activate();
    }
}

void TChart::Draw(QPainter* painter, const QRectF& target) {
    if (!painter || !painter->isActive() || target.isEmpty()) return;
    RenderScene(painter, target);
}

QByteArray TChart::SvgData() {
    const QSizeF size = ExportSize();
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    QSvgGenerator generator;
    generator.setOutputDevice(&buffer);
    generator.setSize(size.toSize());
    generator.setViewBox(QRectF(QPointF(0, 0), size));
    generator.setTitle(title_);
    // Text is laid out for the screen; the same resolution keeps its size in the SVG.
    generator.setResolution(logicalDpiY());
    {
        QPainter painter(&generator);
        RenderScene(&painter, QRectF(QPointF(0, 0), size));
    }
    return buffer.data();
}

QImage TChart::Image(qreal scale) {
    if (!(scale > 0) || !std::isfinite(scale)) scale = 1.0;
    const QSize pixels = (ExportSize() * scale).toSize();
    QImage image(pixels, QImage::Format_ARGB32_Premultiplied);
    image.fill(chart()->backgroundBrush().color());
    {
        QPainter painter(&image);
        painter.setRenderHint(QPainter::TextAntialiasing, true);
        RenderScene(&painter, QRectF(QPointF(0, 0), QSizeF(pixels)));
    }
    return image;
}

QMimeData* TChart::CreateMimeData() {
    auto* mime = new QMimeData;
    mime->setData(QStringLiteral("image/svg+xml"), SvgData());
    const QImage image = Image(1.0);
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    mime->setData(QStringLiteral("image/png"), png);
    mime->setImageData(image);
    return mime;
}

void TChart::CopyToClipboardMetafile(bool) {
    QClipboard* clipboard = QGuiApplication::clipboard();
    if (clipboard) clipboard->setMimeData(CreateMimeData());
}

bool TChart::Print(QPrinter* printer) {
    if (!printer) return false;
    QPainter painter;
    if (!painter.begin(printer)) return false;
    // The painter's origin is the top-left corner of the printable area.
    const QRectF page = printer->pageRect(QPrinter::DevicePixel);
    RenderScene(&painter, QRectF(QPointF(0, 0), page.size()));
    return painter.end();
}
