# The main dialog, the about box, the edit menu and the common dialogs.
set(QUORVEL_DIALOGS_SOURCES
  dialog_shell.cpp
  dlg_main.cpp
  dlg_about.cpp
  edit_popup.cpp
  common_dialogs.cpp
  DlgQvMain.ui
  DlgQvAbout.ui
)
list(APPEND QUORVEL_LIBS brisk tchart)
