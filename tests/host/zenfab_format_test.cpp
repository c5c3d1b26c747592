// The dynamic strings' formatter against the C library's vsnprintf.
#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cwchar>
#include <locale.h>
#include <random>
#include <string>
#include <vector>

#include "zenfab.h"

namespace {

struct Out {
    int n = 0;
    std::string text;
    bool operator==(const Out& o) const { return n == o.n && text == o.text; }
};

std::ostream& operator<<(std::ostream& os, const Out& o) {
    return os << o.n << " \"" << o.text << "\"";
}

Out Ours(const char* fmt, ...) {
    ZF_Str* s = _ZF_StrNew();
    va_list ap;
    va_start(ap, fmt);
    Out o;
    o.n = _ZF_StrVPrintC(s, fmt, ap);
    va_end(ap);
    // The length tells, not the NUL: %c and %lc may write a NUL character.
    o.text.assign(s->Text, static_cast<size_t>(s->Length));
    EXPECT_EQ(o.n < 0 ? 0 : o.n, s->Length) << fmt;
    _ZF_StrFree(s);
    return o;
}

// The C library under a UTF-8 C locale, so that %ls and %lc write UTF-8
// and numbers take a point.
Out Oracle(const char* fmt, ...) {
    static locale_t utf8 = newlocale(LC_ALL_MASK, "C.UTF-8", static_cast<locale_t>(nullptr));
    EXPECT_NE(static_cast<locale_t>(nullptr), utf8) << "the C.UTF-8 locale is missing";
    locale_t old = uselocale(utf8);
    va_list ap, again;
    va_start(ap, fmt);
    va_copy(again, ap);
    Out o;
    o.n = std::vsnprintf(nullptr, 0, fmt, ap);
    if (o.n >= 0) {
        o.text.assign(static_cast<size_t>(o.n) + 1, '\0');
        std::vsnprintf(&o.text[0], o.text.size(), fmt, again);
        o.text.resize(static_cast<size_t>(o.n));
    } else {
        o.n = -1;
    }
    va_end(again);
    va_end(ap);
    uselocale(old);
    return o;
}

const Out kRefused{-1, ""};

#define EXPECT_LIKE_C(...) EXPECT_EQ(Oracle(__VA_ARGS__), Ours(__VA_ARGS__)) << #__VA_ARGS__

TEST(ZenfabFormat, WritesWhatCWrites) {
    EXPECT_LIKE_C("%Ld|%s", 1LL << 40, "x");
    EXPECT_LIKE_C("%Lu %Lx", ~0ULL, 1ULL << 63);
    EXPECT_LIKE_C("%llf|%qf|%Lg|%s", 1.25L, 3.0e300L * 1.0e300L, 0.1L, "x");
    EXPECT_LIKE_C("[%.*s]", -1, "whole");
    EXPECT_LIKE_C("[%.*s|%.*s|%.*s]", 2, "whole", 0, "whole", 100000, "whole");
    EXPECT_LIKE_C("[%5%|%-5%|%%|%.3%]");
    EXPECT_LIKE_C("[%ls|%5ls|%-6ls|%.3ls|%.2ls]", L"h\u00e9llo", L"\u00e9", L"\u20ac", L"\u00e9\u00e9",
                  L"\u00e9\u00e9");
    EXPECT_LIKE_C("[%lc|%3lc|%-3lc|%lc]", static_cast<wint_t>(L'\u00e9'), static_cast<wint_t>(L'x'),
                  static_cast<wint_t>(0x1D11E), static_cast<wint_t>(0));
    EXPECT_LIKE_C("[%c|%5c|%-3c]", 'q', 0, 'x');
    EXPECT_LIKE_C("[%hhd|%hhu|%hd|%hu|%hhx]", 300, 300, 70000, -1, -1);
    EXPECT_LIKE_C("[%jd|%zu|%zd|%td|%ld|%lu|%qd]", INTMAX_MIN, SIZE_MAX, static_cast<ssize_t>(-3),
                  static_cast<ptrdiff_t>(-4), LONG_MIN, ULONG_MAX, LLONG_MAX);
    EXPECT_LIKE_C("[%+.3d|% d|%#o|%#x|%#X|%'d|%-+6i|%08.3d|%.0d|%.d]", 7, 5, 8, 255, 255, 1234567, 3, -5,
                  0, 0);
    EXPECT_LIKE_C("[%-12.3e|%E|%#.0f|%F|%G|%g|%010.2f|%+g|% .3g]", 12345.678, 1e-300, 2.0, 1.0 / 0.0,
                  1e-5, 123456789.0, -3.14159, 0.0, -0.0);
    EXPECT_LIKE_C("[%A|%.2A|%LA|%lA]", 1.0, 3.0, 1.0L, 0.1);
    EXPECT_LIKE_C("[%f|%e|%g]", 0.0 / 0.0, -1.0 / 0.0, 5e-324);
    EXPECT_LIKE_C("[%p|%p|%20p|%-20p]", static_cast<void*>(nullptr), reinterpret_cast<void*>(0x1234),
                  reinterpret_cast<void*>(1), reinterpret_cast<void*>(~uintptr_t(0)));
    EXPECT_LIKE_C("[%s|%.3s|%.6s|%10s|%ls|%.2ls]", static_cast<const char*>(nullptr),
                  static_cast<const char*>(nullptr), static_cast<const char*>(nullptr),
                  static_cast<const char*>(nullptr), static_cast<const wchar_t*>(nullptr),
                  static_cast<const wchar_t*>(nullptr));
    EXPECT_LIKE_C("[%*d|%-*d|%*d|%*.*f|%.*f]", 6, 42, 6, 42, -6, 42, -9, -1, 2.5, -3, 2.5);
    EXPECT_LIKE_C("[%.4096f]", 1e-300);
    EXPECT_LIKE_C("[%4096d]", 1);
    EXPECT_LIKE_C("no conversion at all");
    EXPECT_LIKE_C("");
}

TEST(ZenfabFormat, PercentAInsertsAZfStrAsPercentSWould) {
    ZF_Str* z = _ZF_StrNew();
    _ZF_StrSetC(z, "/data/");
    EXPECT_EQ(Oracle("[%s|%10s|%-8.3s]", "/data/", "/data/", "/data/"),
              Ours("[%a|%10a|%-8.3a]", z, z, z));
    EXPECT_EQ((Out{2, "[]"}), Ours("[%a]", static_cast<ZF_Str*>(nullptr)));
    _ZF_StrFree(z);
}

TEST(ZenfabFormat, RefusesWhatItCannotReadWithoutMisaligning) {
    // Each of these once shifted the arguments, and the %s read an integer
    // as a pointer.
    EXPECT_EQ(kRefused, Ours("%I64d|%s", 5LL, "x"));
    EXPECT_EQ(kRefused, Ours("%I32d|%s", 5, "x"));
    EXPECT_EQ(kRefused, Ours("%Id|%s", static_cast<size_t>(5), "x"));
    EXPECT_EQ(kRefused, Ours("%1$d|%s", 5, "x"));
    EXPECT_EQ(kRefused, Ours("%*1$d|%s", 5, "x"));
    EXPECT_EQ(kRefused, Ours("%C|%s", static_cast<wint_t>(L'x'), "x"));
    EXPECT_EQ(kRefused, Ours("%S|%s", L"x", "x"));
    EXPECT_EQ(kRefused, Ours("%*5d|%s", 3, 5, "x"));
    // Lengths that do not fit their conversion, %n, and what C has not.
    int count = 0;
    for (const char* f : {"%hhf", "%hs", "%lp", "%Lc", "%la", "%lls", "%lld%", "%llld", "%hhhd",
                          "%jf", "%zs", "%m", "%b", "%k", "%y|%s", "%5", "100%", "%-"}) {
        EXPECT_EQ(kRefused, Ours(f, 5, "x")) << f;
    }
    EXPECT_EQ(kRefused, Ours("%n|%s", &count, "x"));
    EXPECT_EQ(0, count);
    EXPECT_EQ(kRefused, Ours("%*%", 5));
}

TEST(ZenfabFormat, BoundsWidthsAndPrecisions) {
    EXPECT_EQ(kRefused, Ours("%2147483000d", 1));
    EXPECT_EQ(kRefused, Ours("%99999999999999999999d", 1));
    EXPECT_EQ(kRefused, Ours("%4097d", 1));
    EXPECT_EQ(kRefused, Ours("%.4097d", 1));
    EXPECT_EQ(kRefused, Ours("%.100000f", 1.0));
    EXPECT_EQ(kRefused, Ours("%*d", 4097, 1));
    EXPECT_EQ(kRefused, Ours("%*d", INT_MIN, 1));
    EXPECT_EQ(kRefused, Ours("%.*f", 1 << 30, 1.0));
    EXPECT_EQ(kRefused, Ours("%.2147483648s", "x"));
    // A string's precision only limits what is copied.
    EXPECT_EQ((Out{1, "x"}), Ours("%.2147483647s", "x"));
    EXPECT_EQ((Out{2, "xy"}), Ours("%.*s", INT_MAX, "xy"));
}

TEST(ZenfabFormat, WideTextWithoutAUtf8FormIsRefused) {
    const wchar_t surrogate[] = {L'a', static_cast<wchar_t>(0xD800), 0};
    const wchar_t tooLarge[] = {static_cast<wchar_t>(0x110000), 0};
    EXPECT_EQ(kRefused, Ours("%ls", surrogate));
    EXPECT_EQ(kRefused, Ours("%ls", tooLarge));
    EXPECT_EQ(kRefused, Ours("%lc", static_cast<wint_t>(0xDFFF)));
    EXPECT_EQ(kRefused, Ours("%lc", static_cast<wint_t>(0x110000)));
    // A precision that is used up before the bad character never reads it.
    EXPECT_EQ((Out{1, "a"}), Ours("%.1ls", surrogate));
    EXPECT_EQ(Oracle("%.1ls", surrogate), Ours("%.1ls", surrogate));
    EXPECT_EQ(Oracle("%.2ls", surrogate), Ours("%.2ls", surrogate));
}

// ---------------------------------------------------------------------------
// Random formats, compared with vsnprintf.

enum class Kind { Int, Long, Double, LongDouble, CString, WString, WChar, Pointer, Zf, Count };

struct Value {
    Kind kind = Kind::Int;
    int i = 0;
    long long l = 0;
    double d = 0;
    long double ld = 0;
    const char* s = nullptr;
    const wchar_t* w = nullptr;
    wint_t wc = 0;
    void* p = nullptr;
    ZF_Str* z = nullptr;
};

// The argument the formatter takes, and what vsnprintf takes in its place.
template <typename F> void WithArgument(const Value& v, F&& f) {
    switch (v.kind) {
    case Kind::Int: f(v.i, v.i); break;
    case Kind::Long: f(v.l, v.l); break;
    case Kind::Double: f(v.d, v.d); break;
    case Kind::LongDouble: f(v.ld, v.ld); break;
    case Kind::CString: f(v.s, v.s); break;
    case Kind::WString: f(v.w, v.w); break;
    case Kind::WChar: f(v.wc, v.wc); break;
    case Kind::Pointer: f(v.p, v.p); break;
    case Kind::Zf: f(v.z, static_cast<const char*>(v.z->Text)); break;
    case Kind::Count: break;
    }
}

struct RandomFormats {
    std::mt19937_64 rng{20240611};
    ZF_Str* zf = _ZF_StrNew();
    ~RandomFormats() { _ZF_StrFree(zf); }

