#include "plugin_state.h"

TW_INFO* TwInfo = nullptr;
QWidget* AppOwner = nullptr;

TW_HMODULE hLocale = nullptr;
TWP_LocOpenCat TWP_LOC_LocOpenCat = nullptr;
TWP_LocCloseCat TWP_LOC_LocCloseCat = nullptr;
TWP_LocGetCatStr TWP_LOC_LocGetCatStr = nullptr;
TWP_LocGetErr TWP_LOC_LocGetErr = nullptr;
TWP_LocGetErrStr TWP_LOC_LocGetErrStr = nullptr;
void* Catalog = nullptr;

TW_HMODULE hIndigo = nullptr;
TW_HMODULE hIndigoRenderer = nullptr;

char* CmdBuf = nullptr;
int32_t CmdBufSize = 512;
uint8_t CursorState = 0;
uint8_t CursorPushed = 0;

TDlgQvMain* DlgQvMain = nullptr;
TDlgQvAbout* DlgQvAbout = nullptr;
int32_t SaveIni = 0;
QPixmap* MenuBitmap = nullptr;

std::function<bool(const std::string& path)> OpenHelpHook;

TW_FUNCLIST FuncList[4] = {
    {nullptr, 5, 0, nullptr, 1, 255, FUNC_ABOUT, 0},
    {nullptr, 4, 0, nullptr, 1, 255, FUNC_MAIN, 0},
    {nullptr, 0, 0, nullptr, 1, 255, FUNC_HELP, 0},
    {nullptr, 0, 0, nullptr, 0, 0, 0, 0},
};

TW_PLUGINFO PlugInfo = {2, 3, nullptr, "Quorvel", "Orlavik", FuncList, nullptr};
