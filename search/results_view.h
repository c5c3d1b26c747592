#pragma once
// The list control of LV_Results: a report list with grid lines that scrolls
// to a row without scrolling sideways, so that a click on any cell leaves the
// columns where the user sees them. A cell whose text it cuts shows the whole
// text as its tool tip.
#include <QTreeWidget>

class TResultsView : public QTreeWidget {
    Q_OBJECT
public:
    explicit TResultsView(QWidget* parent = nullptr);

    // The colour of the grid lines.
    QColor GridColor() const;
    // Width that shows the longest text of `column` whole, margins included.
    int ColumnTextWidth(int column) const;

    void scrollTo(const QModelIndex& index, ScrollHint hint = EnsureVisible) override;

protected:
    void paintEvent(QPaintEvent* event) override;
    bool viewportEvent(QEvent* event) override;
};
