// Showing, closing and destroying the plug-in's two dialogs.
#include "dialog_shell.h"

#include "dlg_about.h"
#include "dlg_main.h"
#include "plugin_state.h"

void DlgMain_MyShow(int32_t) {
    if (!DlgQvMain) DlgQvMain = new TDlgQvMain(AppOwner);
    DlgQvMain->Show();
}

void DlgMain_MyClose() {
    if (DlgQvMain) DlgQvMain->close();
}

void DlgAbout_MyShow() {
    if (!DlgQvAbout) DlgQvAbout = new TDlgQvAbout(AppOwner);
    DlgQvAbout->ShowModal();
}

void DlgMain_WriteSettings() {
    if (DlgQvMain) DlgQvMain->WriteSettings();
}

void Dialogs_Destroy() {
    delete DlgQvAbout;
    DlgQvAbout = nullptr;
    delete DlgQvMain;
    DlgQvMain = nullptr;
}
