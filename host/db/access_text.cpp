// Text rules of the Access engine's cache: the collation ACCESS_TEXT, Access's Like and the
// Access text functions, registered on an SQLite connection (access_sql.h).
#include <sqlite3.h>

#include <cstdint>
#include <string>
#include <vector>

#include "access_sql.h"

namespace accessdb {
namespace {

// Primary weights: symbols < digits < Latin letters < everything else; 0 ends a text.
constexpr uint32_t kSymbol = 0x100;
constexpr uint32_t kDigit = 0x1000;
constexpr uint32_t kLetter = 0x2000;
constexpr uint32_t kOther = 0x10000;

// Base letters of U+00C0..U+017F: a letter, '*' a symbol, or an expansion: A = ae, T = th,
// S = ss, J = ij, O = oe.
const char kLatinBase[] =
    "aaaaaaAceeeeiiiidnooooo*ouuuuyTS" // U+00C0..U+00DF
    "aaaaaaAceeeeiiiidnooooo*ouuuuyTy" // U+00E0..U+00FF
    "aaaaaaccccccccddddeeeeeeeeeegggggggghhhhiiiiiiiiiiJJjjkkkllllllllll"
    "nnnnnnnnnooooooOOrrrrrrssssssssttttttuuuuuuuuuuuuwwyyyzzzzzzs"; // U+0100..U+017F
static_assert(sizeof kLatinBase == 0x180 - 0xC0 + 1, "one entry per character");

struct Weights {
    uint32_t p1 = 0, p2 = 0; // primary weights (p2: second letter of an expansion)
    uint32_t accent = 0;     // 0: none
    uint32_t lower = 0;      // the character in lower case
    bool ignorable = false;  // hyphens and apostrophes
};

char32_t lowerOf(char32_t c) {
    if (c < 0x80) return (c >= 'A' && c <= 'Z') ? c + 32 : c;
    if (c >= 0xC0 && c <= 0xDE && c != 0xD7) return c + 32;
    if ((c >= 0x100 && c <= 0x137) || (c >= 0x14A && c <= 0x177)) return c | 1;
    if ((c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E)) return (c & 1) ? c + 1 : c;
    if (c == 0x178) return 0xFF;
    if (c >= 0x391 && c <= 0x3A9) return c + 32;
    if (c >= 0x410 && c <= 0x42F) return c + 32;
    if (c >= 0x400 && c <= 0x40F) return c + 80;
    return c;
}

char32_t upperOf(char32_t c) {
    if (c < 0x80) return (c >= 'a' && c <= 'z') ? c - 32 : c;
    if (c >= 0xE0 && c <= 0xFE && c != 0xF7) return c - 32;
    if (c == 0xFF) return 0x178;
    if ((c >= 0x100 && c <= 0x137) || (c >= 0x14A && c <= 0x177)) return c & ~char32_t(1);
    if ((c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E)) return (c & 1) ? c : c - 1;
    if (c >= 0x3B1 && c <= 0x3C9 && c != 0x3C2) return c - 32;
    if (c >= 0x430 && c <= 0x44F) return c - 32;
    if (c >= 0x450 && c <= 0x45F) return c - 80;
    return c;
}

uint32_t letterWeight(char c) {
    return kLetter + uint32_t(c - 'a');
}

Weights weigh(char32_t c) {
    Weights w;
    w.lower = lowerOf(c);
    if (c == '-' || c == '\'' || c == 0xAD || c == 0x2010 || c == 0x2011 || c == 0x2019) {
        w.ignorable = true;
    } else if (c < 0x80) {
        const char l = char(w.lower);
        if (l >= 'a' && l <= 'z')
            w.p1 = letterWeight(l);
        else if (c >= '0' && c <= '9')
            w.p1 = kDigit + (c - '0');
        else
            w.p1 = kSymbol + c;
    } else if (c >= 0xC0 && c <= 0x17F) {
        w.accent = w.lower;
        switch (const char b = kLatinBase[c - 0xC0]) {
        case '*': w.p1 = kSymbol + c, w.accent = 0; break;
        case 'A': w.p1 = letterWeight('a'), w.p2 = letterWeight('e'); break;
        case 'T': w.p1 = letterWeight('t'), w.p2 = letterWeight('h'); break;
        case 'S': w.p1 = letterWeight('s'), w.p2 = letterWeight('s'); break;
        case 'J': w.p1 = letterWeight('i'), w.p2 = letterWeight('j'); break;
        case 'O': w.p1 = letterWeight('o'), w.p2 = letterWeight('e'); break;
        default: w.p1 = letterWeight(b);
        }
    } else if (c < 0xC0) {
        w.p1 = c == 0xB5 ? kOther + 0x3BC : kSymbol + c; // the micro sign is a mu
    } else if (c >= 0x2000 && c < 0x2C00) {
        w.p1 = kSymbol + 0x100 + (c - 0x2000);
    } else if (c >= 0x3000 && c < 0x3040) {
        w.p1 = kSymbol + 0xD00 + (c - 0x3000);
    } else {
        w.p1 = kOther + (w.lower == 0x3C2 ? 0x3C3 : w.lower); // final sigma is a sigma
    }
    return w;
}

// Reads one UTF-8 character; invalid bytes read as U+FFFD one at a time.
char32_t decode(const unsigned char*& p, const unsigned char* end) {
    const unsigned c = *p++;
    if (c < 0x80) return c;
    auto cont = [&](int k) { return p + k <= end && (p[k - 1] & 0xC0) == 0x80; };
    if (c >= 0xC2 && c < 0xE0 && cont(1)) {
        char32_t r = ((c & 0x1F) << 6) | (p[0] & 0x3F);
        p += 1;
        return r;
    }
    if (c >= 0xE0 && c < 0xF0 && cont(1) && cont(2)) {
        char32_t r = ((c & 0x0F) << 12) | ((p[0] & 0x3F) << 6) | (p[1] & 0x3F);
        // An overlong form ("\xE0\x81\x9B" for "[") or a surrogate is no character.
        if (r < 0x800 || (r >= 0xD800 && r < 0xE000)) return 0xFFFD;
        p += 2;
        return r;
    }
    if (c >= 0xF0 && c < 0xF5 && cont(1) && cont(2) && cont(3)) {
        char32_t r = ((c & 0x07) << 18) | ((p[0] & 0x3F) << 12) | ((p[1] & 0x3F) << 6) |
                     (p[2] & 0x3F);
        if (r < 0x10000 || r > 0x10FFFF) return 0xFFFD;
        p += 3;
        return r;
    }
    return 0xFFFD;
}

std::u32string codePoints(const char* s, size_t n) {
    std::u32string out;
    const auto* p = reinterpret_cast<const unsigned char*>(s);
    const auto* end = p + n;
    while (p < end)
        out.push_back(decode(p, end));
    return out;
}

} // namespace

void appendUtf8(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out += char(cp);
    } else if (cp < 0x800) {
        out += char(0xC0 | (cp >> 6));
        out += char(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += char(0xE0 | (cp >> 12));
        out += char(0x80 | ((cp >> 6) & 0x3F));
        out += char(0x80 | (cp & 0x3F));
    } else {
        out += char(0xF0 | (cp >> 18));
        out += char(0x80 | ((cp >> 12) & 0x3F));
        out += char(0x80 | ((cp >> 6) & 0x3F));
        out += char(0x80 | (cp & 0x3F));
    }
}

namespace {

// The primary weights of a text one by one, hyphens and apostrophes passed over.
class PrimaryCursor {
  public:
    PrimaryCursor(const char* s, size_t n)
        : p_(reinterpret_cast<const unsigned char*>(s)), end_(p_ + n) {}
    uint32_t next() {
        if (pending_) {
            const uint32_t w = pending_;
            pending_ = 0;
            return w;
        }
        while (p_ < end_) {
            if (*p_ < 0x80) { // the common case, without the full table
                const unsigned c = *p_++;
                if (c >= 'a' && c <= 'z') return kLetter + (c - 'a');
                if (c >= 'A' && c <= 'Z') return kLetter + (c - 'A');
                if (c >= '0' && c <= '9') return kDigit + (c - '0');
                if (c == '-' || c == '\'') continue;
                return kSymbol + c;
            }
            const Weights w = weigh(decode(p_, end_));
            if (w.ignorable) continue;
            pending_ = w.p2;
            return w.p1;
        }
        return 0;
    }

