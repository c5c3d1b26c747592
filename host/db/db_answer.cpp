#include "db_answer.h"

#include <charconv>
#include <cmath>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace dbanswer {
namespace {

// Each byte of a text value as the answer writes it.
struct TextMap {
    char to[256];
    TextMap() {
        for (int c = 0; c < 256; ++c)
            to[c] = char(c);
        to[int(';')] = ',';
        to[int('\n')] = to[int('\r')] = to[0] = ' ';
    }
};
const TextMap kTextMap;

constexpr uint64_t kPow10[20] = {1ull,
                                 10ull,
                                 100ull,
                                 1000ull,
                                 10000ull,
                                 100000ull,
                                 1000000ull,
                                 10000000ull,
                                 100000000ull,
                                 1000000000ull,
                                 10000000000ull,
                                 100000000000ull,
                                 1000000000000ull,
                                 10000000000000ull,
                                 100000000000000ull,
                                 1000000000000000ull,
                                 10000000000000000ull,
                                 100000000000000000ull,
                                 1000000000000000000ull,
                                 10000000000000000000ull};

// Eight bytes as a number whose lowest byte is the first.
inline uint64_t load8(const char* p) {
    uint64_t w = 0;
#if __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    std::memcpy(&w, p, 8);
#else
    for (int i = 0; i < 8; ++i)
        w |= uint64_t(static_cast<unsigned char>(p[i])) << (8 * i);
#endif
    return w;
}
using detail::eightDigits;
using detail::store8;

inline void write4(char* d, uint32_t v) { // v < 10000, four digits with leading zeros
    d[0] = char('0' + v / 1000);
    d[1] = char('0' + v / 100 % 10);
    d[2] = char('0' + v / 10 % 10);
    d[3] = char('0' + v % 10);
}

// The number of decimal digits of u (1 for 0).
inline int digitCount(uint64_t u) {
    u |= 1;
    const int t = ((64 - __builtin_clzll(u)) * 1233) >> 12; // about log10(2) * bits
    return t + (u >= kPow10[t] ? 1 : 0);
}

// Writes u as twenty digits with leading zeros at d[0..20).
inline void write20(char* d, uint64_t u) {
    const uint64_t top = u / 10000000000000000ull; // below 1845
    const uint64_t rest = u % 10000000000000000ull;
    write4(d, uint32_t(top));
    store8(d + 4, eightDigits(uint32_t(rest / 100000000)));
    store8(d + 12, eightDigits(uint32_t(rest % 100000000)));
}

// The number of '0' digits that end the twenty digits at d (at most sixteen are looked at).
inline int trailingZeros(const char* d) {
    constexpr uint64_t zeros = 0x3030303030303030ull;
    const uint64_t last = load8(d + 12) ^ zeros, before = load8(d + 4) ^ zeros;
    // The last digit is the highest byte.
    if (last) return __builtin_clzll(last) >> 3;
    return before ? 8 + (__builtin_clzll(before) >> 3) : 16;
}

// Writes the decimal digits of u and returns the end; d has room for 24 bytes.
inline char* writeUnsigned(char* d, uint64_t u) {
    if (u < 100000000) {
        // The leading zeros are the lowest bytes: shifted out.
        const uint64_t w = eightDigits(uint32_t(u));
        const int lead = u ? __builtin_ctzll(w ^ 0x3030303030303030ull) >> 3 : 7;
        store8(d, w >> (8 * lead));
        return d + 8 - lead;
    }
    char tmp[40];
    write20(tmp, u);
    const int n = digitCount(u);
    std::memcpy(d, tmp + 20 - n, 20); // the digits and harmless bytes after them
    return d + n;
}

// The shortest text that reads back to v, in plain decimals, for 2^-10 <= |v| < 2^49 (where
// the plain form applies), by exact integer arithmetic; false elsewhere, and for powers of two,
// whose interval of values reading back to them is lopsided.
//
// v = m * 2^-E, and the decimals that read back to v are those strictly inside
// ((2m - 1) / 2^(E+1), (2m + 1) / 2^(E+1)). With D = floor(E log10 2) + 1 decimals the
// interval is between one and ten units wide: it holds at least one D-decimal number and at
// most one with D - 1 decimals. If there is one with D - 1 decimals, it is the shortest once
// its trailing zeros are dropped; otherwise the D-decimal number nearest to v is (none of the
// D-decimal candidates ends in 0), ties going to the even one. This is the text of the
// shortest round-trip algorithms; the tests check it against std::to_chars.
bool shortestPlain(char*& out, double v) {
    uint64_t bits;
    std::memcpy(&bits, &v, sizeof bits);
    const int biased = int(bits >> 52) & 0x7ff;
    const uint64_t fraction = bits & ((uint64_t(1) << 52) - 1);
    const int E = 1075 - biased;
    if (E < 4 || E > 62 || fraction == 0) return false;
    const uint64_t m = fraction | (uint64_t(1) << 52);
    const int D = ((E * 78913) >> 18) + 1; // floor(E log10 2) + 1, at most 19
    const uint64_t P = kPow10[D];
    using u128 = unsigned __int128;
    const u128 R = u128(m) * P; // v * 10^D = R / 2^E
    const u128 L = 2 * R - P, H = 2 * R + P;  // the interval's ends, times 2^(E+1)
    // The ends have E + 1 > D binary places, so neither is a D-decimal number: whether reading
    // takes them in (it does when m is even) never matters.
    const int S = E + 1;
    const uint64_t lb = uint64_t(L >> S) + 1, ub = uint64_t(H >> S); // in units of 10^-D
    uint64_t K;
    int decimals;
    const uint64_t l1 = (lb + 9) / 10, u1 = ub / 10;
    if (l1 <= u1) {
        K = l1;
        decimals = D - 1;
    } else {
        K = uint64_t(R >> E);
        const uint64_t rem = uint64_t(R) & ((uint64_t(1) << E) - 1);
        const uint64_t half = uint64_t(1) << (E - 1);
        if (rem > half || (rem == half && (K & 1))) ++K;
        decimals = D;
    }
    // K < 2^53 * 10 < 10^17: its digits, then its trailing zeros dropped from the decimals.
    char tmp[48];
    write20(tmp, K);
    const int n = digitCount(K);
    const char* digits = tmp + 20 - n;
    int zeros = trailingZeros(tmp);
    if (zeros > decimals) zeros = decimals;
    decimals -= zeros;
    const int len = n - zeros; // significant digits kept
    char* d = out;
    if (bits >> 63) *d++ = '-';
    const int whole = len - decimals; // digits before the point
    if (whole > 0) {
        std::memcpy(d, digits, 20);
        d += whole;
        if (decimals > 0) {
            *d = '.';
            std::memcpy(d + 1, digits + whole, 20);
            d += 1 + decimals;
        }
    } else {
        // 0.000ddd: at most three zeros after the point for |v| >= 2^-10.
        std::memcpy(d, "0.000", 5);
        d += 2 - whole;
        std::memcpy(d, digits, 20);
        d += len;
    }
    out = d;
    return true;
}

} // namespace

