#pragma once
// The command channel to the host: one line of text per command, the host's
// integer result code back (0 = success), text answers in ResultText or in a
// caller-owned dynamic string.
#include <cstdint>

#include "zenfab.h"

// Formats a command into CmdBuf (grown as needed) and sends it through
// Command. Returns the host's result code, or -1 when nothing could be sent.
int32_t TarvishCmdEx(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Formats with the dynamic-string formatter (%a inserts a ZF_Str) and sends it
// through CommandStr; the answer lands in result. -1 when nothing was sent.
int32_t TarvishCmdSafe(ZF_Str* result, const char* format, ...);

// Switches the host's busy cursor; the state does not nest.
void CursorBusy(int32_t busy);

// Shows a host message box; returns the digit of the button pressed
// (the first character of the answer minus '0').
int32_t TwMessageBox(const char* text, const char* title, int32_t flags);

// Size of the buffer TwMessageBox composes its command in.
constexpr int MsgBoxCmdSize = 512;
