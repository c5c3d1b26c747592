// Two broken plug-ins: one lacks Free, one fails its Init.
#include <cstdint>

#define EXPORT extern "C" __attribute__((visibility("default")))

EXPORT void* Init(void*) {
#ifdef BAD_INIT_FAILS
    return nullptr;
#else
    static int dummy;
    return &dummy;
#endif
}

EXPORT int32_t Call(int32_t) { return 1; }

#ifndef BAD_NO_FREE
EXPORT int32_t Free(void) { return 1; }
#endif
