// Formula parser: a small recursive-descent reader over the formula with blanks
// removed, keeping each character's position in the caller's text for messages.
#include "formula.h"

#include "elements.h"

#include <cmath>
#include <limits>
#include <vector>

namespace tvchem {
namespace {

using Counts = std::map<std::string, long>;

// Counts saturate here so that nested multipliers cannot overflow; anything this big is
// refused for its size anyway.
constexpr long kSaturated = 1000000000000000L;

long mulSat(long a, long b) {
    if (a == 0 || b == 0) return 0;
    return a > kSaturated / b ? kSaturated : std::min(a * b, kSaturated);
}

long addSat(long a, long b) {
    return std::min(a + b, kSaturated);
}

bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}
bool isDigit(char c) {
    return c >= '0' && c <= '9';
}
bool isUpper(char c) {
    return c >= 'A' && c <= 'Z';
}
bool isLower(char c) {
    return c >= 'a' && c <= 'z';
}

void mergeInto(Counts& dst, const Counts& src, long mult) {
    for (const auto& [sym, n] : src) {
        long& d = dst[sym];
        d = addSat(d, mulSat(n, mult));
    }
}

std::string describeChar(char c) {
    auto u = static_cast<unsigned char>(c);
    if (u >= 0x20 && u < 0x7f) return std::string("'") + c + "'";
    static const char* hex = "0123456789ABCDEF";
    return std::string("byte 0x") + hex[u >> 4] + hex[u & 15];
}

// Splits a trailing charge off the text. Returns false with a reason for the ambiguous
// "digits directly before the final sign" form.
bool splitCharge(std::string_view t, std::string_view& body, int& charge, std::string& error) {
    body = t;
    charge = 0;
    size_t end = t.size();
    auto digitsValue = [&](size_t from, size_t to, int& v) {
        long acc = 0;
        for (size_t k = from; k < to; ++k) {
            acc = acc * 10 + (t[k] - '0');
            if (acc > 1000000) {
                error = "charge out of range";
                return false;
            }
        }
        v = static_cast<int>(acc);
        return true;
    };
    auto cut = [&](size_t n) {
        std::string_view b = t.substr(0, n);
        while (!b.empty() && isBlank(b.back()))
            b.remove_suffix(1);
        if (!b.empty() && b.back() == '^') {
            b.remove_suffix(1);
            while (!b.empty() && isBlank(b.back()))
                b.remove_suffix(1);
        }
        body = b;
    };
    if (end == 0) return true;
    char last = t[end - 1];
    if (last == '+' || last == '-') {
        int sign = last == '+' ? 1 : -1;
        size_t i = end;
        while (i > 0 && t[i - 1] == last)
            --i;
        if (end - i >= 2) { // "Ca++"
            charge = sign * static_cast<int>(end - i);
            cut(i);
            return true;
        }
        size_t j = i;
        while (j > 0 && isDigit(t[j - 1]))
            --j;
        if (j == i) { // "Na+"
            charge = sign;
            cut(i);
            return true;
        }
        if (j == 0 || isBlank(t[j - 1]) || t[j - 1] == '^') { // "SO4 2-", "SO4^2-"
            int v = 0;
            if (!digitsValue(j, i, v)) return false;
            charge = sign * v;
            cut(j);
            return true;
        }
        error = "ambiguous charge '" + std::string(t.substr(j)) + "': write it as '" + last +
                std::string(t.substr(j, i - j)) + "' or separate it with a blank";
        return false;
    }
    size_t j = end;
    while (j > 0 && isDigit(t[j - 1]))
        --j;
    if (j < end && j > 0 && (t[j - 1] == '+' || t[j - 1] == '-')) { // "C6H5O7-3"
        // Right after a symbol or a bracket without its count, the sign and
        // digits stand where that count belongs ("C-1", "Fe+2").
        const char before = j >= 2 ? t[j - 2] : ' ';
        if (isUpper(before) || isLower(before) || before == ')' || before == ']' || before == '}') {
            const std::string digits(t.substr(j));
            error = "sign where a count belongs: '" + std::string(t.substr(j - 1)) +
                    "' (write a charge after a count, a blank or '^': '" +
                    std::string(t.substr(0, j - 1)) + " " + digits + t[j - 1] + "')";
            return false;
        }
        int v = 0;
        if (!digitsValue(j, end, v)) return false;
        charge = (t[j - 1] == '+' ? 1 : -1) * v;
        cut(j - 1);
    }
    return true;
}

class Parser {
  public:
    Parser(std::string s, std::vector<size_t> pos, std::vector<bool> gap, std::vector<bool> middleDot)
        : s_(std::move(s)), pos_(std::move(pos)), gap_(std::move(gap)), middleDot_(std::move(middleDot)) {}

