#include "host_record.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <dlfcn.h>

namespace {

HostLink* g_link = nullptr;

template <typename F> void guarded(const char* what, F&& body) noexcept {
    try {
        body();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "tarvish: %s failed: %s\n", what, e.what());
    } catch (...) {
        std::fprintf(stderr, "tarvish: %s failed\n", what);
    }
}

void copyField(char (&field)[260], const std::string& value) {
    std::snprintf(field, sizeof field, "%s", value.c_str());
}

extern "C" void twCommand(const char* text) {
    guarded("Command", [&] {
        if (g_link) g_link->command(text);
    });
}

extern "C" void twCommandStr(ZF_Str* result, const char* text) {
    guarded("CommandStr", [&] {
        if (g_link) g_link->commandStr(result, text);
    });
}

extern "C" int32_t twLoadModule(TW_HMODULE* handle, const char* name, int32_t flags, ...) {
    int32_t ok = 0;
    va_list ap;
    va_start(ap, flags);
    guarded("LoadModule", [&] {
        if (g_link) ok = g_link->loader().load(handle, name, ap);
    });
    va_end(ap);
    return ok;
}

extern "C" void twRegisterDialog(const char* name, void* variable, TW_DialogShowFn show) {
    guarded("RegisterDialog", [&] {
        if (!g_link || !name || !show) return;
        RegisteredDialog d;
        d.name = name;
        d.variable = variable;
        d.show = [show] { show(0); };
        d.module = HostLink::moduleOf(reinterpret_cast<const void*>(show));
        g_link->interpreter().registerDialog(std::move(d));
    });
}

} // namespace

HostLink::HostLink(CommandInterpreter& interpreter, ModuleLoader& loader)
    : interpreter_(interpreter), loader_(loader) {
    g_link = this;
}

HostLink::~HostLink() {
    if (g_link == this) g_link = nullptr;
}

HostLink* HostLink::current() { return g_link; }

const void* HostLink::moduleOf(const void* address) {
    Dl_info info{};
    return address && dladdr(address, &info) ? info.dli_fbase : nullptr;
}

void HostLink::forgetModule(const void* addressInModule) {
    if (const void* m = moduleOf(addressInModule)) interpreter_.forgetDialogsOf(m);
}

TW_INFO* HostLink::newRecord(void* appWindow, void* mainWindow, const std::string& iniFile,
                             const std::string& hostDir) {
    TW_INFO& r = records_.emplace_back();
    std::memset(&r, 0, sizeof r);
    r.ResultCode = &code_;
    r.ResultText = text_.data();
    r.hAppWnd = appWindow;
    r.hMainWnd = mainWindow;
    copyField(r.IniFile, iniFile);
    copyField(r.HostDir, hostDir);
    r.Command = twCommand;
    r.LoadModule = twLoadModule;
    r.RegisterDialog = twRegisterDialog;
    r.CommandStr = twCommandStr;
    return &r;
}

void HostLink::publish(CommandResult r) {
    code_ = r.code;
    text_ = std::move(r.text);
    for (TW_INFO& rec : records_) rec.ResultText = text_.data();
}

void HostLink::command(const char* text) { publish(interpreter_.execute(text ? text : "")); }

void HostLink::commandStr(ZF_Str* result, const char* text) {
    publish(interpreter_.execute(text ? text : ""));
    if (result) _ZF_StrSetC(result, text_.c_str());
}
