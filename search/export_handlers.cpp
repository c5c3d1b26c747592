// The results popup's export commands: the clipboard (through the host's
// CopyText), CSV and DIF files, and a new workbook.
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QSaveFile>
#include <QTimer>
#include <QTreeWidget>
#include <cstdio>
#include <new>

#include "brisk.h"
#include "dlg_main.h"
#include "export_results.h"
#include "host_cmd.h"
#include "localized.h"

namespace {

enum : int32_t {
    StrSaveTitle = 39,
    StrDialogTitle = 42,
    StrExcelFailed = 50,
    StrCantWrite = 54,
    StrOutOfMemory = 55,
    StrWorkbookNotOpened = 58,
    StrWorkbookFilter = 59
};

// The host's message box flags and answer.
enum : int32_t { MbYesNo = 4, MbIconQuestion = 32, IdYes = 6 };

const QTreeWidgetItem* FirstSelected(const QTreeWidget* list) {
    const QList<QTreeWidgetItem*> selected = list->selectedItems();
    return selected.isEmpty() ? nullptr : selected.first();
}

// The host puts the text on its clipboard; its result is not looked at.
void CopyText(const std::string& text) {
    TarvishCmdEx("CopyText \"%s\"", text.c_str());
}

std::string Format(const char* format, const char* arg) {
    const int n = std::snprintf(nullptr, 0, format, arg);
    if (n <= 0) return {};
    std::string out(static_cast<size_t>(n) + 1, '\0');
    std::snprintf(&out[0], out.size(), format, arg);
    out.resize(static_cast<size_t>(n));
    return out;
}

// The workbook was saved but no program could open it: say where it is, and
// offer to keep a copy where the user chooses (the temporary folder is
// removed by a later run).
void OfferWorkbook(QWidget* dialog, const QString& path) {
    const std::string text = Format(GetFmtStr(StrWorkbookNotOpened), path.toUtf8().constData());
    if (TwMessageBox(text.c_str(), GetStr(StrDialogTitle), MbYesNo | MbIconQuestion) != IdYes) return;
    TSaveDialog save;
    save.Filter = QString::fromUtf8(GetStr(StrWorkbookFilter));
    save.Title = QString::fromUtf8(GetStr(StrSaveTitle));
    save.DefaultExt = QStringLiteral("xlsx");
    save.FileName = QFileInfo(path).fileName();
    if (!save.Execute(dialog)) return;
    if (QFileInfo(save.FileName) == QFileInfo(path)) return;
    CursorBusy(1);
    QFile from(path);
    QSaveFile to(save.FileName);
    const bool copied = from.open(QIODevice::ReadOnly) && to.open(QIODevice::WriteOnly) &&
                        to.write(from.readAll()) == from.size() && to.commit();
    if (!copied) CatErr(StrCantWrite);
    CursorBusy(0);
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
    QString unopened;
    try {
        TExcel8Driver driver;
        ResultsToWorkbook(driver, ResSheetName(SearchMass, SearchPpm), ResultsTable(ui.LV_Results));
    } catch (const EExcelNotOpened& e) {
        unopened = e.FileName();
    } catch (...) {
        CatErr(StrExcelFailed);
    }
    CursorBusy(0);
    if (!unopened.isEmpty()) OfferWorkbook(this, unopened);
}

void TDlgQvMain::SD_ResultsShow() {
    // The file dialog exists only once it runs: centre it as soon as its
    // event loop has shown it.
    QTimer::singleShot(0, this, [this] {
        for (QFileDialog* dlg : findChildren<QFileDialog*>(Qt::FindDirectChildrenOnly))
            if (dlg->isVisible()) BriskCenterDialog(dlg, this);
    });
}
