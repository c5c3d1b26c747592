// Dynamic strings: formatting with the C locale and the %a conversion.
//
// The formatter reads the whole format first. Every conversion of C's printf
// is understood (flags, width, precision, '*', the length modifiers hh h l ll
// L q j z t) and formatted one at a time by the C library under the C locale,
// except %a (the text of a ZF_Str) and the wide %ls and %lc, which become
// UTF-8 here. A format holding anything else (a conversion of another
// library such as %I64d, %C, %S or %1$d, a length that does not fit its
// conversion, %n, a lone '%' at the end, a width or precision past the
// bounds below) is refused as a whole before any argument is read: the
// result is -1 and an empty text, never text made from misaligned arguments.
#include "zenfab.h"

#include <climits>
#include <cstddef>
#include <cstdint>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <locale.h>
#include <new>
#include <string>
#include <vector>

namespace {

// No width, and no precision of a number, builds more than this many
// characters; a string's precision only limits what is copied and may be
// as large as an int.
constexpr int kMaxWidth = 4096;
constexpr int kMaxPrecision = 4096;

locale_t cLocale() {
    static locale_t loc = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
    return loc;
}

// Runs the formatter under the C locale whatever the process locale is.
class CLocaleScope {
public:
    CLocaleScope() : old_(uselocale(cLocale())) {}
    ~CLocaleScope() { uselocale(old_); }

private:
    locale_t old_;
};

bool setText(ZF_Str* s, const char* text, size_t len) {
    if (len > 0x7FFFFFF0u) return false;
    if (static_cast<int32_t>(len) + 1 > s->Capacity) {
        size_t cap = len + 1 < 32 ? 32 : len + 1;
        char* p = static_cast<char*>(std::realloc(s->Text, cap));
        if (!p) return false;
        s->Text = p;
        s->Capacity = static_cast<int32_t>(cap);
    }
    std::memcpy(s->Text, text, len);
    s->Text[len] = '\0';
    s->Length = static_cast<int32_t>(len);
    return true;
}

// What a conversion reads from the arguments.
enum class Arg {
    None,       // %%
    Int,        // int (also for hh and h)
    Long,       // long, long long, intmax_t, size_t, ptrdiff_t: 64 bits each
    Double,
    LongDouble,
    CString,    // const char*
    WString,    // const wchar_t*
    WChar,      // wint_t
    Pointer,    // void*
    ZfStr,      // const ZF_Str*
};

static_assert(sizeof(long) == 8 && sizeof(long long) == 8 && sizeof(intmax_t) == 8 &&
                  sizeof(size_t) == 8 && sizeof(ptrdiff_t) == 8,
              "every 'l', 'j', 'z' and 't' argument is read as one 64-bit integer");

// One piece of the format: literal text, or one conversion.
struct Piece {
    const char* text = nullptr; // literal text (conv == 0)
    size_t length = 0;
    char conv = 0;
    std::string flags;
    int width = -1;             // -1: none; -2: from a '*' argument
    int precision = -1;         // -1: none; -2: from a '*' argument
    std::string cLength;        // the length modifier handed to the C library
    Arg arg = Arg::None;
};

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// Reads the digits at p into v; false when they pass limit.
bool readNumber(const char*& p, int limit, int& v) {
    long long n = 0;
    while (isDigit(*p)) {
        n = n * 10 + (*p++ - '0');
        if (n > limit) return false;
    }
    v = static_cast<int>(n);
    return true;
}

// Sets what a conversion with the given length modifier reads; false when C
// has no such combination.
bool argumentOf(char conv, const std::string& len, Piece& piece) {
    const bool none = len.empty();
    switch (conv) {
    case 'd': case 'i': case 'u': case 'o': case 'x': case 'X':
        if (none || len == "hh" || len == "h") {
            piece.arg = Arg::Int;
            piece.cLength = len;
        } else if (len == "l" || len == "ll" || len == "q" || len == "L" || len == "j" ||
                   len == "z" || len == "t") {
            // All 64 bits wide here; glibc reads L and q as ll.
            piece.arg = Arg::Long;
            piece.cLength = "ll";
        } else {
            return false;
        }
        return true;
    case 'e': case 'E': case 'f': case 'F': case 'g': case 'G': case 'A':
        if (none || len == "l") {
            piece.arg = Arg::Double;
        } else if (len == "L" || len == "ll" || len == "q") {  // glibc reads ll and q as L
            piece.arg = Arg::LongDouble;
            piece.cLength = "L";
        } else {
            return false;
        }
        return true;
    case 'c':
        if (!none && len != "l") return false;
        piece.arg = none ? Arg::Int : Arg::WChar;
        return true;
    case 's':
        if (!none && len != "l") return false;
        piece.arg = none ? Arg::CString : Arg::WString;
        return true;
    case 'p':
        piece.arg = Arg::Pointer;
        return none;
    case 'a':  // this library's own: the text of a ZF_Str
        piece.arg = Arg::ZfStr;
        return none;
    case '%':
        piece.arg = Arg::None;
        return none;
    default:  // %n, and every conversion C does not have
        return false;
    }
}

bool limitsPrecision(Arg a) { return a == Arg::CString || a == Arg::WString || a == Arg::ZfStr; }

// Splits the whole format into pieces; false when any part of it is refused.
bool parseFormat(const char* fmt, std::vector<Piece>& pieces) {
    const char* p = fmt;
    while (*p) {
        if (*p != '%') {
            const char* q = std::strchr(p, '%');
            Piece lit;
            lit.text = p;
            lit.length = q ? static_cast<size_t>(q - p) : std::strlen(p);
            pieces.push_back(lit);
            p += lit.length;
            continue;
        }
        ++p;
        Piece c;
        while (*p && std::strchr("-+ #0'", *p)) c.flags.push_back(*p++);
        if (*p == '*') {
            c.width = -2;
            ++p;
        } else if (isDigit(*p) && !readNumber(p, kMaxWidth, c.width)) {
            return false;
        }
        if (*p == '.') {
            ++p;
            if (*p == '*') {
                c.precision = -2;
                ++p;
            } else if (!readNumber(p, INT_MAX, c.precision)) {
                return false;
            }
        }
        std::string len;
        while (*p && std::strchr("hlLqjzt", *p) && len.size() < 3) len.push_back(*p++);
        c.conv = *p;
        if (!c.conv || !argumentOf(c.conv, len, c)) return false;
        ++p;
        if (c.conv == '%' && (c.width == -2 || c.precision == -2)) return false;
        if (c.precision > kMaxPrecision && !limitsPrecision(c.arg)) return false;
        pieces.push_back(std::move(c));
    }
    return true;
}

// Formats one value with the C library.
template <typename T> bool appendC(std::string& out, const std::string& conversion, T value) {
    char small[256];
    int n = std::snprintf(small, sizeof small, conversion.c_str(), value);
    if (n < 0) return false;
    if (static_cast<size_t>(n) < sizeof small) {
        out.append(small, static_cast<size_t>(n));
        return true;
    }
    std::string big(static_cast<size_t>(n) + 1, '\0');
    if (std::snprintf(&big[0], big.size(), conversion.c_str(), value) != n) return false;
    out.append(big.data(), static_cast<size_t>(n));
    return true;
}

// Appends the UTF-8 form of one code point; false for a surrogate or a
// value past U+10FFFF (C fails on those too).
bool appendUtf8(std::string& out, uint32_t c) {
    if (c >= 0xD800 && c <= 0xDFFF) return false;
    if (c < 0x80) {
        out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (c >> 6)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (c >> 12)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c <= 0x10FFFF) {
        out.push_back(static_cast<char>(0xF0 | (c >> 18)));
        out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
        return false;
    }
    return true;
}

// A wide string as UTF-8, at most max bytes and never half a character. As
// in C, no character past the ones written is read.
bool wideToUtf8(const wchar_t* w, int max, std::string& out) {
    std::string one;
    for (; *w; ++w) {
        if (max >= 0 && out.size() >= static_cast<size_t>(max)) break;
        one.clear();
        if (!appendUtf8(one, static_cast<uint32_t>(*w))) return false;
        if (max >= 0 && out.size() + one.size() > static_cast<size_t>(max)) break;
        out += one;
    }
    return true;
}

bool formatPieces(std::string& out, const std::vector<Piece>& pieces, va_list* ap) {
    for (const Piece& c : pieces) {
        if (!c.conv) {
            out.append(c.text, c.length);
            continue;
        }
        std::string flags = c.flags;
        int width = c.width, precision = c.precision;
        if (width == -2) {
            width = va_arg(*ap, int);
            if (width < 0) {  // as in C: a negative width is the '-' flag
                if (width < -kMaxWidth) return false;
                flags.push_back('-');
                width = -width;
            }
            if (width > kMaxWidth) return false;
        }
        if (precision == -2) {
            precision = va_arg(*ap, int);
            if (precision < 0) precision = -1;  // as in C: as if none were given
            if (precision > kMaxPrecision && !limitsPrecision(c.arg)) return false;
        }
        std::string conversion = "%" + flags;
        if (width >= 0) conversion += std::to_string(width);
        if (precision >= 0) conversion += "." + std::to_string(precision);
        const std::string tail = c.cLength + c.conv;
        bool ok = true;
        switch (c.arg) {
        case Arg::None:
            out.push_back('%');
            break;
        case Arg::Int:
            ok = appendC(out, conversion + tail, va_arg(*ap, int));
            break;
        case Arg::Long:
            ok = appendC(out, conversion + tail, va_arg(*ap, long long));
            break;
        case Arg::Double:
            ok = appendC(out, conversion + tail, va_arg(*ap, double));
            break;
        case Arg::LongDouble:
            ok = appendC(out, conversion + tail, va_arg(*ap, long double));
            break;
        case Arg::CString:
            ok = appendC(out, conversion + tail, va_arg(*ap, const char*));
            break;
        case Arg::Pointer:
            ok = appendC(out, conversion + tail, va_arg(*ap, void*));
            break;
        case Arg::ZfStr: {
            const ZF_Str* s = va_arg(*ap, const ZF_Str*);
            ok = appendC(out, conversion + "s", s && s->Text ? s->Text : "");
            break;
        }
        case Arg::WString: {
            const wchar_t* w = va_arg(*ap, const wchar_t*);
            if (!w) {  // what C writes for a null string, precision included
                ok = appendC(out, conversion + "s", static_cast<const char*>(nullptr));
                break;
            }
            std::string u;
            if (!wideToUtf8(w, precision, u)) return false;
            std::string padded = "%" + flags + (width >= 0 ? std::to_string(width) : "") + "s";
            ok = appendC(out, padded, u.c_str());
            break;
        }
        case Arg::WChar: {
            const wint_t w = va_arg(*ap, wint_t);
            std::string padded = "%" + flags + (width >= 0 ? std::to_string(width) : "");
            if (w == 0) {  // C writes the NUL character itself
                ok = appendC(out, padded + "c", 0);
                break;
            }
            std::string u;
            if (!appendUtf8(u, static_cast<uint32_t>(w))) return false;
            ok = appendC(out, padded + "s", u.c_str());
            break;
        }
        }
        if (!ok) return false;
    }
    return true;
}

} // namespace

