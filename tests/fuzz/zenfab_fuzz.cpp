// Fuzz target: libzenfab's formatter (_ZF_StrPrintC), with the C library's snprintf as the
// oracle.
//
// The format is data; the arguments must stay well typed, or every finding would be the
// harness's own fault. So the harness reads the format as the C library does (glibc's
// printf grammar: flags, width, precision, length modifiers, positional arguments) and
// passes exactly the arguments that reading asks for, each holding a value of the kind it
// is read as (see Carrier below), and after them sentinels that show a formatter taking
// more arguments than the format has. %a takes a ZF_Str, as zenfab defines it. A conversion the C library does not accept consumes no
// argument: the formatter must refuse the format, or at least not take an argument for it.
//
// What the formatter must do:
//  - never crash, read or write out of bounds, or build a huge text (widths and precisions
//    are bounded: the fuzzer's memory limit catches a formatter that is not);
//  - return the text's length, or -1 with the text left empty;
//  - when it formats a format the C library defines, give the C library's text;
//  - accept the plain conversions the plug-in and the host use.
#include <algorithm>
#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define TW_ASAN 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__)
#define TW_ASAN 1
#endif
#ifdef TW_ASAN
#include <sanitizer/asan_interface.h>
#endif
#include <cstdarg>
#include <cstring>
#include <cwchar>
#include <string>

#pragma GCC diagnostic ignored "-Wformat-nonliteral"
#pragma GCC diagnostic ignored "-Wformat-security"

#include "fuzz_input.h"
#include "zenfab.h"

namespace {

constexpr int kMaxArgs = 4;
// Widths and precisions up to this are compared with the C library's text.
constexpr long kComparedWidth = 10000;

enum ArgType : uint8_t { kInt, kLongLong, kDouble, kLongDouble, kStr, kWideStr, kPtr, kZfStr };

// How the harness read the format.
struct Plan {
    std::string zformat;      // the format given to zenfab
    std::string cformat;      // the same for the C library: %a of a ZF_Str becomes %s
    ArgType types[kMaxArgs];  // the arguments, in order
    bool isStar[kMaxArgs] = {}; // the argument is a width or precision
    bool isChar[kMaxArgs] = {}; // the argument is a character
    int count = 0;
    bool comparable = true;   // the C library defines the text
    bool plain = true;        // only what the plug-in and the host use: must be accepted
};

struct Args {
    int ints[kMaxArgs];
    long long longs[kMaxArgs];
    double doubles[kMaxArgs];
    long double longDoubles[kMaxArgs];
    std::string strs[kMaxArgs];
    std::wstring wideStrs[kMaxArgs];
    ZF_Str* zfStrs[kMaxArgs] = {};
    alignas(16) unsigned char target[32] = {}; // what %p points at and %n would write to

