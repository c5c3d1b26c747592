#include "db_answer.h"

#include <charconv>
#include <cmath>

namespace dbanswer {

void appendText(std::string& out, const char* text, size_t size, char terminator) {
    const size_t start = out.size();
    out.resize(start + size + 1);
    char* d = &out[start];
    for (size_t i = 0; i < size; ++i) {
        const char c = text[i];
        d[i] = c == ';' ? ',' : (c == '\n' || c == '\r' || c == '\0') ? ' ' : c;
    }
    d[size] = terminator;
}

void appendReal(std::string& out, double v) {
    // Plain decimals for every magnitude a mass can have; exponent form only for values
    // whose plain form would be very long.
    char buf[64];
    const double a = std::fabs(v);
    const bool plain = std::isfinite(v) && (a == 0 || (a >= 1e-4 && a < 1e15));
    auto r = plain ? std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed)
                   : std::to_chars(buf, buf + sizeof buf, v);
    out.append(buf, r.ptr);
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
