#pragma once
// Helpers shared by the renderer's source files.
#include <QByteArray>
#include <QImage>
#include <QRect>

// The panel's dynamic property that holds its renderer (the panel's slot).
constexpr const char* PreviewSlotProperty = "quorvelRender2D";

// Qt's SVG renderer ignores <symbol> elements, in which the toolkit's SVG
// keeps its glyphs (atom labels): rewritten as groups they are drawn.
QByteArray SvgForQt(const QByteArray& svg);

// The smallest rectangle holding every pixel of image that is not fully
// transparent (the toolkit draws on a transparent ground); null when none.
QRect InkBounds(const QImage& image);
