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

// Writes the decimal digits of u (u > 0 or first) and returns the end.
char* writeUnsigned(char* d, uint64_t u) {
    return std::to_chars(d, d + 20, u).ptr;
}

// Masses are stored with six decimals: such a value is written from its micro-units, which is
// much cheaper than the general shortest form and gives the same text. k/1e6 is the double
// nearest to the decimal k * 10^-6 (both operands exact, the division correctly rounded), so
// the text reads back to v; below 2^32 two six-decimal numbers are always further apart than
// the spacing of doubles, so no shorter text reads back to v either.
bool sixDecimals(char*& d, double v) {
    const double a = std::fabs(v);
    if (!(a >= 1e-4 && a < 4e9)) return false;
    const double scaled = a * 1e6;
    const auto k = static_cast<uint64_t>(scaled + 0.5);
    if (static_cast<double>(k) / 1e6 != a) return false;
    if (v < 0) *d++ = '-';
    const uint64_t whole = k / 1000000;
    uint32_t frac = static_cast<uint32_t>(k % 1000000);
    d = writeUnsigned(d, whole);
    if (frac != 0) {
        char digits[6];
        for (int i = 5; i >= 0; --i, frac /= 10)
            digits[i] = char('0' + frac % 10);
        int n = 6;
        while (digits[n - 1] == '0')
            --n;
        *d++ = '.';
        std::memcpy(d, digits, size_t(n));
        d += n;
    }
    return true;
}

} // namespace

char* formatReal(char* out, double v) {
    char* d = out;
    if (sixDecimals(d, v)) return d;
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
    return std::to_chars(d, d + 20, v).ptr;
}

std::string Builder::take() {
    buf_.resize(size_);
    std::string out = std::move(buf_);
    buf_ = std::string();
    size_ = 0;
    return out;
}

void Builder::real(double v, char terminator) {
    char* d = room(33);
    char* e = formatReal(d, v);
    *e++ = terminator;
    size_ += size_t(e - d);
}

void Builder::real(float v, char terminator) {
    char* d = room(33);
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
    char buf[40];
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
