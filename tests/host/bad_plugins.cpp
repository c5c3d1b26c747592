// Broken plug-ins: one lacks Free, one fails its Init, and one registers its
// dialog with the host before its Init fails.
#include <cstdint>

#define EXPORT extern "C" __attribute__((visibility("default")))

#ifdef BAD_REGISTERS
#include "tw_records.h"

static int shown = 0;
static void* dialog = nullptr;
static void ShowBadDialog(int32_t) { dialog = &shown; }

EXPORT void* Init(TW_INFO* info) {
    if (info && info->RegisterDialog) info->RegisterDialog("BadDialog", &dialog, ShowBadDialog);
    return nullptr;
}
#else
EXPORT void* Init(void*) {
#ifdef BAD_INIT_FAILS
    return nullptr;
#else
    static int dummy;
    return &dummy;
#endif
}
#endif

EXPORT int32_t Call(int32_t) { return 1; }

#ifndef BAD_NO_FREE
EXPORT int32_t Free(void) { return 1; }
#endif
