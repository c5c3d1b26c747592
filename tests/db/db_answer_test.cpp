// The answer builder against plain reference code: reals against std::to_chars (the
// shortest round trip), texts against a byte-by-byte replacement, for every length and
// position, at the edge of a memory page too.
#include <sys/mman.h>
#include <unistd.h>

#include <charconv>
#include <cstdint>
#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include <gtest/gtest.h>

#include "db_answer.h"

namespace {

// The text the answer must hold for v: shortest round trip, plain decimals between 1e-4 and
// 1e15, exponent form elsewhere.
std::string referenceReal(double v) {
    char buf[64];
    const double a = std::fabs(v);
    const bool plain = std::isfinite(v) && (a == 0 || (a >= 1e-4 && a < 1e15));
    auto r = plain ? std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed)
                   : std::to_chars(buf, buf + sizeof buf, v);
    return std::string(buf, r.ptr);
}

std::string built(double v) {
    dbanswer::Builder b;
    b.real(v, '\n');
    std::string s = b.take();
    EXPECT_EQ('\n', s.back());
    s.pop_back();
    return s;
}

TEST(DbAnswer, RealsAreTheShortestRoundTripForEveryKindOfValue) {
    std::mt19937_64 rng(7);
    // Six-decimal masses (the stored form), with their neighbours one ulp away.
    std::uniform_int_distribution<uint64_t> micro(1, 4'000'000'000'000'000ull);
    for (int i = 0; i < 200000; ++i) {
        const double v = double(micro(rng) % (i % 2 ? 3'000'000'000ull : 4'000'000'000'000'000ull)) / 1e6;
        for (double x : {v, std::nextafter(v, 0.0), std::nextafter(v, 1e300), -v}) {
            const std::string got = built(x);
            ASSERT_EQ(referenceReal(x), got) << x;
            double back = 0;
            std::from_chars(got.data(), got.data() + got.size(), back);
            ASSERT_EQ(x, back) << got;
        }
    }
    // Arbitrary bit patterns, and the edges of the plain range and of the fast path.
    for (int i = 0; i < 200000; ++i) {
        double v;
        const uint64_t bits = rng();
        std::memcpy(&v, &bits, sizeof v);
        ASSERT_EQ(referenceReal(v), built(v)) << bits;
    }
    // Full-precision masses (sums of atomic masses, never rounded), values rounded to every
    // number of decimals, and every binary exponent around the exact integer method's range.
    std::uniform_real_distribution<double> mass(1, 5000), unit(0.5, 1);
    for (int i = 0; i < 200000; ++i) {
        const double m = mass(rng);
        const double scale = std::pow(10.0, double(i % 18));
        const double x = std::ldexp(unit(rng), int(i % 80) - 20);
        for (double v : {m, std::round(m * scale) / scale, x, std::round(x * scale) / scale,
                         std::ldexp(1.0, int(i % 80) - 20), std::nextafter(m, 0.0)}) {
            ASSERT_EQ(referenceReal(v), built(v)) << v;
            ASSERT_EQ(referenceReal(-v), built(-v)) << -v;
        }
    }
    for (double v : {0.0, -0.0, 1e-4, 9.999999e-5, 0.0001005, 1e15, 999999999999999.9, 4e9,
                     3999999999.999999, 4000000000.000001, 4294967296.000001, 1.0, 180.063388,
                     46.041865, 0.1, 0.3, 400.00600962443, 0.0009765625, 0.00097656250000000011,
                     562949953421311.9, 562949953421312.0, 5e15, 1e300, 5e-324, HUGE_VAL, -HUGE_VAL, double(NAN)})
        EXPECT_EQ(referenceReal(v), built(v)) << v;
    EXPECT_EQ("180.063388", built(180.063388));
    EXPECT_EQ("180", built(180.0));
}

// The replacement one byte at a time.
std::string referenceText(const std::string& s) {
    std::string r = s;
    for (char& c : r)
        c = c == ';' ? ',' : (c == '\n' || c == '\r' || c == '\0') ? ' ' : c;
    return r;
}

TEST(DbAnswer, TextsOfEveryLengthMendEveryPosition) {
    // Values placed so that they end exactly at a page boundary: a read past the value would
    // fault there.
    const long page = sysconf(_SC_PAGESIZE);
    char* map = static_cast<char*>(mmap(nullptr, size_t(2 * page), PROT_READ | PROT_WRITE,
                                        MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
    ASSERT_NE(MAP_FAILED, map);
    ASSERT_EQ(0, mprotect(map + page, size_t(page), PROT_NONE));
    const char specials[] = {';', '\n', '\r', '\0'};
    for (size_t n = 0; n <= 70; ++n) {
        for (size_t pos = 0; pos <= n; ++pos) {
            for (char special : specials) {
                std::string value(n, 'a');
                for (size_t k = 0; k < n; ++k)
                    value[k] = char('A' + (k * 7) % 26);
                if (pos < n) value[pos] = special;
                if (n > 20 && pos + 17 < n) value[pos + 17] = ';';
                char* at = map + page - long(n); // ends at the guard page
                std::memcpy(at, value.data(), n);
                dbanswer::Builder b;
                b.text("x", 1, ';');
                b.text(at, n, '\n');
                ASSERT_EQ("x;" + referenceText(value) + "\n", b.take()) << n << " " << pos;
                std::string appended = "y";
                dbanswer::appendText(appended, at, n, ';');
                ASSERT_EQ("y" + referenceText(value) + ";", appended);
            }
        }
    }
    munmap(map, size_t(2 * page));
}

// Integers against std::to_string: every digit count and its edges, both signs, the extremes.
TEST(DbAnswer, IntegersOfEveryDigitCount) {
    std::vector<int64_t> values = {0, INT64_MIN, INT64_MAX, INT64_MIN + 1};
    for (int64_t p = 1; p <= INT64_MAX / 10; p *= 10)
        for (int64_t v : {p - 1, p, p + 1, 2 * p, 10 * p - 1})
            values.insert(values.end(), {v, -v});
    std::mt19937_64 random(7);
    for (int i = 0; i < 100000; ++i)
        values.push_back(int64_t(random() >> (random() % 64)));
    dbanswer::Builder b;
    std::string expected;
    for (int64_t v : values) {
        b.integer(v, ';');
        expected += std::to_string(v) + ";";
    }
    EXPECT_EQ(expected, b.take());
}

TEST(DbAnswer, BuilderGrowsAcrossManyRowsAndStartsEmptyAgain) {
    dbanswer::Builder b;
    std::string expected;
    for (int i = 0; i < 100000; ++i) {
        b.integer(i - 50000, ';');
        b.real(i / 8.0, ';');
        b.null(';');
        const unsigned char raw[] = {0x00, 0xAB, static_cast<unsigned char>(i)};
        b.hex(raw, 3, ';');
        b.text("name; x", 7, '\n');
        char hex[8];
        std::snprintf(hex, sizeof hex, "00AB%02X", i & 255);
        expected += std::to_string(i - 50000) + ";" + referenceReal(i / 8.0) + ";;" + hex +
                    ";name, x\n";
    }
    EXPECT_EQ(expected.size(), b.size());
    EXPECT_EQ(expected, b.take());
    EXPECT_EQ(0u, b.size());
    b.text("again", 5, '\n');
    EXPECT_EQ("again\n", b.take());
    dbanswer::Builder f;
    f.real(0.1f, '\n');
    EXPECT_EQ("0.1\n", f.take());
    // The first real written is never taken for a repeat, whatever its bits.
    double allOnes;
    const uint64_t bits = ~uint64_t(0);
    std::memcpy(&allOnes, &bits, sizeof allOnes);
    char text[dbanswer::kRealRoom];
    const std::string nan(text, dbanswer::formatReal(text, allOnes));
    f.real(allOnes, ';');
    f.real(allOnes, '\n');
    EXPECT_EQ(nan + ";" + nan + "\n", f.take());
}

} // namespace
