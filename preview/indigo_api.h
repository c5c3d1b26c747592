#pragma once
// The structure toolkit's C interface, bound at run time through the host's
// library loader: one pointer per entry point, filled with its module.
#include <cstdint>

typedef unsigned long long TW_qword;

typedef TW_qword (*TWI_indigoAllocSessionId)();
typedef int (*TWI_indigoFoldHydrogens)(int item);
typedef int (*TWI_indigoFree)(int handle);
typedef int (*TWI_indigoLayout)(int object);
typedef int (*TWI_indigoHasZCoord)(int molecule);
typedef int (*TWI_indigoLoadMolecule)(int source);
typedef int (*TWI_indigoReadString)(const char* str);
typedef void (*TWI_indigoReleaseSessionId)(TW_qword id);
typedef int (*TWI_indigoSetOption)(const char* name, const char* value);
typedef int (*TWI_indigoSetOptionInt)(const char* name, int value);
typedef int (*TWI_indigoSetOptionXY)(const char* name, int x, int y);
typedef void (*TWI_indigoSetSessionId)(TW_qword id);
typedef int (*TWI_indigoToBuffer)(int handle, char** buf, int* size);
typedef int (*TWI_indigoWriteBuffer)();
typedef int (*TWI_indigoRender)(int object, int output);
typedef int (*TWI_indigoRenderReset)();
typedef int (*TWI_indigoRenderWriteHDC)(void* hdc, int printingHdc);

// "indigo.dll"
extern TWI_indigoAllocSessionId TW_indigoAllocSessionId;
extern TWI_indigoFoldHydrogens TW_indigoFoldHydrogens;
extern TWI_indigoFree TW_indigoFree;
extern TWI_indigoLayout TW_indigoLayout;
extern TWI_indigoHasZCoord TW_indigoHasZCoord;
extern TWI_indigoLoadMolecule TW_indigoLoadMolecule;
extern TWI_indigoReadString TW_indigoReadString;
extern TWI_indigoReleaseSessionId TW_indigoReleaseSessionId;
extern TWI_indigoSetOption TW_indigoSetOption;
extern TWI_indigoSetOptionInt TW_indigoSetOptionInt;
extern TWI_indigoSetOptionXY TW_indigoSetOptionXY;
extern TWI_indigoSetSessionId TW_indigoSetSessionId;
extern TWI_indigoToBuffer TW_indigoToBuffer;
extern TWI_indigoWriteBuffer TW_indigoWriteBuffer;
// "indigo-renderer.dll". The device-context target is bound with the others
// but cannot draw on this platform: drawings go through TW_indigoWriteBuffer.
extern TWI_indigoRender TW_indigoRender;
extern TWI_indigoRenderReset TW_indigoRenderReset;
extern TWI_indigoRenderWriteHDC TW_indigoRenderWriteHDC;

// Loads through the host's loader whichever of the two modules is not loaded
// yet (hIndigo, hIndigoRenderer). False when one of them, or one of its
// entry points, is missing; a module that did load stays loaded and bound.
bool BindIndigo();
