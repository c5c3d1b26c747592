// The main dialog's isotope and chart handlers. The distribution request,
// the peak series and the chart commands are not wired yet: until then these
// handlers leave the dialog as it is.
#include "dlg_main.h"

void TDlgQvMain::PM_ResIsoDistClick() {}
void TDlgQvMain::BT_ExUpdateClick() {}
void TDlgQvMain::ME_ExDataChange() {}
void TDlgQvMain::EnableChartPopup() {}
void TDlgQvMain::PM_IC_CopyChartClick() {}
void TDlgQvMain::PM_IC_CopyDataClick() {}
void TDlgQvMain::PM_IC_SendExpClick() {}
void TDlgQvMain::PM_IC_ZoomInClick() {}
void TDlgQvMain::PM_IC_ZoomOutClick() {}
void TDlgQvMain::PM_IC_ZoomResetClick() {}
void TDlgQvMain::PM_IC_PrintClick() {}
void TDlgQvMain::PD_PrintShow() {}
