#pragma once
// Peak series: a list of peaks (mass, probability %) kept in a chart line series as a stick
// spectrum, read from text, turned into an array of records and compared.
//
// A series holding N peaks has 3N + 1 points: a leading baseline point 1.0 below the first
// peak, then per peak a foot, a top and a closing foot. Segments take the colour of their end
// point, so the baseline and the way up are black and the way down, over the same pixels, is
// drawn in the series colour: the stick shows in the series colour.
#include <QString>
#include <string>

#include "peak_rms.h"

class TLineSeries;

// Appends one peak (three points; the leading point first when the series is empty).
void PeakSeriesAdd(TLineSeries* series, double mass, double prob);

// Reads peaks from text, in pairs of numbers (mass, then probability) separated by tab,
// line feed, carriage return or space, and appends them to the series. A value left without
// a partner at the end is dropped. The text is cut into tokens in place. Returns the number
// of peaks appended; 0 when series or text is null.
// Narrow text: numbers as the host writes them (C locale, point).
int PeakTextParse(TLineSeries* series, char* text);
// Wide text: numbers with the decimal separator decSep ('.' or ',').
int PeakTextParse(TLineSeries* series, char16_t* text, char decSep);

// The value a token reads as: leading white space skipped, the longest number prefix
// converted (decimal or hexadecimal, "inf", "nan", exponent), 0.0 when there is none.
double PeakTokenValue(const char* token);
double PeakTokenValue(const char16_t* token, char decSep);

// The peaks of a series as a new array (delete[]), from the top points 2, 5, 8, ...
// count = (points - 1) / 3. Null when the array cannot be allocated (count keeps its value).
TPeak* PeakSeriesToArray(int& count, const TLineSeries* series);

// Appends "%.8f %.8f\r\n" (C locale) per point whose y is not 0, the point separator then
// replaced by decSep in the appended text. Nothing for a null series.
void PeakSeriesToText(const TLineSeries* series, std::string& out, char decSep);

// Number texts for the user, with decSep as the decimal separator and no group separator.
// Fixed: "0.00"-style patterns, `decimals` digits after the separator, at least one before.
// General: up to 15 significant digits, exponent form "1.5E-6" for very small or large
// magnitudes. Values that are not finite read "NAN", "INF" or "-INF".
QString FormatFixed(double value, int decimals, char decSep);
QString FormatGeneral(double value, char decSep);

// The keystroke filter of the experimental data memo: the character to let through for c,
// or 0 to swallow it. Control characters copy (3), backspace (8), return (13), paste (22),
// cut (24), the space, the digits and decSep pass; a point becomes decSep.
char16_t PeakMemoKey(char16_t c, char decSep);
