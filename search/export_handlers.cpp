// The results popup's export commands: the clipboard (through the host's
// CopyText), CSV and DIF files, and a new workbook.
#include <QFile>
#include <QFileDialog>
#include <QTimer>
#include <QTreeWidget>
#include <new>

#include "brisk.h"
#include "dlg_main.h"
#include "export_results.h"
#include "host_cmd.h"
#include "localized.h"

namespace {

enum : int32_t { StrExcelFailed = 50, StrCantWrite = 54, StrOutOfMemory = 55 };

const QTreeWidgetItem* FirstSelected(const QTreeWidget* list) {
    const QList<QTreeWidgetItem*> selected = list->selectedItems();
    return selected.isEmpty() ? nullptr : selected.first();
}

// The host puts the text on its clipboard; its result is not looked at.
void CopyText(const std::string& text) {
    TarvishCmdEx("CopyText \"%s\"", text.c_str());
}

} // namespace

void TDlgQvMain::PM_ResCopyClick() {
    if (PopupColumn < 0) return;
    const QTreeWidgetItem* item = FirstSelected(ui.LV_Results);
    if (!item || PopupColumn >= ui.LV_Results->columnCount()) return;
    CursorBusy(1);
    try {
        CopyText(item->text(PopupColumn).toUtf8().toStdString());
    } catch (const std::bad_alloc&) {
        CatErr(StrOutOfMemory);
    }
    CursorBusy(0);
}

void TDlgQvMain::PM_ResCopyRowClick() {
    const QTreeWidgetItem* item = FirstSelected(ui.LV_Results);
    if (!item) return;
    CursorBusy(1);
    try {
        CopyText(ResRowText(ResultsRow(item)));
    } catch (const std::bad_alloc&) {
        CatErr(StrOutOfMemory);
    }
    CursorBusy(0);
}

void TDlgQvMain::PM_ResCopyAllClick() {
    CursorBusy(1);
    try {
        CopyText(ResTableText(ResultsTable(ui.LV_Results)));
    } catch (const std::bad_alloc&) {
        CatErr(StrOutOfMemory);
    }
    CursorBusy(0);
}

void TDlgQvMain::PM_ResSaveClick() {
    if (!SD_Results.Execute(this)) return;
    CursorBusy(1);
    try {
        const TResultsTable table = ResultsTable(ui.LV_Results);
        const std::string path = QFile::encodeName(SD_Results.FileName).toStdString();
        if (SaveResultsFile(path, SD_Results.FilterIndex, table, FormatSettings.DecimalSeparator) !=
            TResSave::Written)
            CatErr(StrCantWrite);
    } catch (const std::bad_alloc&) {
        CatErr(StrOutOfMemory);
    }
    CursorBusy(0);
}

void TDlgQvMain::PM_ResExcelClick() {
    CursorBusy(1);
    try {
        TExcel8Driver driver;
        ResultsToWorkbook(driver, ResSheetName(SearchMass, SearchPpm), ResultsTable(ui.LV_Results));
    } catch (...) {
        CatErr(StrExcelFailed);
    }
    CursorBusy(0);
}

void TDlgQvMain::SD_ResultsShow() {
    // The file dialog exists only once it runs: centre it as soon as its
    // event loop has shown it.
    QTimer::singleShot(0, this, [this] {
        for (QFileDialog* dlg : findChildren<QFileDialog*>(Qt::FindDirectChildrenOnly))
            if (dlg->isVisible()) BriskCenterDialog(dlg, this);
    });
}
