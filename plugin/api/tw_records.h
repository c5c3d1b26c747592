#pragma once
// The records that cross the boundary between the host and a plug-in. Their
// byte layout is a binary interface with separately built modules, so every
// offset is pinned below.
#include <cstddef>
#include <cstdint>

#include "zenfab.h"

extern "C" {

// A window handle is the QWidget* of a host window, opaque to the plug-in.
typedef void* TW_HWND;
// A module handle is what dlopen() returned.
typedef void* TW_HMODULE;
// A menu bitmap handle is a QPixmap* owned by the plug-in.
typedef void* TW_HBITMAP;

typedef void (*TW_CommandFn)(const char* command);
// LoadModule(&handle, "name.dll", flags, &slot1, "symbol1", &slot2, "symbol2", ..., NULL)
typedef int32_t (*TW_LoadModuleFn)(TW_HMODULE* handle, const char* name, int32_t flags, ...);
typedef void (*TW_DialogShowFn)(int32_t);
typedef void (*TW_RegisterDialogFn)(const char* name, void* dialogVariable, TW_DialogShowFn show);
typedef void (*TW_CommandStrFn)(ZF_Str* result, const char* command);

struct TW_INFO {
    uint8_t Private0[8];
    int32_t* ResultCode;       // 8
    uint8_t Private1[40];
    char* ResultText;          // 56
    TW_HWND hAppWnd;           // 64
    uint8_t Private2[48];
    TW_HWND hMainWnd;          // 120
    char IniFile[260];         // 128
    char HostDir[260];         // 388
    TW_CommandFn Command;      // 648
    uint8_t Private3[72];
    TW_LoadModuleFn LoadModule;         // 728
    TW_RegisterDialogFn RegisterDialog; // 736
    uint8_t Private4[8];
    TW_CommandStrFn CommandStr;         // 752
};

struct TW_FUNCLIST {
    const char* Caption;   // 0
    int32_t Selector;      // 8: 4 = Tools menu, 5 = Help menu, 0 = help page
    int32_t Reserved1;     // 12
    TW_HBITMAP Bitmap;     // 16
    int32_t Value24;       // 24
    int32_t Value28;       // 28
    int32_t FuncId;        // 32
    int32_t Reserved2;     // 36
};

struct TW_PLUGINFO {
    int32_t Interface;      // 0: 2
    int32_t FuncCount;      // 4
    void* Reserved1;        // 8
    const char* Name;       // 16
    const char* Author;     // 24
    TW_FUNCLIST* FuncList;  // 32
    void* Reserved2;        // 40
};

typedef TW_PLUGINFO* (*TW_InitFn)(TW_INFO*);
typedef int32_t (*TW_CallFn)(int32_t);
typedef int32_t (*TW_FreeFn)(void);

} // extern "C"

static_assert(sizeof(void*) == 8, "the plug-in interface is 64-bit");
static_assert(offsetof(TW_INFO, ResultCode) == 8);
static_assert(offsetof(TW_INFO, ResultText) == 56);
static_assert(offsetof(TW_INFO, hAppWnd) == 64);
static_assert(offsetof(TW_INFO, hMainWnd) == 120);
static_assert(offsetof(TW_INFO, IniFile) == 128);
static_assert(offsetof(TW_INFO, HostDir) == 388);
static_assert(offsetof(TW_INFO, Command) == 648);
static_assert(offsetof(TW_INFO, LoadModule) == 728);
static_assert(offsetof(TW_INFO, RegisterDialog) == 736);
static_assert(offsetof(TW_INFO, CommandStr) == 752);
static_assert(sizeof(TW_FUNCLIST) == 40);
static_assert(offsetof(TW_FUNCLIST, Selector) == 8);
static_assert(offsetof(TW_FUNCLIST, Bitmap) == 16);
static_assert(offsetof(TW_FUNCLIST, Value24) == 24);
static_assert(offsetof(TW_FUNCLIST, Value28) == 28);
static_assert(offsetof(TW_FUNCLIST, FuncId) == 32);
static_assert(sizeof(TW_PLUGINFO) == 48);
static_assert(offsetof(TW_PLUGINFO, Name) == 16);
static_assert(offsetof(TW_PLUGINFO, FuncList) == 32);
static_assert(offsetof(TW_PLUGINFO, Reserved2) == 40);
