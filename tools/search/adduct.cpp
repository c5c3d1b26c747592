// Adduct parser: a hand-written scanner over "[nM±part...]z±" that keeps the position of
// every fault for the message.
#include "adduct.h"

#include <cmath>

#include "formula.h"

namespace tvsearch {
namespace {

constexpr int kMaxMultimer = 99;
constexpr int kMaxCharge = 99;
constexpr long kMaxPartCount = 999;

const std::vector<std::pair<std::string, std::string>> kAbbreviations = {
    {"ACN", "C2H3N"},  // acetonitrile
    {"FA", "CH2O2"},   // formic acid
    {"HAc", "C2H4O2"}, // acetic acid
    {"TFA", "C2HF3O2"}, // trifluoroacetic acid
    {"MeOH", "CH4O"},  // methanol
    {"EtOH", "C2H6O"}, // ethanol
    {"IPA", "C3H8O"},  // isopropanol
    {"DMSO", "C2H6OS"}, // dimethyl sulfoxide
};

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}
bool isPartChar(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || isDigit(c) || c == '(' ||
           c == ')';
}
bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

std::string describe(char c) {
    auto u = static_cast<unsigned char>(c);
    if (u >= 0x20 && u < 0x7f) return std::string("'") + c + "'";
    static const char* hex = "0123456789ABCDEF";
    return std::string("byte 0x") + hex[u >> 4] + hex[u & 15];
}

// Reads decimal digits at i (none: returns false, value untouched). Saturates at limit+1.
bool readCount(const std::string& t, size_t& i, long limit, long& value) {
    if (i >= t.size() || !isDigit(t[i])) return false;
    long v = 0;
    while (i < t.size() && isDigit(t[i])) {
        v = std::min(limit + 1, v * 10 + (t[i] - '0'));
        ++i;
    }
    value = v;
    return true;
}

struct Scanner {
    const std::string& t; // blanks removed
    const std::vector<size_t>& pos; // position in the caller's text of each character
    IonParse r;

    size_t at(size_t i) const { return i < pos.size() ? pos[i] : (pos.empty() ? 1 : pos.back() + 1); }
    IonParse fail(size_t i, std::string why) {
        r.ok = false;
        r.error = std::move(why);
        r.position = at(i);
        return r;
    }
};

} // namespace

double Ion::mz(double neutralMass) const {
    const double total = multimer * neutralMass + partsMass - charge * kElectronMass;
    return charge == 0 ? total : total / absCharge();
}

double Ion::neutral(double mzValue) const {
    const double total = (charge == 0 ? mzValue : mzValue * absCharge()) - partsMass +
                         charge * kElectronMass;
    return total / multimer;
}