    int pick(int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); }
    bool chance(int percent) { return pick(100) < percent; }

    template <typename T> T oneOf(std::initializer_list<T> list) {
        return list.begin()[pick(static_cast<int>(list.size()))];
    }

    // Flags, width and precision, each written out or taken from '*'.
    std::string head(bool stars, std::vector<int>& starArgs) {
        std::string h;
        for (char f : std::string("-+ #0'"))
            if (chance(15)) h += f;
        int w = pick(10);
        if (stars) {
            h += '*';
            starArgs.push_back(pick(61) - 30);
        } else if (w < 4) {
            h += std::to_string(pick(25));
        }
        if (stars) {
            h += ".*";
            starArgs.push_back(pick(40) - 8);
        } else if (int pr = pick(10); pr < 2) {
            h += '.';
        } else if (pr < 5) {
            h += "." + std::to_string(pick(25));
        }
        return h;
    }

    // A conversion of the kind (its length modifier and letter), and a value for it.
    std::string conversion(Kind kind, Value& v) {
        v.kind = kind;
        switch (kind) {
        case Kind::Int:
            v.i = oneOf({0, 1, -1, 42, 255, 300, INT_MAX, INT_MIN, static_cast<int>(rng())});
            if (chance(15)) return "c";
            return oneOf<const char*>({"", "hh", "h"}) + std::string(1, oneOf({'d', 'i', 'u', 'o', 'x', 'X'}));
        case Kind::Long:
            v.l = oneOf<long long>({0, -1, 1LL << 40, LLONG_MIN, LLONG_MAX, static_cast<long long>(rng())});
            return oneOf<const char*>({"l", "ll", "q", "L", "j", "z", "t"}) +
                   std::string(1, oneOf({'d', 'i', 'u', 'o', 'x', 'X'}));
        case Kind::Double:
            v.d = oneOf({0.0, -0.0, 1.5, 1e300, 1e-300, 5e-324, 3.14159265358979, 1.0 / 0.0, -1.0 / 0.0,
                         std::ldexp(static_cast<double>(rng() >> 11), pick(200) - 100)});
            return oneOf<const char*>({"", "l"}) + std::string(1, oneOf({'e', 'E', 'f', 'F', 'g', 'G', 'A'}));
        case Kind::LongDouble:
            v.ld = oneOf<long double>({0.0L, 1.5L, 1e4000L, 1e-4000L, 0.1L,
                                       std::ldexp(static_cast<long double>(rng()), pick(200) - 100)});
            return oneOf<const char*>({"L", "ll", "q"}) + std::string(1, oneOf({'e', 'E', 'f', 'F', 'g', 'G', 'A'}));
        case Kind::CString:
            v.s = oneOf<const char*>({"", "x", "glucose", "C6H12O6 180.063388", "h\xC3\xA9llo", nullptr});
            return "s";
        case Kind::WString:
            v.w = oneOf<const wchar_t*>({L"", L"x", L"h\u00e9llo", L"\u20ac\u00b1\U0001D11E\u4e2d", nullptr});
            return "ls";
        case Kind::WChar:
            v.wc = oneOf<wint_t>({0, L'x', 0xE9, 0x20AC, 0x1D11E, 0x7F, 0x10FFFF});
            return "lc";
        case Kind::Pointer:
            v.p = oneOf<void*>({nullptr, reinterpret_cast<void*>(1), reinterpret_cast<void*>(rng())});
            return "p";
        case Kind::Zf:
            _ZF_StrSetC(zf, oneOf<const char*>({"", "/data/", "DB1"}));
            v.z = zf;
            return "a";
        case Kind::Count:
            break;
        }
        return {};
    }

