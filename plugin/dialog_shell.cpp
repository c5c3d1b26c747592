// Placeholder dialog entry points until the dialogs exist: they show nothing.
#include "dialog_shell.h"

#include "plugin_state.h"

void DlgMain_MyShow(int32_t) {}
void DlgMain_MyClose() {}
void DlgAbout_MyShow() {}
void DlgMain_WriteSettings() {}
void Dialogs_Destroy() {}