extern "C" {

ZF_Str* _ZF_StrNew(void) {
    ZF_Str* s = static_cast<ZF_Str*>(std::calloc(1, sizeof(ZF_Str)));
    if (!s) return nullptr;
    s->Text = static_cast<char*>(std::calloc(32, 1));
    if (!s->Text) {
        std::free(s);
        return nullptr;
    }
    s->Capacity = 32;
    return s;
}

int32_t _ZF_StrVPrintC(ZF_Str* s, const char* format, va_list args) {
    if (!s) return -1;
    try {
        std::vector<Piece> pieces;
        std::string out;
        bool ok = parseFormat(format ? format : "", pieces);
        if (ok) {
            CLocaleScope scope;
            va_list ap;
            va_copy(ap, args);
            ok = formatPieces(out, pieces, &ap);
            va_end(ap);
        }
        if (!ok || !setText(s, out.data(), out.size())) {
            setText(s, "", 0);
            return -1;
        }
        return s->Length;
    } catch (...) {
        setText(s, "", 0);
        return -1;
    }
}

int32_t _ZF_StrPrintC(ZF_Str* s, const char* format, ...) {
    va_list ap;
    va_start(ap, format);
    int32_t n = _ZF_StrVPrintC(s, format, ap);
    va_end(ap);
    return n;
}

int32_t _ZF_StrSetC(ZF_Str* s, const char* text) {
    if (!s) return -1;
    if (!text) text = "";
    return setText(s, text, std::strlen(text)) ? s->Length : -1;
}

int32_t _ZF_StriCmpC(const ZF_Str* s, const char* text) {
    const unsigned char* a = reinterpret_cast<const unsigned char*>(s && s->Text ? s->Text : "");
    const unsigned char* b = reinterpret_cast<const unsigned char*>(text ? text : "");
    for (;; ++a, ++b) {
        int ca = (*a >= 'A' && *a <= 'Z') ? *a + 32 : *a;
        int cb = (*b >= 'A' && *b <= 'Z') ? *b + 32 : *b;
        if (ca != cb || !ca) return ca - cb;
    }
}

void _ZF_StrFree(ZF_Str* s) {
    if (!s) return;
    std::free(s->Text);
    std::free(s);
}

} // extern "C"
