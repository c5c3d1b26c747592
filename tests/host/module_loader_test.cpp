// The loader with the real structure toolkit, in a process that does not
// link it, so that what stays loaded can be seen.
#include <gtest/gtest.h>

#include <cstdarg>
#include <dlfcn.h>
#include <string>

#include "module_loader.h"

namespace {

int32_t Load(ModuleLoader& l, void** h, const char* name, ...) {
    va_list ap;
    va_start(ap, name);
    int32_t r = l.load(h, name, ap);
    va_end(ap);
    return r;
}

bool IsLoaded(const char* file) {
    void* h = dlopen(file, RTLD_NOW | RTLD_NOLOAD);
    if (h) dlclose(h);
    return h != nullptr;
}

const char* const kCore = "libindigo.so.0d";
const char* const kRenderer = "libindigo-renderer.so.0d";

TEST(ModuleLoaderIndigo, TheRendererLoadsAgainAfterAFailureAndAfterEachUnload) {
    ASSERT_FALSE(IsLoaded(kCore)) << "this test needs a process that does not link the toolkit";
    ModuleLoader l(std::string(TW_BUILD_DIR) + "/");
    void *core = nullptr, *renderer = nullptr, *alloc = nullptr, *render = nullptr;
    // A symbol the renderer lacks: neither library stays.
    EXPECT_EQ(0, Load(l, &renderer, "indigo-renderer.dll", &render, "noSuchSymbol", nullptr));
    EXPECT_FALSE(IsLoaded(kRenderer));
    EXPECT_FALSE(IsLoaded(kCore));
    // As the plug-in loads and frees them, again and again: the renderer
    // registers its options with the core when it loads, and aborts the
    // process if a core kept from an earlier load has them already.
    for (int round = 0; round < 3; ++round) {
        ASSERT_EQ(1, Load(l, &core, "indigo.dll", &alloc, "indigoAllocSessionId", nullptr)) << l.lastError();
        ASSERT_EQ(1, Load(l, &renderer, "indigo-renderer.dll", &render, "indigoRender", nullptr))
            << l.lastError();
        auto allocSession = reinterpret_cast<unsigned long long (*)()>(alloc);
        auto releaseSession = reinterpret_cast<void (*)(unsigned long long)>(dlsym(core, "indigoReleaseSessionId"));
        ASSERT_NE(nullptr, releaseSession);
        releaseSession(allocSession());
        dlclose(core);
        EXPECT_TRUE(IsLoaded(kCore)) << "the renderer still needs its core";
        dlclose(renderer);
        EXPECT_FALSE(IsLoaded(kRenderer)) << round;
        EXPECT_FALSE(IsLoaded(kCore)) << round;
    }
}

} // namespace
