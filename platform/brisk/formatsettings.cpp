#include "formatsettings.h"

#include <QLocale>
#include <algorithm>

char BriskSystemDecimalSeparator() {
    const QString point = QLocale::system().decimalPoint();
    if (point.isEmpty()) return '.';
    // Any separator other than the comma (e.g. the Arabic one, which is not
    // even ASCII) is shown as the point, which every number reader accepts.
    return point.at(0) == QLatin1Char(',') ? ',' : '.';
}

// Dynamic initialisation at load time: QLocale::system() needs no
// application object, and QtCore is initialised before this library.
TFormatSettings FormatSettings = {BriskSystemDecimalSeparator()};

void BriskReadFormatSettings() {
    FormatSettings.DecimalSeparator = BriskSystemDecimalSeparator();
}

void BriskDecSepToLoc(std::string& text) {
    const char sep = FormatSettings.DecimalSeparator;
    if (sep == '.') return;
    std::replace(text.begin(), text.end(), '.', sep);
}

void BriskDecSepToLoc(QString& text) {
    const char sep = FormatSettings.DecimalSeparator;
    if (sep == '.') return;
    text.replace(QLatin1Char('.'), QLatin1Char(sep));
}
