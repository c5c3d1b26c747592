/* Dynamic strings shared between the host and its plug-ins.
 *
 * A ZF_Str owns a NUL-terminated 8-bit text. The first two fields are part of
 * the interface (callers read them directly); the rest is private.
 * Formatting uses the C locale, since these strings carry machine text
 * (host commands, SQL, numbers for files). It understands every conversion
 * of C's printf except the hexadecimal %a, whose place takes this library's
 * own %a: the text of another ZF_Str (flags, width and precision as for %s).
 * %A stays C's; %ls and %lc write wide text as UTF-8. Refused as a whole:
 * %n, conversions of other libraries (%I64d, %Id, %C, %S, positional %1$d),
 * lengths that do not fit their conversion, a lone '%' at the end, widths
 * above 4096, and precisions above 4096 except for strings (where the
 * precision only limits what is copied). */
#ifndef ZENFAB_H
#define ZENFAB_H

#include <stdarg.h>
#include <stdint.h>

#if defined(ZENFAB_BUILD)
#define ZF_API __attribute__((visibility("default")))
#else
#define ZF_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

typedef struct ZF_Str {
    char* Text;      /* never null: an empty string is "" */
    int32_t Length;  /* characters in Text, without the NUL */
    int32_t Capacity; /* private */
} ZF_Str;

/* A new empty string; null only when memory runs out. */
ZF_API ZF_Str* _ZF_StrNew(void);
/* Replaces the text of s with the formatted text; returns its length, or -1
 * (text left empty) on a bad argument, a refused format (one refused for its
 * text reads no argument), a '*' width out of bounds, a wide character that
 * has no UTF-8 form, or when memory runs out. */
ZF_API int32_t _ZF_StrVPrintC(ZF_Str* s, const char* format, va_list args);
ZF_API int32_t _ZF_StrPrintC(ZF_Str* s, const char* format, ...);
/* Replaces the text of s with a copy of text (null counts as ""). */
ZF_API int32_t _ZF_StrSetC(ZF_Str* s, const char* text);
/* Compares s with text ignoring ASCII case: 0 when equal, <0 or >0 otherwise. */
ZF_API int32_t _ZF_StriCmpC(const ZF_Str* s, const char* text);
ZF_API void _ZF_StrFree(ZF_Str* s);

#ifdef __cplusplus
}
#endif

#endif