IonParse parseIon(std::string_view text) {
    // Blanks are allowed anywhere ("[M + H]+"); positions refer to the text as given.
    std::string t;
    std::vector<size_t> pos;
    for (size_t i = 0; i < text.size(); ++i)
        if (!isBlank(text[i])) {
            t += text[i];
            pos.push_back(i + 1);
        }
    Scanner s{t, pos, {}};
    Ion& ion = s.r.ion;
    ion.text = t;
    if (t.empty()) return s.fail(0, "no ion given");
    if (t == "M") {
        s.r.ok = true;
        return s.r;
    }
    if (t[0] != '[')
        return s.fail(0, "an ion is written as [nM+part...]z+ (for example [M+H]+) or M");

    size_t i = 1;
    long n = 1;
    if (readCount(t, i, kMaxMultimer, n) && (n < 1 || n > kMaxMultimer))
        return s.fail(1, "the count of M must be 1 to " + std::to_string(kMaxMultimer));
    if (i >= t.size() || t[i] != 'M')
        return s.fail(i, i >= t.size() ? "the text ends where M is expected"
                                        : "expected M, found " + describe(t[i]));
    ion.multimer = int(n);
    ++i;

    // Parts: a sign, an optional count, a formula or abbreviation.
    while (i < t.size() && (t[i] == '+' || t[i] == '-')) {
        const int sign = t[i] == '+' ? 1 : -1;
        const size_t signAt = i++;
        long count = 1;
        const size_t countAt = i;
        if (readCount(t, i, kMaxPartCount, count) && (count < 1 || count > kMaxPartCount))
            return s.fail(countAt, "the count of a part must be 1 to " +
                                       std::to_string(kMaxPartCount));
        const size_t start = i;
        while (i < t.size() && isPartChar(t[i]))
            ++i;
        if (i == start) {
            if (i >= t.size()) return s.fail(i, "the text ends where a formula is expected");
            return s.fail(i, std::string("expected a formula after '") + t[signAt] + "', found " +
                                 describe(t[i]));
        }
        std::string part = t.substr(start, i - start);
        for (const auto& [abbr, formula] : kAbbreviations)
            if (part == abbr) part = formula;
        tvchem::FormulaResult f = tvchem::parseFormula(part);
        if (!f.ok)
            return s.fail(start, "cannot read the part \"" + t.substr(start, i - start) +
                                     "\": " + f.error);
        const double mass = tvchem::monoisotopicMass(f.formula);
        if (!std::isfinite(mass)) return s.fail(start, "no mass for the part " + part);
        for (const auto& [sym, k] : f.formula.counts) {
            long& a = ion.atoms[sym];
            a += sign * count * k;
            if (a == 0) ion.atoms.erase(sym);
        }
        ion.partsMass += sign * count * mass;
    }
    if (i >= t.size()) return s.fail(i, "the text ends where ']' is expected");
    if (t[i] != ']')
        return s.fail(i, "expected '+', '-' or ']', found " + describe(t[i]));
    ++i;

    // Charge: digits and one sign ("2+"), or repeated signs ("++"), after the bracket.
    if (i >= t.size())
        return s.fail(i, "the charge is missing after ']' (for example ]+ or ]2-)");
    long z = 1;
    const size_t zAt = i;
    const bool digits = readCount(t, i, kMaxCharge, z);
    if (digits && (z < 1 || z > kMaxCharge))
        return s.fail(zAt, "the charge must be 1 to " + std::to_string(kMaxCharge));
    if (i >= t.size() || (t[i] != '+' && t[i] != '-'))
        return s.fail(i, i >= t.size() ? "the sign of the charge is missing"
                                       : "expected the sign of the charge, found " +
                                             describe(t[i]));
    const char sign = t[i++];
    if (!digits)
        while (i < t.size() && t[i] == sign && z < kMaxCharge) {
            ++z;
            ++i;
        }
    if (i < t.size()) return s.fail(i, "unexpected " + describe(t[i]) + " after the charge");
    ion.charge = int(sign == '+' ? z : -z);
    s.r.ok = true;
    return s.r;
}

bool parseIonList(std::string_view text, std::vector<Ion>& out, std::string& error) {
    // Commas and blanks separate ions; blanks inside brackets belong to the ion.
    std::vector<std::pair<size_t, std::string>> items;
    std::string cur;
    size_t curStart = 0;
    int depth = 0;
    for (size_t i = 0; i <= text.size(); ++i) {
        const char c = i < text.size() ? text[i] : ',';
        const bool sep = c == ',' || c == ';' || (depth == 0 && isBlank(c));
        if (sep) {
            if (!cur.empty()) items.emplace_back(curStart, cur);
            cur.clear();
            depth = 0;
            continue;
        }
        if (cur.empty()) curStart = i + 1;
        if (c == '[') ++depth;
        if (c == ']') depth = 0;
        cur += c;
    }
    if (items.empty()) {
        error = "no ion given";
        return false;
    }
    std::vector<Ion> ions;
    for (const auto& [start, item] : items) {
        IonParse p = parseIon(item);
        if (!p.ok) {
            error = "ion \"" + item + "\", position " + std::to_string(p.position) + ": " + p.error;
            return false;
        }
        bool dup = false;
        for (const Ion& o : ions)
            dup = dup || o.text == p.ion.text;
        if (!dup) ions.push_back(std::move(p.ion));
    }
    out = std::move(ions);
    return true;
}

const std::vector<std::string>& positiveIonSet() {
    static const std::vector<std::string> set = {
        "[M+H]+",      "[M+NH4]+",     "[M+Na]+",      "[M+K]+",
        "[M+H-H2O]+",  "[M+CH3OH+H]+", "[M+CH3CN+H]+", "[M+2Na-H]+",
        "[M+2H]2+",    "[M+H+Na]2+",   "[2M+H]+",      "[2M+Na]+",
    };
    return set;
}

const std::vector<std::string>& negativeIonSet() {
    static const std::vector<std::string> set = {
        "[M-H]-",      "[M-H-H2O]-",  "[M+Cl]-",   "[M+Br]-",
        "[M+HCOO]-",   "[M+CH3COO]-", "[M+Na-2H]-", "[M+K-2H]-",
        "[M-2H]2-",    "[2M-H]-",     "[2M+HCOO]-", "[3M-H]-",
    };
    return set;
}

const std::vector<std::pair<std::string, std::string>>& ionAbbreviations() {
    return kAbbreviations;
}

} // namespace tvsearch
