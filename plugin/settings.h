#pragma once
// The plug-in's settings: a table of keys in the plug-in's section of the
// host's settings file (TwInfo->IniFile), each read with its default and
// range check and written back as text with the point as decimal separator.
#include <cstdint>

// Kinds of value a key holds.
enum : int16_t { INI_FLAG = 0, INI_REAL = 1, INI_INTEGER = 2, INI_TEXT = 3 };

struct TIniKey {
    const char* Key;
    // Range of a number; Maximum below Minimum means no upper bound, both 0
    // means no check at all.
    int32_t Minimum;
    int32_t Maximum;
    const char* Default;
    int16_t Type;
};

// Indices into IniKeys.
enum : int32_t {
    INI_DATABASE = 0,
    INI_MASS = 1,
    INI_MASSMODE = 2,
    INI_MAXRESULTS = 3,
    INI_PPM = 4,
};

// The five keys, then an all-zero entry.
constexpr int IniKeyCount = 5;
extern const TIniKey IniKeys[IniKeyCount + 1];

// Size of the read buffer; a value read is cut to IniReadBufSize - 1 bytes.
constexpr int IniReadBufSize = 512;

// The value of key `index` for the user: the stored one when it is present
// and in range, else the default; real numbers carry the user's decimal
// separator. defaultsOnly non-zero returns the default without reading the
// file. The text lives in a shared buffer (or is the table's default): it
// stays valid only until the next call. An index out of the table gives "".
const char* ReadIniKey(int32_t index, int32_t defaultsOnly);

// Writes a real number typed by the user: its first "," becomes ".".
void WriteIniKeyF(int32_t index, const char* text);
// Writes an integer as decimal text.
void WriteIniKeyI(int32_t index, int32_t value);
// Writes a text unchanged.
void WriteIniKeyS(int32_t index, const char* text);
