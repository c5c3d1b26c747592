#pragma once
// The user's number format and the conversion of machine numbers to it.
#include "brisk_export.h"

#include <QString>
#include <string>

// User number format. DecimalSeparator is read once, when the library is
// loaded, from the system locale (LC_ALL / LC_NUMERIC / LANG); it is '.' or
// ','. Tests and callers may assign it; nothing else ever changes it.
struct TFormatSettings {
    char DecimalSeparator;
};

BRISK_API extern TFormatSettings FormatSettings;

// The decimal separator of QLocale::system(): ',' when the locale's separator
// is the comma, otherwise '.'.
BRISK_API char BriskSystemDecimalSeparator();

// Reads FormatSettings again from the system locale.
BRISK_API void BriskReadFormatSettings();

// Every '.' becomes FormatSettings.DecimalSeparator (no change when that is
// '.'). For numbers written with the C locale and then shown to the user.
BRISK_API void BriskDecSepToLoc(std::string& text);
BRISK_API void BriskDecSepToLoc(QString& text);
