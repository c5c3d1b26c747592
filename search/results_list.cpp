// The results list: sorting by a column, the preview of the selected hit, the
// availability of the popup's commands, and loading a hit into the host.
#include <QCursor>
#include <QFrame>
#include <QHeaderView>
#include <QLabel>
#include <QScrollBar>
#include <QTabWidget>
#include <QTreeWidget>
#include <algorithm>
#include <cmath>
#include <limits>

#include "brisk.h"
#include "dlg_main.h"
#include "host_cmd.h"
#include "plugin_state.h"
#include "render2d.h"
#include "search_core.h"

namespace {

// The mass of a row as a number; a text that is none sorts before all.
double MassKey(const QTreeWidgetItem* item) {
    double v = 0;
    return UserToDouble(item->text(0), FormatSettings.DecimalSeparator, v)
               ? v
               : -std::numeric_limits<double>::infinity();
}

int CompareMass(double a, double b) {
    return a > b ? 1 : (b > a ? -1 : 0);
}

// The column's own direction flag: 0 = the next click sorts ascending.
int ColumnTag(const QTreeWidget* lv, int column) {
    return lv->headerItem()->data(column, Qt::UserRole).toInt();
}

} // namespace

int TDlgQvMain::SelectedRow() const {
    const QList<QTreeWidgetItem*> selected = ui.LV_Results->selectedItems();
    if (selected.isEmpty()) return -1;
    bool ok = false;
    const int k = selected.first()->data(0, Qt::UserRole).toInt(&ok);
    if (!ok || k < 0 || k >= RowCount || !RowSmiles || static_cast<size_t>(k) >= RowSmiles->size())
        return -1;
    return k;
}

int TDlgQvMain::LV_ResultsCmpMass(const QTreeWidgetItem* a, const QTreeWidgetItem* b) const {
    int value = SortColumn != 0 ? CompareText(a->text(SortColumn), b->text(SortColumn))
                                : CompareMass(MassKey(a), MassKey(b));
    return SortDescending ? -value : value;
}

void TDlgQvMain::LV_ResultsColumnClick(int column) {
    QTreeWidget* lv = ui.LV_Results;
    if (column < 0 || column >= lv->columnCount()) return;
    CursorBusy(1);
    SortColumn = column;
    SortDescending = ColumnTag(lv, column);
    lv->headerItem()->setData(column, Qt::UserRole, SortDescending ? 0 : 1);
    SortResults();
    CursorBusy(0);
}

void TDlgQvMain::SortResults() {
    QTreeWidget* lv = ui.LV_Results;
    const int n = lv->topLevelItemCount();
    if (n < 2) return;
    // Each row's key is taken once; the order is that of LV_ResultsCmpMass.
    struct Keyed {
        double mass;
        QString text;
        QTreeWidgetItem* item;
    };
    std::vector<Keyed> rows;
    rows.reserve(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i) {
        QTreeWidgetItem* it = lv->topLevelItem(i);
        rows.push_back({SortColumn == 0 ? MassKey(it) : 0.0,
                        SortColumn == 0 ? QString() : it->text(SortColumn), it});
    }
    const bool desc = SortDescending != 0;
    std::stable_sort(rows.begin(), rows.end(), [&](const Keyed& a, const Keyed& b) {
        const int c = SortColumn == 0 ? CompareMass(a.mass, b.mass) : CompareText(a.text, b.text);
        return desc ? c > 0 : c < 0;
    });

    // Re-insert in the new order; the selection and the current row stay
    // with their items, and no selection change is announced.
    QTreeWidgetItem* selected = nullptr;
    const QList<QTreeWidgetItem*> sel = lv->selectedItems();
    if (!sel.isEmpty()) selected = sel.first();
    QTreeWidgetItem* current = lv->currentItem();
    const bool blocked = lv->blockSignals(true);
    lv->setUpdatesEnabled(false);
    lv->invisibleRootItem()->takeChildren();
    QList<QTreeWidgetItem*> ordered;
    ordered.reserve(n);
    for (const Keyed& k : rows)
        ordered.append(k.item);
    lv->addTopLevelItems(ordered);
    if (current) lv->setCurrentItem(current, 0, QItemSelectionModel::NoUpdate);
    if (selected) {
        selected->setSelected(true);
        lv->scrollToItem(selected);
    }
    lv->setUpdatesEnabled(true);
    lv->blockSignals(blocked);
}

void TDlgQvMain::FitMassColumn() {
    // Masses rounded to 1 µDa fit the designed width (four-digit ones take a
    // pixel or two more). A database that stores every digit of the double
    // widens the column only so far; the rest of such a mass is cut, and its
    // tool tip shows it whole.
    TResultsView* lv = ui.LV_Results;
    const int visible = lv->width() - 2 * lv->frameWidth() - lv->verticalScrollBar()->sizeHint().width();
    const int room = visible - LV_ColumnWidth[1] - LV_ColumnWidth[2] / 2;
    const int design = LV_ColumnWidth[0];
    lv->setColumnWidth(0, std::clamp(lv->ColumnTextWidth(0), design, std::max(design, room)));
}

void TDlgQvMain::LV_ResultsSelectItem() {
    PreviewUpdate();
    EnableResPopup();
}

void TDlgQvMain::PM_ResultsPopup() {
    PopupColumn = -1;
    QTreeWidget* lv = ui.LV_Results;
    const QPoint p = lv->viewport()->mapFromGlobal(QCursor::pos());
    if (!lv->viewport()->rect().contains(p) || !lv->itemAt(p)) return;
    const int column = lv->columnAt(p.x());
    if (column >= 0) PopupColumn = column;
}

void TDlgQvMain::EnableResPopup() {
    const bool any = !ui.LV_Results->selectedItems().isEmpty();
    for (QAction* a : {PM_ResCopy, PM_ResCopyRow, PM_ResCopyAll, PM_ResExcel, PM_ResIsoDist,
                       PM_ResSave, PM_ResShow})
        if (a) a->setEnabled(any);
}

void TDlgQvMain::PreviewUpdate() {
    if (ui.PC_View->currentWidget() != ui.TS_Preview) return;
    const bool wasShown = PreviewShown;
    PreviewShown = false;
    if (!Renderer) {
        try {
            Renderer = new CRender2D(ui.PN_Preview);
            Renderer->Delay = 0;
        } catch (...) {
            // No structure toolkit (or no worker): the logo stays, and the
            // next update tries again.
            Renderer = nullptr;
        }
    }
    const int k = SelectedRow();
    if (Renderer && k >= 0) {
        ui.IMG_Logo->hide();
        PreviewShown = true;
        Renderer->SetMolecule((*RowSmiles)[static_cast<size_t>(k)].c_str(), true);
        ui.PN_Preview->update();
    }
    if (wasShown && !PreviewShown) {
        if (Renderer) Renderer->SetMolecule(nullptr, true);
        ui.IMG_Logo->show();
    }
}

void TDlgQvMain::PM_ResShowClick() {
    const int k = SelectedRow();
    if (k < 0 || DbName.empty()) return;
    CursorBusy(1);
    TarvishCmdEx("DbGetRowId %s %ld Replace", DbName.c_str(), static_cast<long>(RowIds[k]));
    CursorBusy(0);
}
