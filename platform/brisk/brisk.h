#pragma once
// Form utility package: base form, keystroke filters, number format, window
// helpers and image lists.
#include "alphaform.h"
#include "briskutil.h"
#include "editevents.h"
#include "formatsettings.h"
#include "imagelist.h"