    bool parse(Counts& out) {
        for (;;) {
            Counts part;
            if (!parsePart(part)) return false;
            mergeInto(out, part, 1);
            if (i_ == s_.size()) return true;
            // parsePart stops only at the end or at a part separator
            ++i_;
            if (i_ == s_.size()) return fail("nothing after " + describeChar(s_[i_ - 1]), i_ - 1);
        }
    }

    const std::string& error() const { return error_; }

  private:
    static constexpr int kMaxDepth = 64;
    // Where a count stands: the multiplier that leads a part, or the count
    // of a symbol or bracket at the top level or inside brackets.
    enum class Count { Multiplier, TopLevel, Nested };

    bool fail(std::string msg, size_t at) {
        error_ = std::move(msg) + " at position " + std::to_string(posOf(at) + 1);
        return false;
    }
    size_t posOf(size_t at) const { return at < pos_.size() ? pos_[at] : pos_.back() + 1; }
    bool atSeparator() const { return s_[i_] == '.' || s_[i_] == '*'; }
    // A count continues its symbol or bracket only without a blank in between.
    bool countHere() const { return i_ < s_.size() && isDigit(s_[i_]) && !gap_[i_]; }

    bool parsePart(Counts& out) {
        size_t start = i_;
        long mult = 1;
        if (i_ < s_.size() && isDigit(s_[i_]) && !readCount(mult, Count::Multiplier)) return false;
        if (!parseSeq(out, 0, 0, 0)) return false;
        if (out.empty()) {
            if (i_ > start) return fail("multiplier without a formula", start);
            return fail(i_ < s_.size() ? "nothing before " + describeChar(s_[i_])
                                       : std::string("empty formula"),
                        i_);
        }
        if (mult != 1) {
            Counts scaled;
            mergeInto(scaled, out, mult);
            out.swap(scaled);
        }
        return true;
    }

    // Reads a sequence up to `close` (0: up to the end or a part separator).
    bool parseSeq(Counts& out, char close, size_t openAt, int depth) {
        while (i_ < s_.size()) {
            char c = s_[i_];
            if (isUpper(c)) {
                if (!readElement(out, depth)) return false;
            } else if (c == '(' || c == '[' || c == '{') {
                if (depth >= kMaxDepth) return fail("brackets nested too deeply", i_);
                size_t at = i_++;
                char want = c == '(' ? ')' : c == '[' ? ']' : '}';
                Counts inner;
                if (!parseSeq(inner, want, at, depth + 1)) return false;
                ++i_; // the closing bracket
                if (inner.empty()) return fail("empty brackets", at);
                long n = 1;
                if (countHere() && !readCount(n, depth == 0 ? Count::TopLevel : Count::Nested)) return false;
                mergeInto(out, inner, n);
            } else if (c == ')' || c == ']' || c == '}') {
                if (c == close) return true;
                return fail(close ? "mismatched " + describeChar(c) + ", expected '" +
                                        std::string(1, close) + "'"
                                  : "unbalanced " + describeChar(c),
                            i_);
            } else if (atSeparator()) {
                if (close) return fail(describeChar(c) + " inside brackets", i_);
                return true;
            } else if (isDigit(c)) {
                return fail("unexpected number", i_);
            } else if (isLower(c)) {
                return fail("element symbols start with a capital letter, found " + describeChar(c),
                            i_);
            } else if (c == '+' || c == '-') {
                return fail("unexpected " + describeChar(c) + " (a charge must come last)", i_);
            } else {
                return fail("unexpected " + describeChar(c), i_);
            }
        }
        if (close) return fail("unbalanced " + describeChar(s_[openAt]), openAt);
        return true;
    }

    bool readElement(Counts& out, int depth) {
        size_t at = i_++;
        while (i_ < s_.size() && isLower(s_[i_]) && !gap_[i_])
            ++i_;
        std::string sym = s_.substr(at, i_ - at);
        if (!findElement(sym)) {
            if (isElementWithoutComposition(sym))
                return fail("element '" + sym + "' has no natural isotopic composition", at);
            return fail("unknown element symbol '" + sym + "'", at);
        }
        long n = 1;
        if (countHere() && !readCount(n, depth == 0 ? Count::TopLevel : Count::Nested)) return false;
        long& d = out[sym];
        d = addSat(d, n);
        return true;
    }