  private:
    const unsigned char* p_;
    const unsigned char* end_;
    uint32_t pending_ = 0;
};

int compareLevel(const std::u32string& a, const std::u32string& b, bool accents) {
    size_t i = 0, j = 0;
    for (;;) {
        uint32_t wa = 0, wb = 0;
        while (i < a.size()) {
            const Weights w = weigh(a[i++]);
            if (accents && w.ignorable) continue;
            wa = accents ? w.accent + 1 : w.lower + 1;
            break;
        }
        while (j < b.size()) {
            const Weights w = weigh(b[j++]);
            if (accents && w.ignorable) continue;
            wb = accents ? w.accent + 1 : w.lower + 1;
            break;
        }
        if (wa != wb) return wa < wb ? -1 : 1;
        if (wa == 0) return 0;
    }
}

int collate(void*, int an, const void* a, int bn, const void* b) {
    return compareAccessText(static_cast<const char*>(a), size_t(an),
                             static_cast<const char*>(b), size_t(bn));
}

// Access's Like: 1 match, 0 none, -1 a malformed pattern ("[" without "]").
int like(const std::u32string& v, const std::u32string& p) {
    size_t i = 0, j = 0, starP = std::u32string::npos, starV = 0;
    auto classEnd = [&](size_t k) {
        for (size_t e = k + 1; e < p.size(); ++e)
            if (p[e] == ']') return e;
        return std::u32string::npos;
    };
    // Does pattern item at k match character c? Sets next to the item after it.
    auto matchOne = [&](size_t k, char32_t c, size_t& next) -> int {
        const char32_t pc = p[k];
        next = k + 1;
        if (pc == '?') return 1;
        if (pc == '#') return c >= '0' && c <= '9';
        if (pc == '[') {
            const size_t e = classEnd(k);
            if (e == std::u32string::npos) return -1;
            next = e + 1;
            size_t q = k + 1;
            const bool negate = q < e && p[q] == '!';
            if (negate) ++q;
            bool in = false;
            const char32_t lc = lowerOf(c);
            for (; q < e; ++q) {
                if (q + 2 < e && p[q + 1] == '-') {
                    in = in || (lc >= lowerOf(p[q]) && lc <= lowerOf(p[q + 2]));
                    q += 2;
                } else {
                    in = in || lc == lowerOf(p[q]);
                }
            }
            return in != negate;
        }
        return lowerOf(pc) == lowerOf(c);
    };
    while (i < v.size()) {
        if (j < p.size() && p[j] == '*') {
            starP = j++;
            starV = i;
            continue;
        }
        size_t next = j;
        const int m = j < p.size() ? matchOne(j, v[i], next) : 0;
        if (m < 0) return -1;
        if (m) {
            ++i;
            j = next;
        } else if (starP != std::u32string::npos) {
            j = starP + 1;
            i = ++starV;
        } else {
            return 0;
        }
    }
    // What is left must match the empty text: stars, and empty classes "[]" (which match
    // nothing but may close the pattern), in any order.
    for (;;) {
        if (j < p.size() && p[j] == '*')
            ++j;
        else if (j + 1 < p.size() && p[j] == '[' && p[j + 1] == ']')
            j += 2;
        else
            break;
    }
    return j == p.size();
}

std::u32string argText(sqlite3_value* v) {
    const auto* t = reinterpret_cast<const char*>(sqlite3_value_text(v));
    return codePoints(t ? t : "", t ? size_t(sqlite3_value_bytes(v)) : 0);
}

void resultText(sqlite3_context* ctx, const std::u32string& s) {
    std::string out;
    for (char32_t c : s)
        appendUtf8(out, c);
    sqlite3_result_text(ctx, out.data(), int(out.size()), SQLITE_TRANSIENT);
}

// Every function below is called by SQLite: none lets an exception out.
template <class F> void guarded(sqlite3_context* ctx, F&& f) {
    try {
        f();
    } catch (...) {
        sqlite3_result_error_nomem(ctx);
    }
}

bool anyNull(int argc, sqlite3_value** argv) {
    for (int i = 0; i < argc; ++i)
        if (sqlite3_value_type(argv[i]) == SQLITE_NULL) return true;
    return false;
}

void likeFunction(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
    guarded(ctx, [&] {
        if (argc != 2) {
            sqlite3_result_error(ctx, "Like with ESCAPE is not Access SQL", -1);
            return;
        }
        if (anyNull(argc, argv)) return sqlite3_result_null(ctx);
        const int m = like(argText(argv[1]), argText(argv[0]));
        if (m < 0)
            sqlite3_result_error(ctx, "Invalid pattern string in Like", -1);
        else
            sqlite3_result_int(ctx, m);
    });
}

void caseFunction(sqlite3_context* ctx, int, sqlite3_value** argv) {
    guarded(ctx, [&] {
        if (sqlite3_value_type(argv[0]) == SQLITE_NULL) return sqlite3_result_null(ctx);
        const bool upper = sqlite3_user_data(ctx) != nullptr;
        std::u32string s = argText(argv[0]);
        for (char32_t& c : s)
            c = upper ? upperOf(c) : lowerOf(c);
        resultText(ctx, s);
    });
}

void lenFunction(sqlite3_context* ctx, int, sqlite3_value** argv) {
    guarded(ctx, [&] {
        if (sqlite3_value_type(argv[0]) == SQLITE_NULL) return sqlite3_result_null(ctx);
        sqlite3_result_int64(ctx, sqlite3_int64(argText(argv[0]).size()));
    });
}

// Left(s, n), Right(s, n), Mid(s, start[, n]): characters, counted from 1 as in Access.
void partFunction(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
    guarded(ctx, [&] {
        if (anyNull(argc, argv)) return sqlite3_result_null(ctx);
        const std::u32string s = argText(argv[0]);
        const auto kind = reinterpret_cast<intptr_t>(sqlite3_user_data(ctx));
        const sqlite3_int64 a = sqlite3_value_int64(argv[1]);
        if (a < 0 || (kind == 2 && a < 1))
            return sqlite3_result_error(ctx, "Invalid procedure call", -1);
        const size_t n = s.size();
        size_t from = 0, count = 0;
        if (kind == 0) { // Left
            count = std::min<size_t>(n, size_t(a));
        } else if (kind == 1) { // Right
            count = std::min<size_t>(n, size_t(a));
            from = n - count;
        } else { // Mid
            from = std::min<size_t>(n, size_t(a - 1));
            count = n - from;
            if (argc == 3) {
                const sqlite3_int64 len = sqlite3_value_int64(argv[2]);
                if (len < 0) return sqlite3_result_error(ctx, "Invalid procedure call", -1);
                count = std::min<size_t>(count, size_t(len));
            }
        }
        resultText(ctx, s.substr(from, count));
    });
}

void nzFunction(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
    if (sqlite3_value_type(argv[0]) != SQLITE_NULL)
        sqlite3_result_value(ctx, argv[0]);
    else if (argc == 2)
        sqlite3_result_value(ctx, argv[1]);
    else
        sqlite3_result_text(ctx, "", 0, SQLITE_STATIC);
}

} // namespace

int compareAccessText(const char* a, size_t an, const char* b, size_t bn) {
    PrimaryCursor ca(a, an), cb(b, bn);
    for (;;) {
        const uint32_t wa = ca.next(), wb = cb.next();
        if (wa != wb) return wa < wb ? -1 : 1;
        if (wa == 0) break;
    }
    const std::u32string ua = codePoints(a, an), ub = codePoints(b, bn);
    if (int r = compareLevel(ua, ub, true)) return r; // accents
    return compareLevel(ua, ub, false);                // hyphens and apostrophes
}

bool accessLike(const std::string& value, const std::string& pattern) {
    return like(codePoints(value.data(), value.size()), codePoints(pattern.data(), pattern.size())) == 1;
}

bool registerAccessSql(sqlite3* db) {
    const int det = SQLITE_UTF8 | SQLITE_DETERMINISTIC;
    auto fn = [&](const char* name, int args, void* data,
                  void (*f)(sqlite3_context*, int, sqlite3_value**)) {
        return sqlite3_create_function_v2(db, name, args, det, data, f, nullptr, nullptr,
                                          nullptr) == SQLITE_OK;
    };
    auto* up = reinterpret_cast<void*>(intptr_t(1));
    return sqlite3_create_collation_v2(db, "ACCESS_TEXT", SQLITE_UTF8, nullptr, collate,
                                       nullptr) == SQLITE_OK &&
           fn("like", 2, nullptr, likeFunction) && fn("like", 3, nullptr, likeFunction) &&
           fn("ucase", 1, up, caseFunction) && fn("lcase", 1, nullptr, caseFunction) &&
           fn("len", 1, nullptr, lenFunction) &&
           fn("access_left", 2, reinterpret_cast<void*>(intptr_t(0)), partFunction) &&
           fn("access_right", 2, reinterpret_cast<void*>(intptr_t(1)), partFunction) &&
           fn("mid", 2, reinterpret_cast<void*>(intptr_t(2)), partFunction) &&
           fn("mid", 3, reinterpret_cast<void*>(intptr_t(2)), partFunction) &&
           fn("nz", 1, nullptr, nzFunction) && fn("nz", 2, nullptr, nzFunction);
}

} // namespace accessdb