    ~Args() {
        for (ZF_Str* s : zfStrs)
            _ZF_StrFree(s);
    }
};

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

// Reads decimal digits at p; value saturates above 1e9.
long readNumber(const std::string& f, size_t& p) {
    long v = 0;
    while (p < f.size() && isDigit(f[p])) {
        v = v < 1000000000L ? v * 10 + (f[p] - '0') : v;
        ++p;
    }
    return v;
}

// One conversion as glibc reads it. The reading starts after the '%'.
struct Conversion {
    bool valid = false;
    long position = 0;  // n of "%n$", 0 when not positional
    bool widthStar = false, precStar = false;
    long widthPos = 0, precPos = 0; // m of "*m$"
    bool starPositionMismatch = false; // a star positional unlike its conversion
    long width = 0, precision = -1;
    std::string flags, length;
    char conv = 0;
    size_t end = 0; // index after the conversion
};

Conversion readConversion(const std::string& f, size_t p) {
    Conversion s;
    // "%n$": digits, then '$'.
    if (p < f.size() && f[p] >= '1' && f[p] <= '9') {
        size_t q = p;
        const long n = readNumber(f, q);
        if (q < f.size() && f[q] == '$') {
            s.position = n;
            p = q + 1;
        }
    }
    while (p < f.size() && std::strchr("-+ #0'I", f[p]) && f[p] != 0)
        s.flags.push_back(f[p++]);
    auto star = [&](bool& isStar, long& pos) {
        isStar = true;
        ++p;
        if (p < f.size() && f[p] >= '1' && f[p] <= '9') {
            size_t q = p;
            const long m = readNumber(f, q);
            if (q < f.size() && f[q] == '$') {
                pos = m;
                p = q + 1;
            }
        }
        if ((pos != 0) != (s.position != 0)) s.starPositionMismatch = true;
    };
    if (p < f.size() && f[p] == '*')
        star(s.widthStar, s.widthPos);
    else
        s.width = readNumber(f, p);
    if (p < f.size() && f[p] == '.') {
        ++p;
        if (p < f.size() && f[p] == '*')
            star(s.precStar, s.precPos);
        else
            s.precision = readNumber(f, p);
    }
    static const char* const lengths[] = {"hh", "h", "ll", "l", "L", "q", "j", "z", "Z", "t"};
    for (const char* l : lengths) {
        if (f.compare(p, std::strlen(l), l) == 0) {
            s.length = l;
            p += s.length.size();
            break;
        }
    }
    if (p < f.size() && f[p] != 0 && std::strchr("diouxXbBeEfFgGaAcCsSpnm%", f[p])) {
        s.conv = f[p++];
        s.valid = !s.starPositionMismatch;
    }
    s.end = p;
    return s;
}

// The argument a conversion takes, as glibc's printf reads it; false for none.
bool conversionArg(const Conversion& s, ArgType& t) {
    const std::string& l = s.length;
    const bool isLongDouble = l == "ll" || l == "L" || l == "q";
    const bool isLong = isLongDouble || l == "l" || l == "j" || l == "z" || l == "Z" || l == "t";
    switch (s.conv) {
    case 'd': case 'i': case 'o': case 'u': case 'x': case 'X': case 'b': case 'B':
        t = isLong ? kLongLong : kInt; // long and long long are alike here
        return true;
    case 'a':
        t = kZfStr;
        return true;
    case 'e': case 'E': case 'f': case 'F': case 'g': case 'G': case 'A':
        t = isLongDouble ? kLongDouble : kDouble;
        return true;
    case 'c':
        t = kInt; // a wint_t for %lc: the values are ASCII either way
        return true;
    case 'C':
        t = kInt;
        return true;
    case 's':
        t = isLong ? kWideStr : kStr;
        return true;
    case 'S':
        t = kWideStr;
        return true;
    case 'p':
    case 'n':
        t = kPtr;
        return true;
    default: // 'm', '%'
        return false;
    }
}

// Reads the format; false when the harness cannot type its arguments (too many, a %a with
// a length modifier, positional arguments used inconsistently).
bool makePlan(const std::string& f, Plan& plan) {
    // First pass: positional or sequential?
    bool anyPositional = false, anySequential = false;
    for (size_t p = 0; p < f.size(); ++p) {
        if (f[p] != '%') continue;
        if (p + 1 < f.size() && f[p + 1] == '%') {
            ++p;
            continue;
        }
        const Conversion s = readConversion(f, p + 1);
        if (!s.valid) continue;
        ArgType t;
        const bool takes = conversionArg(s, t) || s.widthStar || s.precStar;
        if (!takes) continue;
        (s.position ? anyPositional : anySequential) = true;
        p = s.end - 1;
    }
    const bool positional = anyPositional && !anySequential;
    if (anyPositional && anySequential) plan.comparable = false;

    ArgType byPosition[kMaxArgs + 1];
    bool typed[kMaxArgs + 1] = {};
    auto addPositional = [&](long pos, ArgType t, bool isChar) {
        if (pos < 1 || pos > kMaxArgs) return false;
        if (typed[pos] && byPosition[pos] != t) return false; // one argument, two types
        typed[pos] = true;
        byPosition[pos] = t;
        plan.isChar[pos - 1] = plan.isChar[pos - 1] || isChar;
        return true;
    };
    auto addSequential = [&](ArgType t, bool isStar, bool isChar) {
        if (plan.count == kMaxArgs) return false;
        plan.isStar[plan.count] = isStar;
        plan.isChar[plan.count] = isChar;
        plan.types[plan.count++] = t;
        return true;
    };

    std::string& z = plan.zformat;
    std::string& c = plan.cformat;
    for (size_t p = 0; p < f.size();) {
        if (f[p] != '%') {
            z += f[p];
            c += f[p];
            ++p;
            continue;
        }
        if (p + 1 < f.size() && f[p + 1] == '%') {
            z += "%%";
            c += "%%";
            p += 2;
            continue;
        }
        Conversion s = readConversion(f, p + 1);
        ArgType t = kInt;
        const bool takesArg = s.valid && conversionArg(s, t);
        // A conversion the C library does not accept takes no argument. In a format that
        // mixes positional and plain conversions (which C leaves undefined) each takes
        // its argument in its turn, as a reader of the format would expect.
        if (!s.valid || (s.conv == '%' && (s.widthStar || s.precStar || s.position))) {
            if (s.valid && s.conv == '%') return false; // glibc takes the star; C leaves it undefined
            plan.comparable = plan.plain = false;
            z += '%';
            c += "%%"; // the C library prints it as text
            ++p;
            continue;
        }
        if (s.conv == 'a' && !s.length.empty()) return false; // no defined meaning
        if (s.conv == 'm' || s.conv == 'n') plan.comparable = false;
        if (s.width > kComparedWidth || s.precision > kComparedWidth) plan.comparable = false;

        // What the plug-in and the host use, which must be accepted.
        const bool plainConv = std::strchr("diuxXscfega", s.conv) != nullptr;
        const bool plainLength = s.length.empty() ||
                                 ((s.length == "l" || s.length == "ll" || s.length == "z") &&
                                  std::strchr("diuxX", s.conv));
        const bool plainFlags = s.flags.find_first_not_of("-0") == std::string::npos &&
                                (s.flags.find('0') == std::string::npos ||
                                 std::strchr("sca", s.conv) == nullptr);
        if (!plainConv || !plainLength || !plainFlags || s.position || s.widthStar ||
            s.precStar || s.width > 100 || s.precision > 100 ||
            (s.conv == 'c' && s.precision >= 0))
            plan.plain = false;

        const bool isChar = s.conv == 'c' || s.conv == 'C';
        if (s.position && !positional) plan.plain = false;
        if (positional) {
            if (s.widthStar && !addPositional(s.widthPos, kInt, false)) return false;
            if (s.precStar && !addPositional(s.precPos, kInt, false)) return false;
            if (takesArg && !addPositional(s.position, t, isChar)) return false;
        } else {
            if (s.widthStar && !addSequential(kInt, true, false)) return false;
            if (s.precStar && !addSequential(kInt, true, false)) return false;
            if (takesArg && !addSequential(t, false, isChar)) return false;
        }
        const std::string text = f.substr(p, s.end - p);
        z += text;
        if (s.conv == 'a') {
            c += text.substr(0, text.size() - 1);
            c += 's';
        } else {
            c += text;
        }
        p = s.end;
    }
    if (positional) {
        int n = 0;
        for (int i = 1; i <= kMaxArgs; ++i)
            if (typed[i]) n = i;
        for (int i = 1; i <= n; ++i) {
            if (!typed[i]) return false; // a gap: its type is unknown
            plan.types[i - 1] = byPosition[i];
            plan.isStar[i - 1] = false;
        }
        plan.count = n;
        // The stars' values are compared below through their positions.
        for (size_t p = 0; p < f.size(); ++p) {
            if (f[p] != '%') continue;
            const Conversion s = readConversion(f, p + 1);
            if (!s.valid) continue;
            if (s.widthStar && s.widthPos >= 1 && s.widthPos <= n) plan.isStar[s.widthPos - 1] = true;
            if (s.precStar && s.precPos >= 1 && s.precPos <= n) plan.isStar[s.precPos - 1] = true;
            p = s.end - 1;
        }
    }
    return true;
}

// The arguments travel in five C types: int, long long (also for the readings of long,
// size_t, ptrdiff_t and intmax_t, which have its size and representation here), double,
// long double and pointers (as const void*: a ZF_Str*, a string, a wide string, what %p
// prints and %n would write to). Each slot holds the value its reading takes; only the
// pointer of a %a differs between zenfab (the ZF_Str) and the C library (its text).
enum Carrier : uint8_t { cInt, cLongLong, cDouble, cLongDouble, cPointer };

struct Slots {
    Carrier carrier[kMaxArgs];
    int ints[kMaxArgs];
    long long longs[kMaxArgs];
    double doubles[kMaxArgs];
    long double longDoubles[kMaxArgs];
    const void* zPointers[kMaxArgs];
    const void* cPointers[kMaxArgs];
};

enum class Call { Zenfab, CSize, CText };

// Passed after the planned arguments (C ignores arguments a format does not use): a
// formatter that takes more arguments than the format has reads these. In a sanitizer
// build they point into poisoned memory, so reading one as a string is reported at once.
alignas(64) char g_sentinel[64] = "(an argument the format does not have)";
const void* sentinel() {
#ifdef TW_ASAN
    static const bool poisoned = [] {
        __asan_poison_memory_region(g_sentinel, sizeof g_sentinel);
        return true;
    }();
    (void)poisoned;
#endif
    return g_sentinel;
}

struct Outcome {
    ZF_Str* z = nullptr;
    int32_t zLength = 0;
    int cLength = 0;
    std::string cText;
};

// Calls zenfab or snprintf with the arguments collected so far, once all are there.
template <int Depth, typename... A>
__attribute__((noinline)) void invoke(const Plan& plan, const Slots& s, Call call, Outcome& out,
                                      A... a) {
    if constexpr (Depth < kMaxArgs) {
        if (Depth < plan.count) {
            const bool z = call == Call::Zenfab;
            switch (s.carrier[Depth]) {
            case cInt:
                return invoke<Depth + 1>(plan, s, call, out, a..., s.ints[Depth]);
            case cLongLong:
                return invoke<Depth + 1>(plan, s, call, out, a..., s.longs[Depth]);
            case cDouble:
                return invoke<Depth + 1>(plan, s, call, out, a..., s.doubles[Depth]);
            case cLongDouble:
                return invoke<Depth + 1>(plan, s, call, out, a..., s.longDoubles[Depth]);
            case cPointer:
                return invoke<Depth + 1>(plan, s, call, out, a...,
                                         z ? s.zPointers[Depth] : s.cPointers[Depth]);
            }
            return;
        }
    }
    const void* x = sentinel();
    switch (call) {
    case Call::Zenfab:
        out.zLength = _ZF_StrPrintC(out.z, plan.zformat.c_str(), a..., x, x, x, x, x, x);
        break;
    case Call::CSize:
        out.cLength = std::snprintf(nullptr, 0, plan.cformat.c_str(), a...);
        break;
    case Call::CText:
        std::snprintf(&out.cText[0], out.cText.size(), plan.cformat.c_str(), a...);
        break;
    }
}

// Formats with zenfab and checks the result against the C library's.
void check(const Plan& plan, const Slots& slots) {
    Outcome out;
    out.z = _ZF_StrNew();
    FUZZ_CHECK(out.z != nullptr);
    invoke<0>(plan, slots, Call::Zenfab, out);
    ZF_Str* s = out.z;
    const int32_t n = out.zLength;
    FUZZ_CHECK(n >= -1);
    FUZZ_CHECK(s->Text != nullptr);
    if (n == -1) {
        FUZZ_CHECK(s->Length == 0 && s->Text[0] == 0, "a refused format leaves the text empty");
        FUZZ_CHECK(!plan.plain, "refused a plain format: \"%s\"", plan.zformat.c_str());
    } else {
        FUZZ_CHECK(s->Length == n && s->Text[n] == 0, "length %d, Length %d", n, s->Length);
        FUZZ_CHECK(s->Capacity > s->Length);
        if (plan.comparable) {
            invoke<0>(plan, slots, Call::CSize, out);
            if (out.cLength >= 0) {
                out.cText.assign(size_t(out.cLength) + 1, '\0');
                invoke<0>(plan, slots, Call::CText, out);
                out.cText.resize(size_t(out.cLength));
                FUZZ_CHECK(std::string(s->Text, size_t(n)) == out.cText,
                           "format \"%s\": zenfab \"%s\", C \"%s\"", plan.zformat.c_str(),
                           s->Text, out.cText.c_str());
            }
        }
    }
    _ZF_StrFree(s);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzInput in(data, size);
    // The format runs to the first NUL byte; the arguments' values follow.
    const std::string format = in.until(0);
    if (format.size() > 1024) return 0;
    Plan plan;
    if (!makePlan(format, plan)) return 0;

    Args a;
    for (int i = 0; i < kMaxArgs; ++i) {
        if (i < plan.count && plan.isStar[i]) {
            // Widths and precisions: mostly small, sometimes negative or huge.
            const uint8_t kind = in.byte();
            a.ints[i] = kind < 200 ? int(kind) - 100 : int(in.u32());
            if (a.ints[i] > kComparedWidth || a.ints[i] < -kComparedWidth) plan.comparable = false;
        } else {
            a.ints[i] = int(in.u32());
            // Characters for %c, %lc and %C: ASCII, never NUL, so that both sides print the
            // same one byte whatever the locale's wide characters are.
            if (i < plan.count && plan.isChar[i]) a.ints[i] = 1 + (a.ints[i] & 0x7e);
        }
        a.longs[i] = static_cast<long long>(in.u64());
        uint64_t bits = in.u64();
        std::memcpy(&a.doubles[i], &bits, sizeof bits);
        a.longDoubles[i] = static_cast<long double>(a.doubles[i]) * (in.flag() ? 1e300L : 1.0L);
        a.strs[i] = in.shortString(64);
        a.strs[i] = a.strs[i].substr(0, a.strs[i].find('\0'));
        std::string w = in.shortString(32);
        for (char ch : w)
            a.wideStrs[i] += wchar_t((ch & 0x7f) ? (ch & 0x7f) : 'w');
        a.zfStrs[i] = _ZF_StrNew();
        _ZF_StrSetC(a.zfStrs[i], in.shortString(64).c_str());
    }
    Slots slots;
    for (int i = 0; i < plan.count; ++i) {
        slots.ints[i] = a.ints[i];
        slots.longs[i] = a.longs[i];
        slots.doubles[i] = a.doubles[i];
        slots.longDoubles[i] = a.longDoubles[i];
        slots.zPointers[i] = slots.cPointers[i] = a.target;
        switch (plan.types[i]) {
        case kInt: slots.carrier[i] = cInt; break;
        case kLongLong: slots.carrier[i] = cLongLong; break;
        case kDouble: slots.carrier[i] = cDouble; break;
        case kLongDouble: slots.carrier[i] = cLongDouble; break;
        case kStr:
            slots.carrier[i] = cPointer;
            slots.zPointers[i] = slots.cPointers[i] = a.strs[i].c_str();
            break;
        case kWideStr:
            slots.carrier[i] = cPointer;
            slots.zPointers[i] = slots.cPointers[i] = a.wideStrs[i].c_str();
            break;
        case kPtr: slots.carrier[i] = cPointer; break;
        case kZfStr:
            slots.carrier[i] = cPointer;
            slots.zPointers[i] = a.zfStrs[i];
            slots.cPointers[i] = a.zfStrs[i]->Text;
            break;
        }
    }
    check(plan, slots);
    return 0;
}
