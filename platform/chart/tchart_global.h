// Export macro of the chart library: only the classes marked with it leave libtchart.so.
#ifndef TCHART_GLOBAL_H
#define TCHART_GLOBAL_H

#include <QtCore/qglobal.h>

#if defined(TCHART_BUILD)
#define TCHART_EXPORT Q_DECL_EXPORT
#else
#define TCHART_EXPORT Q_DECL_IMPORT
#endif

#endif
