// The main dialog's database, search and results handlers. The database
// engine link, the query and the results list are not wired yet: until then
// these handlers leave the dialog as it is.
#include "dlg_main.h"

void TDlgQvMain::ListDatabases() {}
void TDlgQvMain::CB_DatabaseChange() {}
void TDlgQvMain::CB_MassChange() {}
void TDlgQvMain::EnableButtons() {}
void TDlgQvMain::BT_SearchClick() {}
void TDlgQvMain::BT_DefaultClick() {}
void TDlgQvMain::DbClose() {}
void TDlgQvMain::LV_ResultsColumnClick(int) {}
int TDlgQvMain::LV_ResultsCmpMass(const QTreeWidgetItem*, const QTreeWidgetItem*) const { return 0; }
void TDlgQvMain::LV_ResultsSelectItem() {}
void TDlgQvMain::PM_ResultsPopup() {}
void TDlgQvMain::EnableResPopup() {}
void TDlgQvMain::PreviewUpdate() {}
void TDlgQvMain::PM_ResShowClick() {}
void TDlgQvMain::PM_ResSaveClick() {}
void TDlgQvMain::PM_ResCopyClick() {}
void TDlgQvMain::PM_ResCopyRowClick() {}
void TDlgQvMain::PM_ResCopyAllClick() {}
void TDlgQvMain::PM_ResExcelClick() {}
void TDlgQvMain::SD_ResultsShow() {}
void TDlgQvMain::ReadSettings(bool) {}
void TDlgQvMain::WriteSettings() {}
