#pragma once
// Localised texts by number: a built-in English table, overridden by the
// catalog of the host's language when one is open.
#include <cstdint>

struct TStrEntry {
    int32_t Id;
    const char* Text;
};

// Ids 0..59 in order without 6, then the entry with id -1: 60 entries, all
// of them scanned by a lookup.
constexpr int QUORVEL_StrCount = 60;
extern const TStrEntry QUORVEL_Str[QUORVEL_StrCount];

// The text to show for id: the catalog's, else the built-in one, else
// "Unknown localized string". Copy it at once.
const char* GetStr(int32_t id);

// Like GetStr, for texts used as printf formats: the catalog's text only when
// its conversions are exactly those of the built-in text, so that a faulty
// translation can never make the formatter read arguments that were not passed.
const char* GetFmtStr(int32_t id);

// Shows the formatted text of id as an error message box titled by string 51.
// Always returns 0.
int32_t CatErr(int32_t id, ...);

// Size of CatErr's message buffer.
constexpr int CatErrMsgSize = 256;

// The printf conversions of a format, one code per conversion (length
// modifier and conversion letter; '*' for a star width or precision);
// false when the format holds a conversion that is not understood.
bool FormatConversions(const char* format, char* out, int outSize);
