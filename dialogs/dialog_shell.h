#pragma once
// Showing and closing the plug-in's dialogs; the dialogs themselves are
// created on first use.
#include <cstdint>

void DlgMain_MyShow(int32_t);
void DlgMain_MyClose();
void DlgAbout_MyShow();
// Writes the main dialog's settings (at Free, when they changed).
void DlgMain_WriteSettings();
// Destroys both dialogs, the about box first.
void Dialogs_Destroy();
