#pragma once
// Loads the plug-ins of the host's plugins/ folder, initialises them, calls
// them on a menu pick and releases them at exit. A plug-in that cannot be
// loaded, lacks an entry point or fails Init is reported and left out.
#include <string>
#include <vector>

#include "host_record.h"

struct PluginEntry {
    std::string caption;  // empty for the help entry: the host names it
    int selector = 0;     // 4 Tools menu, 5 Help menu, 0 help page
    const void* bitmap = nullptr; // QPixmap* of the plug-in, or null
    int funcId = 0;
};

struct LoadedPlugin {
    std::string path;
    std::string name;
    std::string author;
    void* handle = nullptr;
    TW_CallFn call = nullptr;
    TW_FreeFn free = nullptr;
    std::vector<PluginEntry> entries;
};

class PluginManager {
public:
    PluginManager(HostLink& link, std::string hostDir, std::string iniFile)
        : link_(link), hostDir_(std::move(hostDir)), iniFile_(std::move(iniFile)) {}
    ~PluginManager() { unloadAll(); }

    // Loads every *.so of folder, in name order.
    void loadFolder(const std::string& folder, void* appWindow, void* mainWindow);
    // Loads one plug-in; false (and a line in problems()) when it fails.
    bool load(const std::string& path, void* appWindow, void* mainWindow);
    // Calls the plug-in's Call with funcId.
    void call(size_t plugin, int funcId);
    // Free, then unload, every plug-in, last loaded first.
    void unloadAll();

    const std::vector<LoadedPlugin>& plugins() const { return plugins_; }
    const std::vector<std::string>& problems() const { return problems_; }

private:
    HostLink& link_;
    std::string hostDir_, iniFile_;
    std::vector<LoadedPlugin> plugins_;
    std::vector<std::string> problems_;
};
