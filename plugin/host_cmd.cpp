#include "host_cmd.h"

#include <QApplication>
#include <QCursor>
#include <clocale>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <locale.h>

#include "plugin_state.h"
#include "utf8_cut.h"

namespace {

// Host commands are machine text: numbers in them always take a point.
class CLocaleScope {
public:
    CLocaleScope() {
        static locale_t c = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
        old_ = uselocale(c);
    }
    ~CLocaleScope() { uselocale(old_); }

private:
    locale_t old_;
};

int32_t resultCode() { return TwInfo->ResultCode ? *TwInfo->ResultCode : -1; }

} // namespace

int32_t TarvishCmdEx(const char* format, ...) {
    if (!TwInfo || !TwInfo->Command) return -1;
    if (!CmdBuf) {
        CmdBuf = static_cast<char*>(std::malloc(static_cast<size_t>(CmdBufSize)));
        if (!CmdBuf) return -1;
    }
    int len;
    {
        CLocaleScope scope;
        va_list ap;
        va_start(ap, format);
        len = std::vsnprintf(CmdBuf, static_cast<size_t>(CmdBufSize), format, ap);
        va_end(ap);
        if (len < 0) return -1;
        if (len >= CmdBufSize) {
            std::free(CmdBuf);
            CmdBuf = nullptr;
            CmdBufSize = len + 1;
            CmdBuf = static_cast<char*>(std::malloc(static_cast<size_t>(CmdBufSize)));
            if (!CmdBuf) return -1;
            va_start(ap, format);
            std::vsnprintf(CmdBuf, static_cast<size_t>(CmdBufSize), format, ap);
            va_end(ap);
        }
    }
    TwInfo->Command(CmdBuf);
    return resultCode();
}

int32_t TarvishCmdSafe(ZF_Str* result, const char* format, ...) {
    ZF_Str* cmd = _ZF_StrNew();
    if (!cmd) return -1;
    if (!TwInfo || !TwInfo->CommandStr) {
        _ZF_StrFree(cmd);
        return -1;
    }
    va_list ap;
    va_start(ap, format);
    int32_t n = _ZF_StrVPrintC(cmd, format, ap);
    va_end(ap);
    int32_t code = -1;
    if (n >= 0) {
        TwInfo->CommandStr(result, cmd->Text);
        code = resultCode();
    }
    _ZF_StrFree(cmd);
    return code;
}

void CursorBusy(int32_t busy) {
    const uint8_t state = busy ? 1 : 0;
    if (state == CursorState || !TwInfo) return;
    // The application's cursor is a stack shared with the host: take off
    // only the busy cursor this module put on (the dialog may not have
    // existed when the busy state began).
    if (state && DlgQvMain && qApp) {
        QApplication::setOverrideCursor(Qt::WaitCursor);
        CursorPushed = 1;
    } else if (!state && CursorPushed) {
        if (qApp) QApplication::restoreOverrideCursor();
        CursorPushed = 0;
    }
    TwInfo->Command(state ? "Cursor Busy" : "Cursor Default");
    CursorState = state;
}

int32_t TwMessageBox(const char* text, const char* title, int32_t flags) {
    if (!TwInfo) return -1;
    if (!text) text = "";
    if (!title) title = "";
    // The command must fit its buffer whole, closing quotes and flags
    // included: a long text is cut, never the syntax.
    char tail[64 + 256];
    std::snprintf(tail, sizeof tail, "\" \"%.*s\" %d",
                  static_cast<int>(Utf8CutLength(title, std::strlen(title), 255)), title,
                  static_cast<int>(flags));
    const size_t head = std::strlen("messagebox \"");
    const size_t room = MsgBoxCmdSize - 1 - head - std::strlen(tail);
    char buf[MsgBoxCmdSize];
    std::snprintf(buf, sizeof buf, "messagebox \"%.*s%s", static_cast<int>(Utf8CutLength(text, std::strlen(text), room)),
                  text, tail);
    TwInfo->Command(buf);
    const char* answer = TwInfo->ResultText ? TwInfo->ResultText : "";
    return static_cast<int32_t>(answer[0]) - '0';
}
