#include "results_view.h"

#include <QHeaderView>
#include <QHelpEvent>
#include <QPainter>
#include <QScrollBar>
#include <QToolTip>
#include <algorithm>

namespace {

// Room the item delegate takes around a cell's text.
int CellMargins(const QWidget* view) {
    return 2 * (view->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, view) + 1) + 2;
}

} // namespace

TResultsView::TResultsView(QWidget* parent) : QTreeWidget(parent) {}

QColor TResultsView::GridColor() const {
    // Lighter than the frames, as report lists draw their grid: a third of
    // the way from the frame colour to the list's background.
    const QColor base = palette().color(QPalette::Base), mid = palette().color(QPalette::Mid);
    return QColor((base.red() + 2 * mid.red()) / 3, (base.green() + 2 * mid.green()) / 3,
                  (base.blue() + 2 * mid.blue()) / 3);
}

int TResultsView::ColumnTextWidth(int column) const {
    const QFontMetrics fm(font());
    int widest = 0;
    for (int i = 0; i < topLevelItemCount(); ++i)
        widest = std::max(widest, fm.horizontalAdvance(topLevelItem(i)->text(column)));
    return widest + CellMargins(this);
}

void TResultsView::scrollTo(const QModelIndex& index, ScrollHint hint) {
    // Rows are chosen whole: bring the row into view, and leave the
    // horizontal position to the user.
    const int x = horizontalScrollBar()->value();
    QTreeWidget::scrollTo(index, hint);
    horizontalScrollBar()->setValue(x);
}

void TResultsView::paintEvent(QPaintEvent* event) {
    QTreeWidget::paintEvent(event);
    QPainter p(viewport());
    p.setPen(GridColor());
    const int w = viewport()->width(), h = viewport()->height();
    // A line under every row, continued below the last one at the row pitch.
    int y = -1, pitch = 0;
    for (QModelIndex i = indexAt(QPoint(0, 0)); i.isValid(); i = indexBelow(i)) {
        const QRect r = visualRect(i);
        if (r.top() >= h) break;
        y = r.bottom();
        pitch = r.height();
        p.drawLine(0, y, w, y);
    }
    if (pitch <= 0) pitch = fontMetrics().height() + 4;
    for (y += pitch; y < h; y += pitch)
        p.drawLine(0, y, w, y);
    // A line at the right edge of every column.
    const QHeaderView* hv = header();
    for (int c = 0; c < hv->count(); ++c) {
        if (hv->isSectionHidden(c)) continue;
        const int x = hv->sectionViewportPosition(c) + hv->sectionSize(c) - 1;
        if (x >= 0 && x < w) p.drawLine(x, 0, x, h);
    }
}

bool TResultsView::viewportEvent(QEvent* event) {
    if (event->type() == QEvent::ToolTip) {
        auto* he = static_cast<QHelpEvent*>(event);
        const QModelIndex index = indexAt(he->pos());
        const QString text = index.isValid() ? index.data(Qt::DisplayRole).toString() : QString();
        if (!text.isEmpty() &&
            fontMetrics().horizontalAdvance(text) + CellMargins(this) > visualRect(index).width()) {
            QToolTip::showText(he->globalPos(), text, viewport(), visualRect(index));
        } else {
            QToolTip::hideText();
            event->ignore();
        }
        return true;
    }
    return QTreeWidget::viewportEvent(event);
}