    bool readCount(long& v, Count where) {
        size_t at = i_;
        v = 0;
        while (i_ < s_.size() && isDigit(s_[i_]) && (i_ == at || !gap_[i_])) {
            v = addSat(mulSat(v, 10), s_[i_] - '0');
            ++i_;
        }
        // "C1.5H" is a count of one and a half, not C and 5 H: a point between
        // digits is a decimal point. The one exception is the water of a
        // hydrate at the top level ("CuSO4.5H2O"), the classic way to write one.
        if (i_ + 1 < s_.size() && s_[i_] == '.' && !middleDot_[i_] && !gap_[i_] && isDigit(s_[i_ + 1]) &&
            !gap_[i_ + 1] && !(where == Count::TopLevel && hydrateWaterAfter(i_))) {
            size_t e = i_ + 1;
            while (e < s_.size() && isDigit(s_[e]) && !gap_[e])
                ++e;
            fail(std::string(where == Count::Multiplier ? "decimal multiplier '" : "decimal count '") +
                     s_.substr(at, e - at) + "'",
                 at);
            error_ += " (counts are whole numbers; write an adduct as 'A*nB' or 'A . nB')";
            return false;
        }
        if (v == 0) return fail("zero count", at);
        return true;
    }

    // Whether the part after the point at dot is a number of waters, "5H2O".
    bool hydrateWaterAfter(size_t dot) const {
        size_t j = dot + 1;
        while (j < s_.size() && isDigit(s_[j]) && (j == dot + 1 || !gap_[j]))
            ++j;
        if (j + 3 > s_.size() || s_.compare(j, 3, "H2O") != 0 || gap_[j + 1] || gap_[j + 2]) return false;
        return j + 3 == s_.size() || s_[j + 3] == '.' || s_[j + 3] == '*';
    }

    std::string s_;
    std::vector<size_t> pos_;
    std::vector<bool> gap_;       // a blank stood before this character
    std::vector<bool> middleDot_; // this '.' was written as the middle dot
    size_t i_ = 0;
    std::string error_;
};

} // namespace

std::string Formula::hill() const {
    std::string out;
    auto put = [&out](const std::string& sym, long n) {
        out += sym;
        if (n != 1) out += std::to_string(n);
    };
    auto c = counts.find("C");
    if (c != counts.end()) {
        put(c->first, c->second);
        auto h = counts.find("H");
        if (h != counts.end()) put(h->first, h->second);
        for (const auto& [sym, n] : counts)
            if (sym != "C" && sym != "H") put(sym, n);
    } else {
        for (const auto& [sym, n] : counts)
            put(sym, n);
    }
    return out;
}

long Formula::atomCount() const {
    long total = 0;
    for (const auto& kv : counts)
        total = addSat(total, kv.second);
    return total;
}

FormulaResult parseFormula(std::string_view text) {
    FormulaResult r;
    size_t lead = 0;
    while (lead < text.size() && isBlank(text[lead]))
        ++lead;
    std::string_view t = text.substr(lead);
    while (!t.empty() && isBlank(t.back()))
        t.remove_suffix(1);
    if (t.empty()) {
        r.error = "empty formula";
        return r;
    }

    std::string_view body;
    if (!splitCharge(t, body, r.charge, r.error)) return r;

    // Blanks go (remembering where they stood); the middle dot (UTF-8 C2 B7) becomes the
    // '.' separator.
    std::string s;
    std::vector<size_t> pos;
    std::vector<bool> gap, middleDot;
    bool blank = false;
    for (size_t k = 0; k < body.size(); ++k) {
        char c = body[k];
        if (isBlank(c)) {
            blank = true;
            continue;
        }
        gap.push_back(blank);
        blank = false;
        pos.push_back(lead + k);
        const bool dot = c == '\xC2' && k + 1 < body.size() && body[k + 1] == '\xB7';
        middleDot.push_back(dot);
        if (dot) {
            s += '.';
            ++k;
            continue;
        }
        s += c;
    }
    if (s.empty()) {
        r.error = "empty formula";
        return r;
    }

    Parser p(std::move(s), std::move(pos), std::move(gap), std::move(middleDot));
    Counts counts;
    if (!p.parse(counts)) {
        r.error = p.error();
        return r;
    }
    r.formula.counts = std::move(counts);
    long total = r.formula.atomCount();
    if (total > kMaxAtoms) {
        r.tooLarge = true;
        r.error = "refused: " +
                  (total >= kSaturated ? "more than " + std::to_string(kSaturated)
                                       : std::to_string(total)) +
                  " atoms, limit " + std::to_string(kMaxAtoms);
        r.formula.counts.clear();
        return r;
    }
    r.ok = true;
    return r;
}

double monoisotopicMass(const Formula& f) {
    long double sum = 0;
    for (const auto& [sym, n] : f.counts) {
        const Element* e = findElement(sym);
        if (!e) return std::numeric_limits<double>::quiet_NaN();
        sum += static_cast<long double>(n) * monoisotopicMassOf(*e);
    }
    return static_cast<double>(sum);
}

} // namespace tvchem
