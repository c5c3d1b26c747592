#include "test_host.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <dlfcn.h>

#include "interpreter.h"

namespace {
TestHost* g_host = nullptr;

bool startsWithNoCase(const std::string& s, const std::string& prefix) {
    if (prefix.size() > s.size()) return false;
    for (size_t i = 0; i < prefix.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(s[i])) !=
            std::tolower(static_cast<unsigned char>(prefix[i])))
            return false;
    return true;
}
} // namespace

// A HostUi that records instead of showing.
struct RecordingUi : HostUi {
    void setBusy(bool) override {}
    int messageBox(const std::string&, const std::string&, int) override { return 1; }
    bool copyText(const std::string& t) override {
        clipboard = t;
        return true;
    }
    void showMolecule(const WorkspaceMolecule& m) override { shown.push_back(m); }
    std::string clipboard;
    std::vector<WorkspaceMolecule> shown;
};

void testHostCommand(const char* text) {
    if (!g_host) return;
    CommandResult r = g_host->run(text ? text : "");
    g_host->code_ = r.code;
    g_host->text_ = r.text;
    g_host->info.ResultText = g_host->text_.data();
}

void testHostCommandStr(ZF_Str* result, const char* text) {
    testHostCommand(text);
    if (g_host && result) _ZF_StrSetC(result, g_host->text_.c_str());
}

void testHostRegister(const char* name, void* variable, TW_DialogShowFn show) {
    if (g_host) g_host->dialogs.push_back({name ? name : "", variable, show});
}

namespace {
extern "C" int32_t testHostLoadModule(TW_HMODULE* handle, const char* name, int32_t flags, ...) {
    if (!g_host) return 0;
    va_list ap;
    va_start(ap, flags);
    int32_t ok = g_host->loader.load(handle, name, ap);
    va_end(ap);
    return ok;
}
extern "C" void cCommand(const char* t) { testHostCommand(t); }
extern "C" void cCommandStr(ZF_Str* r, const char* t) { testHostCommandStr(r, t); }
extern "C" void cRegister(const char* n, void* v, TW_DialogShowFn s) { testHostRegister(n, v, s); }
} // namespace

std::string TestHost::buildDir() { return std::string(TW_BUILD_DIR) + "/"; }
std::string TestHost::pluginPath() { return buildDir() + "plugins/libquorvel.so"; }

TestHost::TestHost(std::string hostDir)
    : loader(buildDir()) {
    if (hostDir.empty()) hostDir = buildDir();
    g_host = this;
    std::memset(&info, 0, sizeof info);
    info.ResultCode = &code_;
    info.ResultText = text_.data();
    std::snprintf(info.IniFile, sizeof info.IniFile, "%s", (hostDir + "test-settings.ini").c_str());
    std::snprintf(info.HostDir, sizeof info.HostDir, "%s", hostDir.c_str());
    info.Command = cCommand;
    info.CommandStr = cCommandStr;
    info.LoadModule = testHostLoadModule;
    info.RegisterDialog = cRegister;
}

TestHost::~TestHost() {
    unloadModule();
    if (g_host == this) g_host = nullptr;
}

void TestHost::answer(const std::string& prefix, int code, const std::string& text) {
    rules_.push_back({prefix, code, text});
}

void TestHost::clearAnswers() { rules_.clear(); }

void TestHost::useRealInterpreter(const std::string& language, const std::string& dataDir) {
    ui_ = std::make_unique<RecordingUi>();
    interpreter_ = std::make_unique<CommandInterpreter>(
        CommandInterpreter::Config{language, dataDir, info.HostDir}, ui_.get());
    fallback = [this](const std::string& c) { return interpreter_->execute(c); };
}

CommandResult TestHost::run(const std::string& command) {
    commands.push_back(command);
    for (const Rule& r : rules_)
        if (startsWithNoCase(command, r.prefix)) return {r.code, r.text};
    if (fallback) return fallback(command);
    return {0, ""};
}

int TestHost::countOf(const std::string& command) const {
    int n = 0;
    for (const std::string& c : commands) n += c == command;
    return n;
}

bool TestHost::loadModule(const std::string& path, std::string* error) {
    module_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!module_) {
        if (error) *error = dlerror();
        return false;
    }
    Init = reinterpret_cast<TW_InitFn>(dlsym(module_, "Init"));
    Call = reinterpret_cast<TW_CallFn>(dlsym(module_, "Call"));
    Free = reinterpret_cast<TW_FreeFn>(dlsym(module_, "Free"));
    if (!Init || !Call || !Free) {
        if (error) *error = "missing entry point";
        unloadModule();
        return false;
    }
    return true;
}

void TestHost::unloadModule() {
    if (module_) dlclose(module_);
    module_ = nullptr;
    Init = nullptr;
    Call = nullptr;
    Free = nullptr;
}
