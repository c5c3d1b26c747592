#pragma once
// The host's library loader behind LoadModule: takes the portable module
// names plug-ins use ("locale.dll", "indigo.dll", "indigo-renderer.dll") and
// finds this platform's file for each.
#include <cstdarg>
#include <map>
#include <set>
#include <string>
#include <vector>

class ModuleLoader {
public:
    explicit ModuleLoader(std::string hostDir);

    // Names (lowercase, as plug-ins write them) the loader pretends are
    // missing; tests use it to take the missing-library paths.
    void refuse(const std::string& name) { refused_.insert(lower(name)); }
    // Makes the library user need dependency loaded globally first, as the
    // structure renderer needs the toolkit's core (base names, lowercase).
    void requireFirst(const std::string& user, const std::string& dependency) {
        dependencies_[lower(user)] = lower(dependency);
    }

    // "locale.dll" → "locale".
    static std::string baseName(const std::string& name);
    // Files tried in order: the host's lib/ folder, then the system's.
    std::vector<std::string> candidates(const std::string& name) const;

    // Loads name and resolves the (slot, symbol) pairs of args, closed by a
    // null slot. Returns 1 and fills handle and every slot when the library
    // and all symbols were found; 0 otherwise, with nothing filled and
    // nothing left loaded. The caller's dlclose of the handle releases all
    // that a successful load took: the loader keeps no reference.
    int load(void** handle, const char* name, va_list args);

    std::string lastError() const { return lastError_; }

private:
    static std::string lower(std::string s);
    void* open(const std::string& name);
    const char* dependencyOf(const std::string& base) const;
    bool isGlobal(const std::string& base) const;

    std::string hostDir_;
    std::set<std::string> refused_;
    std::map<std::string, std::string> dependencies_; // base name -> what it needs first
    std::string lastError_;
};