char* formatReal(char* out, double v) {
    char* d = out;
    if (shortestPlain(d, v)) return d;
    // Plain decimals for every magnitude a mass can have; exponent form only for values
    // whose plain form would be very long.
    const double a = std::fabs(v);
    const bool plain = std::isfinite(v) && (a == 0 || (a >= 1e-4 && a < 1e15));
    auto r = plain ? std::to_chars(out, out + 32, v, std::chars_format::fixed)
                   : std::to_chars(out, out + 32, v);
    return r.ptr;
}

void Builder::grow(size_t n) {
    // Every step copies the answer so far and clears the new room: small answers start small,
    // and large ones get there in few steps.
    const size_t have = buf_.size();
    size_t cap = have < 1024 ? 1024 : have < (size_t(1) << 18) ? have * 4 : have * 2;
    while (cap - size_ < n)
        cap *= 2;
    buf_.resize(cap);
}

// A short value is read as one sixteen-byte block when the block stays within the value's
// memory page: the bytes past its end are never used, and reading them cannot fault. The
// address sanitizer would still count that as an overflow, so it does not look here.
#if defined(__SSE2__)
__attribute__((no_sanitize_address))
#endif
void Builder::copyText(char* d, const char* s, size_t n) {
#if defined(__SSE2__)
    // Sixteen bytes at a time; a block that holds a byte to replace is mended byte by byte.
    // d has 16 bytes of slack past n.
    const __m128i semi = _mm_set1_epi8(';'), lf = _mm_set1_epi8('\n'), cr = _mm_set1_epi8('\r');
    const __m128i zero = _mm_setzero_si128();
    auto hits = [&](__m128i v) {
        return unsigned(_mm_movemask_epi8(
            _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(v, semi), _mm_cmpeq_epi8(v, lf)),
                         _mm_or_si128(_mm_cmpeq_epi8(v, cr), _mm_cmpeq_epi8(v, zero)))));
    };
    auto mend = [&](char* p, unsigned mask) {
        for (; mask; mask &= mask - 1)
            p[__builtin_ctz(mask)] = kTextMap.to[static_cast<unsigned char>(p[__builtin_ctz(mask)])];
    };
    if (n < 16) {
        if (n == 0) return; // s may point just past its memory
        if ((reinterpret_cast<uintptr_t>(s) & 4095) <= 4096 - 16) {
            const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(d), v);
            if (const unsigned mask = hits(v) & ((1u << n) - 1)) mend(d, mask);
        } else {
            for (size_t i = 0; i < n; ++i)
                d[i] = kTextMap.to[static_cast<unsigned char>(s[i])];
        }
        return;
    }
    size_t i = 0;
    for (; i + 16 <= n; i += 16) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(d + i), v);
        if (const unsigned mask = hits(v)) mend(d + i, mask);
    }
    if (i < n) {
        // The last, partial block: the sixteen source bytes ending at n, overlapping the block
        // before; mending is idempotent, so the overlap is simply mended again.
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + n - 16));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(d + n - 16), v);
        if (const unsigned mask = hits(v)) mend(d + n - 16, mask);
    }
