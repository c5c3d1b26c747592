#include "plugin_manager.h"

#include <algorithm>
#include <cstdio>
#include <dlfcn.h>
#include <filesystem>

namespace fs = std::filesystem;

void PluginManager::loadFolder(const std::string& folder, void* appWindow, void* mainWindow) {
    std::vector<std::string> files;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(folder, ec))
        if (e.is_regular_file(ec) && e.path().extension() == ".so") files.push_back(e.path().string());
    std::sort(files.begin(), files.end());
    for (const std::string& f : files) load(f, appWindow, mainWindow);
}

bool PluginManager::load(const std::string& path, void* appWindow, void* mainWindow) {
    auto fail = [&](const std::string& why) {
        problems_.push_back(path + ": " + why);
        std::fprintf(stderr, "tarvish: plug-in %s left out: %s\n", path.c_str(), why.c_str());
        return false;
    };
    void* h = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!h) {
        const char* e = dlerror();
        return fail(e ? e : "cannot load");
    }
    auto init = reinterpret_cast<TW_InitFn>(dlsym(h, "Init"));
    auto call = reinterpret_cast<TW_CallFn>(dlsym(h, "Call"));
    auto fre = reinterpret_cast<TW_FreeFn>(dlsym(h, "Free"));
    if (!init || !call || !fre) {
        dlclose(h);
        return fail("it does not export Init, Call and Free");
    }
    TW_INFO* record = link_.newRecord(appWindow, mainWindow, iniFile_, hostDir_);
    TW_PLUGINFO* info = init(record);
    if (!info || !info->Name) {
        // Init failed: give the plug-in its chance to release what it made,
        // and forget what it registered before it goes.
        fre();
        link_.forgetModule(reinterpret_cast<const void*>(init));
        dlclose(h);
        return fail("Init failed");
    }
    LoadedPlugin p;
    p.path = path;
    p.name = info->Name;
    p.author = info->Author ? info->Author : "";
    p.handle = h;
    p.call = call;
    p.free = fre;
    for (TW_FUNCLIST* f = info->FuncList; f && (f->Caption || f->FuncId || f->Selector); ++f) {
        PluginEntry e;
        e.caption = f->Caption ? f->Caption : "";
        e.selector = f->Selector;
        e.bitmap = f->Bitmap;
        e.funcId = f->FuncId;
        p.entries.push_back(e);
    }
    plugins_.push_back(std::move(p));
    return true;
}

void PluginManager::call(size_t plugin, int funcId) {
    if (plugin < plugins_.size() && plugins_[plugin].call) plugins_[plugin].call(funcId);
}

void PluginManager::unloadAll() {
    while (!plugins_.empty()) {
        LoadedPlugin& p = plugins_.back();
        if (p.free) p.free();
        link_.forgetModule(reinterpret_cast<const void*>(p.call));
        if (p.handle) dlclose(p.handle);
        plugins_.pop_back();
    }
}
