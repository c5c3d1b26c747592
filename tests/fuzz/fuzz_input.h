#pragma once
// What the fuzz targets share: a reader that turns the fuzzer's bytes into typed values,
// and the check that stops the run when a property of the code under test fails.
#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

// A failed property is a finding: print it and abort, so the fuzzer keeps the input.
#define FUZZ_CHECK(cond, ...)                                                                  \
    do {                                                                                       \
        if (!(cond)) FuzzFail(__FILE__, __LINE__, #cond, ##__VA_ARGS__);                       \
    } while (0)

[[noreturn]] inline void FuzzFail(const char* file, int line, const char* cond) {
    std::fprintf(stderr, "%s:%d: check failed: %s\n", file, line, cond);
    std::abort();
}

[[noreturn]] __attribute__((format(printf, 4, 5))) inline void
FuzzFail(const char* file, int line, const char* cond, const char* format, ...) {
    std::fprintf(stderr, "%s:%d: check failed: %s\n", file, line, cond);
    va_list ap;
    va_start(ap, format);
    std::vfprintf(stderr, format, ap);
    va_end(ap);
    std::fprintf(stderr, "\n");
    std::abort();
}

// Reads values from the front of the input; past its end every value is 0 or empty.
class FuzzInput {
  public:
    FuzzInput(const uint8_t* data, size_t size) : p_(data), n_(size) {}

    size_t remaining() const { return n_; }

    uint8_t byte() {
        if (n_ == 0) return 0;
        --n_;
        return *p_++;
    }
    uint16_t u16() { return static_cast<uint16_t>(byte() | (byte() << 8)); }
    uint32_t u32() { return u16() | (static_cast<uint32_t>(u16()) << 16); }
    uint64_t u64() { return u32() | (static_cast<uint64_t>(u32()) << 32); }
    bool flag() { return byte() & 1; }

    // A string of at most maxLength bytes: its length byte, then its bytes.
    std::string shortString(size_t maxLength = 255) {
        size_t n = byte();
        if (n > maxLength) n = maxLength;
        return take(n);
    }
    // The bytes up to the next separator byte (not included, and consumed), or to the end.
    std::string until(uint8_t separator) {
        size_t i = 0;
        while (i < n_ && p_[i] != separator)
            ++i;
        std::string s = take(i);
        if (n_ > 0) byte();
        return s;
    }
    std::string rest() { return take(n_); }

  private:
    std::string take(size_t n) {
        if (n > n_) n = n_;
        std::string s(reinterpret_cast<const char*>(p_), n);
        p_ += n;
        n_ -= n;
        return s;
    }

    const uint8_t* p_;
    size_t n_;
};

// True when text is well-formed UTF-8 (Unicode, table 3-7: no overlong forms, no
// surrogates, nothing above U+10FFFF).
inline bool Utf8WellFormed(std::string_view s) {
    auto at = [&](size_t k) { return k < s.size() ? static_cast<unsigned char>(s[k]) : 0x100u; };
    auto in = [](unsigned b, unsigned lo, unsigned hi) { return b >= lo && b <= hi; };
    for (size_t i = 0; i < s.size();) {
        const unsigned b0 = at(i);
        unsigned lo = 0x80, hi = 0xbf;
        size_t n = 0;
        if (b0 <= 0x7f) {
            n = 1;
        } else if (in(b0, 0xc2, 0xdf)) {
            n = in(at(i + 1), 0x80, 0xbf) ? 2 : 0;
        } else if (in(b0, 0xe0, 0xef)) {
            if (b0 == 0xe0) lo = 0xa0;
            if (b0 == 0xed) hi = 0x9f;
            n = in(at(i + 1), lo, hi) && in(at(i + 2), 0x80, 0xbf) ? 3 : 0;
        } else if (in(b0, 0xf0, 0xf4)) {
            if (b0 == 0xf0) lo = 0x90;
            if (b0 == 0xf4) hi = 0x8f;
            n = in(at(i + 1), lo, hi) && in(at(i + 2), 0x80, 0xbf) && in(at(i + 3), 0x80, 0xbf)
                    ? 4
                    : 0;
        }
        if (n == 0) return false;
        i += n;
    }
    return true;
}

// A private folder for the targets that need files, made once per process (below
// $TMPDIR, else /dev/shm when it exists, else /tmp) and removed at exit.
const std::string& FuzzTempDir();

// Writes data to path (replacing it); false when that fails.
bool FuzzWriteFile(const std::string& path, std::string_view data);
