#pragma once
// The host's library loader behind LoadModule: takes the portable module
// names plug-ins use ("locale.dll", "indigo.dll", "indigo-renderer.dll") and
// finds this platform's file for each.
#include <cstdarg>
#include <set>
#include <string>
#include <vector>

class ModuleLoader {
public:
    explicit ModuleLoader(std::string hostDir) : hostDir_(std::move(hostDir)) {}
    ~ModuleLoader();

    // Names (lowercase, as plug-ins write them) the loader pretends are
    // missing; tests use it to take the missing-library paths.
    void refuse(const std::string& name) { refused_.insert(lower(name)); }

    // "locale.dll" → "locale".
    static std::string baseName(const std::string& name);
    // Files tried in order: the host's lib/ folder, then the system's.
    std::vector<std::string> candidates(const std::string& name) const;

    // Loads name and resolves the (slot, symbol) pairs of args, closed by a
    // null slot. Returns 1 and fills handle and every slot when the library
    // and all symbols were found; 0 otherwise, with nothing filled and
    // nothing left loaded.
    int load(void** handle, const char* name, va_list args);

    std::string lastError() const { return lastError_; }

private:
    static std::string lower(std::string s);
    void* open(const std::string& name);

    std::string hostDir_;
    std::set<std::string> refused_;
    std::vector<void*> dependencies_; // libraries opened globally for another one
    std::string lastError_;
};
