#include "text_utils.h"

#include <algorithm>
#include <charconv>
#include <vector>

namespace mkdb {
namespace {

struct Entity {
    const char* name;
    char32_t cp;
};

// Looked up by binary search over a sorted copy.
constexpr Entity kEntities[] = {
    {"AElig", 0xC6},    {"Aacute", 0xC1},   {"Acirc", 0xC2},     {"Agrave", 0xC0},
    {"Alpha", 0x391},   {"Aring", 0xC5},    {"Atilde", 0xC3},    {"Auml", 0xC4},
    {"Beta", 0x392},    {"Ccedil", 0xC7},   {"Chi", 0x3A7},      {"Delta", 0x394},
    {"Eacute", 0xC9},   {"Ecirc", 0xCA},    {"Egrave", 0xC8},    {"Epsilon", 0x395},
    {"Eta", 0x397},     {"Euml", 0xCB},     {"Gamma", 0x393},    {"Iacute", 0xCD},
    {"Icirc", 0xCE},    {"Igrave", 0xCC},   {"Iota", 0x399},     {"Iuml", 0xCF},
    {"Kappa", 0x39A},   {"Lambda", 0x39B},  {"Mu", 0x39C},       {"Ntilde", 0xD1},
    {"Nu", 0x39D},      {"Oacute", 0xD3},   {"Ocirc", 0xD4},     {"Ograve", 0xD2},
    {"Omega", 0x3A9},   {"Omicron", 0x39F}, {"Oslash", 0xD8},    {"Otilde", 0xD5},
    {"Ouml", 0xD6},     {"Phi", 0x3A6},     {"Pi", 0x3A0},       {"Prime", 0x2033},
    {"Psi", 0x3A8},     {"Rho", 0x3A1},     {"Sigma", 0x3A3},    {"Tau", 0x3A4},
    {"Theta", 0x398},   {"Uacute", 0xDA},   {"Ucirc", 0xDB},     {"Ugrave", 0xD9},
    {"Upsilon", 0x3A5}, {"Uuml", 0xDC},     {"Xi", 0x39E},       {"Yacute", 0xDD},
    {"Zeta", 0x396},    {"aacute", 0xE1},   {"acirc", 0xE2},     {"aelig", 0xE6},
    {"agrave", 0xE0},   {"alpha", 0x3B1},   {"amp", 0x26},       {"apos", 0x27},
    {"aring", 0xE5},    {"atilde", 0xE3},   {"auml", 0xE4},      {"beta", 0x3B2},
    {"bull", 0x2022},   {"ccedil", 0xE7},   {"chi", 0x3C7},      {"copy", 0xA9},
    {"darr", 0x2193},   {"deg", 0xB0},      {"delta", 0x3B4},    {"divide", 0xF7},
    {"eacute", 0xE9},   {"ecirc", 0xEA},    {"egrave", 0xE8},    {"epsilon", 0x3B5},
    {"eta", 0x3B7},     {"euml", 0xEB},     {"frac12", 0xBD},    {"frac14", 0xBC},
    {"frac34", 0xBE},   {"gamma", 0x3B3},   {"ge", 0x2265},      {"gt", 0x3E},
    {"harr", 0x2194},   {"hellip", 0x2026}, {"iacute", 0xED},    {"icirc", 0xEE},
    {"igrave", 0xEC},   {"iota", 0x3B9},    {"iuml", 0xEF},      {"kappa", 0x3BA},
    {"lambda", 0x3BB},  {"laquo", 0xAB},    {"larr", 0x2190},    {"ldquo", 0x201C},
    {"le", 0x2264},     {"lsquo", 0x2018},  {"lt", 0x3C},        {"mdash", 0x2014},
    {"micro", 0xB5},    {"middot", 0xB7},   {"minus", 0x2212},   {"mu", 0x3BC},
    {"nbsp", 0xA0},     {"ndash", 0x2013},  {"ntilde", 0xF1},    {"nu", 0x3BD},
    {"oacute", 0xF3},   {"ocirc", 0xF4},    {"ograve", 0xF2},    {"omega", 0x3C9},
    {"omicron", 0x3BF}, {"oslash", 0xF8},   {"otilde", 0xF5},    {"ouml", 0xF6},
    {"phi", 0x3C6},     {"pi", 0x3C0},      {"piv", 0x3D6},      {"plusmn", 0xB1},
    {"prime", 0x2032},  {"psi", 0x3C8},     {"quot", 0x22},      {"raquo", 0xBB},
    {"rarr", 0x2192},   {"rdquo", 0x201D},  {"reg", 0xAE},       {"rho", 0x3C1},
    {"rsquo", 0x2019},  {"sect", 0xA7},     {"sigma", 0x3C3},    {"sigmaf", 0x3C2},
    {"sup1", 0xB9},     {"sup2", 0xB2},     {"sup3", 0xB3},      {"szlig", 0xDF},
    {"tau", 0x3C4},     {"theta", 0x3B8},   {"thetasym", 0x3D1}, {"times", 0xD7},
    {"trade", 0x2122},  {"uacute", 0xFA},   {"uarr", 0x2191},    {"ucirc", 0xFB},
    {"ugrave", 0xF9},   {"upsih", 0x3D2},   {"upsilon", 0x3C5},  {"uuml", 0xFC},
    {"xi", 0x3BE},      {"yacute", 0xFD},   {"yuml", 0xFF},      {"zeta", 0x3B6},
};

bool validScalar(unsigned long cp) {
    return cp > 0 && cp <= 0x10FFFF && !(cp >= 0xD800 && cp <= 0xDFFF);
}

// Decodes the reference whose text (between '&' and ';') is ref; false if it is none.
bool decodeRef(std::string_view ref, char32_t& cp) {
    if (ref.empty()) return false;
    if (ref[0] == '#') {
        std::string_view digits = ref.substr(1);
        int base = 10;
        if (!digits.empty() && (digits[0] == 'x' || digits[0] == 'X')) {
            digits = digits.substr(1);
            base = 16;
        }
        if (digits.empty() || digits.size() > 8) return false;
        unsigned long v = 0;
        auto [p, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), v, base);
        if (ec != std::errc() || p != digits.data() + digits.size() || !validScalar(v))
            return false;
        cp = char32_t(v);
        return true;
    }
    static const std::vector<Entity> sorted = [] {
        std::vector<Entity> v(std::begin(kEntities), std::end(kEntities));
        std::sort(v.begin(), v.end(), [](const Entity& a, const Entity& b) {
            return std::string_view(a.name) < std::string_view(b.name);
        });
        return v;
    }();
    auto it = std::lower_bound(sorted.begin(), sorted.end(), ref,
                               [](const Entity& e, std::string_view r) { return e.name < r; });
    if (it == sorted.end() || ref != it->name) return false;
    cp = it->cp;
    return true;
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

std::string decodeEntities(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    size_t i = 0;
    while (i < text.size()) {
        const char c = text[i];
        if (c == '&') {
            // A reference is at most a few dozen characters; look no further for its ';'.
            size_t semi = text.find(';', i + 1);
            char32_t cp = 0;
            if (semi != std::string_view::npos && semi - i <= 12 &&
                decodeRef(text.substr(i + 1, semi - i - 1), cp)) {
                appendUtf8(out, cp);
                i = semi + 1;
                continue;
            }
        }
        out += c;
        ++i;
    }
    return out;
}

std::string sanitizeUtf8(std::string_view s) {
    std::string out;
    out.reserve(s.size());
    size_t i = 0;
    while (i < s.size()) {
        const auto b = static_cast<unsigned char>(s[i]);
        if (b < 0x80) {
            out += char(b);
            ++i;
            continue;
        }
        int len = 0;
        char32_t cp = 0, min = 0;
        if ((b & 0xE0) == 0xC0) {
            len = 2, cp = b & 0x1F, min = 0x80;
        } else if ((b & 0xF0) == 0xE0) {
            len = 3, cp = b & 0x0F, min = 0x800;
        } else if ((b & 0xF8) == 0xF0) {
            len = 4, cp = b & 0x07, min = 0x10000;
        }
        bool ok = len > 0 && i + len <= s.size();
        for (int k = 1; ok && k < len; ++k) {
            const auto cb = static_cast<unsigned char>(s[i + k]);
            if ((cb & 0xC0) != 0x80) ok = false;
            cp = (cp << 6) | (cb & 0x3F);
        }
        if (ok && cp >= min && validScalar(cp)) {
            out.append(s.data() + i, size_t(len));
            i += size_t(len);
        } else {
            appendUtf8(out, 0xFFFD);
            ++i;
        }
    }
    return out;
}

std::string_view trimBlanks(std::string_view s) {
    auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    while (!s.empty() && blank(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && blank(s.back()))
        s.remove_suffix(1);
    return s;
}

} // namespace mkdb
