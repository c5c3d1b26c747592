#pragma once
// Small window helpers of the form utility package.
#include "brisk_export.h"

class QWidget;

// Moves the window `dialog` so that it is centred over `over` (its window
// frame, or the whole screen when `over` is null), kept inside the available
// area of the screen under that centre. A dialog larger than the screen
// keeps its top-left corner on the screen.
BRISK_API void BriskCenterDialog(QWidget* dialog, QWidget* over);

// Plays the desktop's default warning sound (does nothing without an
// application object).
BRISK_API void BriskPlayDefSound();
