#pragma once
// Form utility package: base form, keystroke filters, number format, window
// helpers, image lists and the spreadsheet driver.
#include "alphaform.h"
#include "briskutil.h"
#include "editevents.h"
#include "excel8driver.h"
#include "formatsettings.h"
#include "imagelist.h"
