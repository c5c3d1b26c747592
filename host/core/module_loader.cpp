#include "module_loader.h"

#include <cctype>
#include <dlfcn.h>
#include <utility>

namespace {

struct Pair {
    void** slot;
    const char* symbol;
};

} // namespace

ModuleLoader::ModuleLoader(std::string hostDir) : hostDir_(std::move(hostDir)) {
    // The structure renderer does not name the toolkit's core as a needed
    // library, yet resolves its symbols from it.
    requireFirst("indigo-renderer", "indigo");
}

const char* ModuleLoader::dependencyOf(const std::string& base) const {
    auto it = dependencies_.find(base);
    return it == dependencies_.end() ? nullptr : it->second.c_str();
}

// A library others need is opened globally, so that they resolve from it.
bool ModuleLoader::isGlobal(const std::string& base) const {
    for (const auto& [user, dep] : dependencies_)
        if (dep == base) return true;
    return false;
}

std::string ModuleLoader::lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

std::string ModuleLoader::baseName(const std::string& name) {
    std::string b = lower(name);
    for (char& c : b)
        if (c == '\\') c = '/';
    size_t slash = b.rfind('/');
    if (slash != std::string::npos) b = b.substr(slash + 1);
    if (b.size() > 4 && b.compare(b.size() - 4, 4, ".dll") == 0) b.resize(b.size() - 4);
    if (b.size() > 3 && b.compare(b.size() - 3, 3, ".so") == 0) b.resize(b.size() - 3);
    if (b.rfind("lib", 0) == 0 && b.size() > 3) b = b.substr(3);
    return b;
}

std::vector<std::string> ModuleLoader::candidates(const std::string& name) const {
    const std::string base = baseName(name);
    std::vector<std::string> c;
    c.push_back(hostDir_ + "lib/lib" + base + ".so");
    c.push_back("lib" + base + ".so");
    // Debian installs some libraries under a versioned name only.
    static const char* const versions[] = {".0d", ".0", ".1", ".2"};
    for (const char* v : versions) c.push_back("lib" + base + ".so" + v);
    return c;
}

void* ModuleLoader::open(const std::string& name) {
    const std::string base = baseName(name);
    // A library that needs another one loaded globally first (the renderer
    // and the toolkit's core) gets it here. Once the library is loaded its
    // bindings keep that dependency loaded, so the loader's own reference is
    // released at once, whether the load succeeded or not: the plug-in's
    // unload of its handle then unloads both.
    void* dependency = nullptr;
    if (const char* dep = dependencyOf(base)) {
        for (const std::string& f : candidates(dep))
            if ((dependency = dlopen(f.c_str(), RTLD_NOW | RTLD_GLOBAL))) break;
        if (!dependency) {
            lastError_ = "cannot load " + std::string(dep) + ", needed by " + name;
            return nullptr;
        }
    }
    const int mode = isGlobal(base) ? RTLD_NOW | RTLD_GLOBAL : RTLD_NOW | RTLD_LOCAL;
    std::string errors;
    void* h = nullptr;
    for (const std::string& f : candidates(name)) {
        if ((h = dlopen(f.c_str(), mode))) break;
        if (const char* e = dlerror()) errors += std::string(e) + "; ";
    }
    if (dependency) dlclose(dependency);
    if (!h) lastError_ = "cannot load " + name + ": " + errors;
    return h;
}

int ModuleLoader::load(void** handle, const char* name, va_list args) {
    std::vector<Pair> pairs;
    for (;;) {
        void** slot = va_arg(args, void**);
        if (!slot) break;
        pairs.push_back({slot, va_arg(args, const char*)});
    }
    if (!handle || !name) {
        lastError_ = "no module name";
        return 0;
    }
    if (refused_.count(lower(name))) {
        lastError_ = std::string(name) + " is refused";
        return 0;
    }
    void* h = open(name);
    if (!h) return 0;
    std::vector<void*> found;
    for (const Pair& p : pairs) {
        void* f = p.symbol ? dlsym(h, p.symbol) : nullptr;
        if (!f) {
            lastError_ = std::string(name) + " lacks " + (p.symbol ? p.symbol : "(null)");
            dlclose(h);
            return 0;
        }
        found.push_back(f);
    }
    *handle = h;
    for (size_t i = 0; i < pairs.size(); ++i) *pairs[i].slot = found[i];
    return 1;
}
