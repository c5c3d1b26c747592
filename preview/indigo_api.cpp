#include "indigo_api.h"

#include <dlfcn.h>

#include "plugin_state.h"

namespace {

// Keeps the library that holds symbol loaded for the life of the process.
// The renderer registers its options with the core when it is initialised,
// and the host's loader keeps the core loaded for the renderer's sake: a
// renderer unloaded and loaded again would register them twice, which the
// core answers by throwing out of the library's initialiser (the process
// aborts). Pinned, both stay as first initialised and a later load simply
// finds them.
void Pin(void* symbol) {
    Dl_info info{};
    if (symbol && dladdr(symbol, &info) && info.dli_fname)
        dlopen(info.dli_fname, RTLD_NOW | RTLD_NOLOAD | RTLD_NODELETE);
}

} // namespace

TWI_indigoAllocSessionId TW_indigoAllocSessionId = nullptr;
TWI_indigoFoldHydrogens TW_indigoFoldHydrogens = nullptr;
TWI_indigoFree TW_indigoFree = nullptr;
TWI_indigoLayout TW_indigoLayout = nullptr;
TWI_indigoHasZCoord TW_indigoHasZCoord = nullptr;
TWI_indigoLoadMolecule TW_indigoLoadMolecule = nullptr;
TWI_indigoReadString TW_indigoReadString = nullptr;
TWI_indigoReleaseSessionId TW_indigoReleaseSessionId = nullptr;
TWI_indigoSetOption TW_indigoSetOption = nullptr;
TWI_indigoSetOptionInt TW_indigoSetOptionInt = nullptr;
TWI_indigoSetOptionXY TW_indigoSetOptionXY = nullptr;
TWI_indigoSetSessionId TW_indigoSetSessionId = nullptr;
TWI_indigoToBuffer TW_indigoToBuffer = nullptr;
TWI_indigoWriteBuffer TW_indigoWriteBuffer = nullptr;
TWI_indigoRender TW_indigoRender = nullptr;
TWI_indigoRenderReset TW_indigoRenderReset = nullptr;
TWI_indigoRenderWriteHDC TW_indigoRenderWriteHDC = nullptr;

bool BindIndigo() {
    if (!TwInfo || !TwInfo->LoadModule) return false;
    // The loader fills nothing when it fails, so a failed module keeps a null
    // handle and is tried again next time.
    if (!hIndigo) {
        int32_t ok = TwInfo->LoadModule(
            &hIndigo, "indigo.dll", 0, &TW_indigoAllocSessionId, "indigoAllocSessionId",
            &TW_indigoFoldHydrogens, "indigoFoldHydrogens", &TW_indigoFree, "indigoFree",
            &TW_indigoLayout, "indigoLayout", &TW_indigoHasZCoord, "indigoHasZCoord",
            &TW_indigoLoadMolecule, "indigoLoadMolecule", &TW_indigoReadString, "indigoReadString",
            &TW_indigoReleaseSessionId, "indigoReleaseSessionId", &TW_indigoSetOption,
            "indigoSetOption", &TW_indigoSetOptionInt, "indigoSetOptionInt", &TW_indigoSetOptionXY,
            "indigoSetOptionXY", &TW_indigoSetSessionId, "indigoSetSessionId", &TW_indigoToBuffer,
            "indigoToBuffer", &TW_indigoWriteBuffer, "indigoWriteBuffer",
            static_cast<void*>(nullptr));
        if (ok == 0 || !hIndigo) {
            hIndigo = nullptr;
            return false;
        }
        Pin(reinterpret_cast<void*>(TW_indigoAllocSessionId));
    }
    if (!hIndigoRenderer) {
        int32_t ok = TwInfo->LoadModule(&hIndigoRenderer, "indigo-renderer.dll", 0,
                                        &TW_indigoRender, "indigoRender", &TW_indigoRenderReset,
                                        "indigoRenderReset", &TW_indigoRenderWriteHDC,
                                        "indigoRenderWriteHDC", static_cast<void*>(nullptr));
        if (ok == 0 || !hIndigoRenderer) {
            hIndigoRenderer = nullptr;
            return false;
        }
        Pin(reinterpret_cast<void*>(TW_indigoRender));
    }
    return true;
}