    std::string literal() {
        return oneOf<const char*>({"", "|", " x ", "DbOpen \"", "\xC2\xB1"});
    }
};

// The oracle's format: the formatter's %a is C's %s.
std::string ForOracle(std::string f) {
    for (size_t k = 0; k < f.size(); ++k)
        if (f[k] == '%') {
            size_t e = f.find_first_of("diouxXcspeEfFgGAa%", k + 1);
            if (f[e] == 'a') f[e] = 's';
            k = e;
        }
    return f;
}

TEST(ZenfabFormat, RandomSingleConversionsMatchVsnprintf) {
    RandomFormats r;
    for (int n = 0; n < 20000; ++n) {
        std::vector<int> stars;
        Value v;
        const Kind kind = static_cast<Kind>(r.pick(static_cast<int>(Kind::Count)));
        const bool withStars = r.chance(25);
        const std::string fmt = r.literal() + "%" + r.head(withStars, stars) + r.conversion(kind, v) + r.literal();
        const std::string oracleFmt = ForOracle(fmt);
        WithArgument(v, [&](auto ours, auto theirs) {
            if (withStars)
                ASSERT_EQ(Oracle(oracleFmt.c_str(), stars[0], stars[1], theirs),
                          Ours(fmt.c_str(), stars[0], stars[1], ours))
                    << fmt << " with " << stars[0] << ", " << stars[1];
            else
                ASSERT_EQ(Oracle(oracleFmt.c_str(), theirs), Ours(fmt.c_str(), ours)) << fmt;
        });
        if (HasFatalFailure()) return;
    }
}

TEST(ZenfabFormat, RandomConversionSequencesStayAligned) {
    RandomFormats r;
    for (int n = 0; n < 5000; ++n) {
        std::vector<int> stars;
        Value a, b;
        std::string fmt = r.literal() + "%" + r.head(true, stars) +
                          r.conversion(static_cast<Kind>(r.pick(static_cast<int>(Kind::Count))), a) + r.literal() +
                          "%" + r.head(true, stars) +
                          r.conversion(static_cast<Kind>(r.pick(static_cast<int>(Kind::Count))), b) + "|%s";
        const std::string oracleFmt = ForOracle(fmt);
        WithArgument(a, [&](auto oa, auto ta) {
            WithArgument(b, [&](auto ob, auto tb) {
                ASSERT_EQ(Oracle(oracleFmt.c_str(), stars[0], stars[1], ta, stars[2], stars[3], tb, "end"),
                          Ours(fmt.c_str(), stars[0], stars[1], oa, stars[2], stars[3], ob, "end"))
                    << fmt;
            });
        });
        if (HasFatalFailure()) return;
    }
}

} // namespace
