// The results list read as a table of cells, and the table sent to a workbook.
#include <QTreeWidget>

#include "excel8driver.h"
#include "export_results.h"

namespace {

std::string Utf8(const QString& text) {
    return text.toUtf8().toStdString();
}

} // namespace

std::vector<std::string> ResultsRow(const QTreeWidgetItem* item) {
    std::vector<std::string> row;
    if (!item) return row;
    const QTreeWidget* list = item->treeWidget();
    const int columns = list ? list->columnCount() : item->columnCount();
    row.reserve(static_cast<size_t>(columns));
    for (int c = 0; c < columns; ++c)
        row.push_back(Utf8(item->text(c)));
    return row;
}

TResultsTable ResultsTable(const QTreeWidget* list) {
    TResultsTable table;
    if (!list) return table;
    const QTreeWidgetItem* header = list->headerItem();
    for (int c = 0; c < list->columnCount(); ++c)
        table.Captions.push_back(header ? Utf8(header->text(c)) : std::string());
    // Top-level items in their current order: the order the list shows.
    const int count = list->topLevelItemCount();
    table.Rows.reserve(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i)
        table.Rows.push_back(ResultsRow(list->topLevelItem(i)));
    return table;
}

void ResultsToWorkbook(TExcel8Driver& driver, const std::string& sheetName,
                       const TResultsTable& table) {
    driver.Create();
    driver.SetSheetName(sheetName.c_str());
    for (size_t i = 0; i < table.Captions.size(); ++i)
        driver.SetCellText(1, static_cast<int>(i) + 1, 1, table.Captions[i].c_str());
    for (size_t j = 0; j < table.Rows.size(); ++j) {
        const std::vector<std::string>& row = table.Rows[j];
        for (size_t k = 0; k < row.size(); ++k)
            driver.SetCellText(static_cast<int>(j) + 2, static_cast<int>(k) + 1, 0, row[k].c_str());
    }
    driver.View();
}
