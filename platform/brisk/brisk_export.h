#pragma once
// Symbol visibility of libbrisk: the library is compiled with hidden
// visibility, and only what carries BRISK_API is exported.
#include <QtCore/qglobal.h>

#if defined(BRISK_BUILD)
#define BRISK_API Q_DECL_EXPORT
#else
#define BRISK_API Q_DECL_IMPORT
#endif
