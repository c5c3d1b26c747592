#pragma once
// Module-wide state of the plug-in: what lives from Init to Free.
#include <cstdint>
#include <functional>
#include <string>

#include "tw_records.h"

class QWidget;
class QPixmap;
class TDlgQvMain;
class TDlgQvAbout;

// Host record handed to Init; null before Init and after Free.
extern TW_INFO* TwInfo;
// The window that owns every dialog of the plug-in (the host's hAppWnd).
extern QWidget* AppOwner;

// locale library and its open catalog.
typedef void* (*TWP_LocOpenCat)(const char*, const char*, const char*, int, const char*);
typedef void (*TWP_LocCloseCat)(void*);
typedef const char* (*TWP_LocGetCatStr)(void*, int, const char*);
typedef int (*TWP_LocGetErr)(void);
typedef void (*TWP_LocGetErrStr)(char*, int);
extern TW_HMODULE hLocale;
extern TWP_LocOpenCat TWP_LOC_LocOpenCat;
extern TWP_LocCloseCat TWP_LOC_LocCloseCat;
extern TWP_LocGetCatStr TWP_LOC_LocGetCatStr;
extern TWP_LocGetErr TWP_LOC_LocGetErr;
extern TWP_LocGetErrStr TWP_LOC_LocGetErrStr;
extern void* Catalog;

// Structure-drawing libraries, loaded on demand by the preview.
extern TW_HMODULE hIndigo;
extern TW_HMODULE hIndigoRenderer;

// Host command buffer and the busy state last sent to the host.
extern char* CmdBuf;
extern int32_t CmdBufSize;
extern uint8_t CursorState;
// 1 while the busy cursor this module put on the application is on.
extern uint8_t CursorPushed;

// The dialogs, null until first shown.
extern TDlgQvMain* DlgQvMain;
extern TDlgQvAbout* DlgQvAbout;

// Non-zero when the main dialog's settings are to be written at Free.
extern int32_t SaveIni;

// The host-menu picture shared by the function-list entries.
extern QPixmap* MenuBitmap;

// Opens the help page; returns false when it could not be opened. Tests
// replace it so that no desktop program starts.
extern std::function<bool(const std::string& path)> OpenHelpHook;

extern TW_PLUGINFO PlugInfo;
extern TW_FUNCLIST FuncList[4];

// Function ids of the host menu entries.
enum : int32_t { FUNC_ABOUT = 1, FUNC_HELP = 3, FUNC_MAIN = 101 };