#else
    for (size_t i = 0; i < n; ++i)
        d[i] = kTextMap.to[static_cast<unsigned char>(s[i])];
#endif
}

char* Builder::writeInteger(char* d, int64_t v) {
    if (v < 0) {
        *d++ = '-';
        return writeUnsigned(d, uint64_t(0) - uint64_t(v));
    }
    return writeUnsigned(d, uint64_t(v));
}

std::string Builder::take() {
    buf_.resize(size_);
    std::string out = std::move(buf_);
    buf_ = std::string();
    size_ = 0;
    return out;
}

void Builder::real(float v, char terminator) {
    char* d = room(kRealRoom);
    const float a = std::fabs(v);
    const bool plain = std::isfinite(v) && (a == 0 || (a >= 1e-4f && a < 1e15f));
    auto r = plain ? std::to_chars(d, d + 32, v, std::chars_format::fixed)
                   : std::to_chars(d, d + 32, v);
    *r.ptr = terminator;
    size_ += size_t(r.ptr + 1 - d);
}

void Builder::hex(const unsigned char* bytes, size_t n, char terminator) {
    static const char digits[] = "0123456789ABCDEF";
    char* d = room(2 * n + 1);
    for (size_t k = 0; k < n; ++k) {
        d[2 * k] = digits[bytes[k] >> 4];
        d[2 * k + 1] = digits[bytes[k] & 15];
    }
    d[2 * n] = terminator;
    size_ += 2 * n + 1;
}

void appendText(std::string& out, const char* text, size_t size, char terminator) {
    const size_t start = out.size();
    out.resize(start + size + Builder::kSlack);
    Builder::copyText(&out[start], text, size);
    out[start + size] = terminator;
    out.resize(start + size + 1);
}

void appendReal(std::string& out, double v) {
    char buf[kRealRoom];
    out.append(buf, formatReal(buf, v));
}

void appendInteger(std::string& out, int64_t v) {
    char buf[24];
    auto r = std::to_chars(buf, buf + sizeof buf, v);
    out.append(buf, r.ptr);
}

void appendHex(std::string& out, const unsigned char* bytes, size_t size) {
    static const char hex[] = "0123456789ABCDEF";
    for (size_t k = 0; k < size; ++k) {
        out += hex[bytes[k] >> 4];
        out += hex[bytes[k] & 15];
    }
}

} // namespace dbanswer
