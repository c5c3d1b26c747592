// Dynamic strings: formatting with the C locale and the %a conversion.
#include "zenfab.h"

#include <cctype>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <locale.h>
#include <new>
#include <string>

namespace {

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

template <typename T> void appendOne(std::string& out, const std::string& piece, T value) {
    char small[128];
    int n = std::snprintf(small, sizeof small, piece.c_str(), value);
    if (n < 0) return;
    if (static_cast<size_t>(n) < sizeof small) {
        out.append(small, static_cast<size_t>(n));
        return;
    }
    std::string big(static_cast<size_t>(n) + 1, '\0');
    std::snprintf(&big[0], big.size(), piece.c_str(), value);
    out.append(big.data(), static_cast<size_t>(n));
}

// Formats like vsnprintf, one conversion at a time, so that %a can take a ZF_Str.
void formatInto(std::string& out, const char* fmt, va_list ap) {
    const char* p = fmt;
    while (*p) {
        if (*p != '%') {
            const char* q = std::strchr(p, '%');
            size_t n = q ? static_cast<size_t>(q - p) : std::strlen(p);
            out.append(p, n);
            p += n;
            continue;
        }
        const char* start = p++;
        if (*p == '%') {
            out.push_back('%');
            ++p;
            continue;
        }
        std::string piece = "%";
        while (*p && std::strchr("-+ #0'", *p)) piece.push_back(*p++);
        if (*p == '*') {
            piece += std::to_string(va_arg(ap, int));
            ++p;
        } else {
            while (std::isdigit(static_cast<unsigned char>(*p))) piece.push_back(*p++);
        }
        if (*p == '.') {
            piece.push_back(*p++);
            if (*p == '*') {
                int prec = va_arg(ap, int);
                piece += std::to_string(prec < 0 ? 0 : prec);
                ++p;
            } else {
                while (std::isdigit(static_cast<unsigned char>(*p))) piece.push_back(*p++);
            }
        }
        std::string len;
        while (*p && std::strchr("hlLjztq", *p)) len.push_back(*p++);
        char conv = *p;
        if (!conv) {  // a lone % at the end: keep it as written
            out.append(start);
            break;
        }
        ++p;
        switch (conv) {
        case 'd':
        case 'i':
            if (len == "l") appendOne(out, piece + "l" + conv, va_arg(ap, long));
            else if (len == "ll" || len == "q" || len == "j") appendOne(out, piece + "ll" + conv, va_arg(ap, long long));
            else if (len == "z" || len == "t") appendOne(out, piece + "ll" + conv, static_cast<long long>(va_arg(ap, ssize_t)));
            else appendOne(out, piece + len + conv, va_arg(ap, int));
            break;
        case 'u':
        case 'o':
        case 'x':
        case 'X':
            if (len == "l") appendOne(out, piece + "l" + conv, va_arg(ap, unsigned long));
            else if (len == "ll" || len == "q" || len == "j") appendOne(out, piece + "ll" + conv, va_arg(ap, unsigned long long));
            else if (len == "z" || len == "t") appendOne(out, piece + "ll" + conv, static_cast<unsigned long long>(va_arg(ap, size_t)));
            else appendOne(out, piece + len + conv, va_arg(ap, unsigned));
            break;
        case 'e':
        case 'E':
        case 'f':
        case 'F':
        case 'g':
        case 'G':
            if (len == "L") appendOne(out, piece + "L" + conv, va_arg(ap, long double));
            else appendOne(out, piece + conv, va_arg(ap, double));
            break;
        case 'c':
            appendOne(out, piece + "c", va_arg(ap, int));
            break;
        case 's': {
            const char* s = va_arg(ap, const char*);
            appendOne(out, piece + "s", s ? s : "(null)");
            break;
        }
        case 'a': {
            const ZF_Str* s = va_arg(ap, const ZF_Str*);
            appendOne(out, piece + "s", s && s->Text ? s->Text : "");
            break;
        }
        case 'p':
            appendOne(out, piece + "p", va_arg(ap, void*));
            break;
        case 'n':  // writes through a caller pointer: never honoured
            (void)va_arg(ap, void*);
            break;
        default:  // unknown conversion: keep the text as written
            out.append(start, static_cast<size_t>(p - start));
            break;
        }
    }
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
        std::string out;
        {
            CLocaleScope scope;
            va_list ap;
            va_copy(ap, args);
            formatInto(out, format ? format : "", ap);
            va_end(ap);
        }
        if (!setText(s, out.data(), out.size())) {
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
