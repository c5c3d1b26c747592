// Fuzz target: the cutting of the host's answer to a search into rows, and the other
// texts the search reads from the host (the handle of "DbOpen").
//
// Input: two bytes give the row limit, the rest is the answer. The rows must be those a
// plain reference reading of the answer gives: one per line (LF, a CR before it dropped,
// one ";" closing the last field dropped), fields cut at ";" with leading blanks skipped,
// the surplus fields of a long line belonging to the name, blank lines and lines whose ID
// is not a decimal 32-bit integer (one optional sign, blanks around it) left out.
#include <algorithm>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_input.h"
#include "search_core.h"

namespace {

std::string_view skipBlanks(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
        s.remove_prefix(1);
    return s;
}

bool referenceId(std::string_view f, int32_t& id) {
    f = skipBlanks(f);
    while (!f.empty() && (f.back() == ' ' || f.back() == '\t' || f.back() == '\r'))
        f.remove_suffix(1);
    bool negative = false;
    if (!f.empty() && (f.front() == '+' || f.front() == '-')) {
        negative = f.front() == '-';
        f.remove_prefix(1);
    }
    if (f.empty()) return false;
    long long v = 0;
    for (char c : f) {
        if (c < '0' || c > '9') return false;
        v = std::min(v * 10 + (c - '0'), 1LL << 40);
    }
    if (negative) v = -v;
    if (v < INT32_MIN || v > INT32_MAX) return false;
    id = int32_t(v);
    return true;
}

struct RefRow {
    int32_t id;
    std::string mass, formula, name, smiles;
};

std::vector<RefRow> reference(std::string_view text, size_t maxRows) {
    std::vector<RefRow> rows;
    size_t pos = 0;
    while (pos < text.size() && rows.size() < maxRows) {
        size_t eol = text.find('\n', pos);
        if (eol == std::string_view::npos) eol = text.size();
        std::string_view line = text.substr(pos, eol - pos);
        pos = eol + 1;
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (!line.empty() && line.back() == ';') line.remove_suffix(1);
        if (skipBlanks(line).empty()) continue;
        std::vector<std::string_view> fields;
        size_t b = 0;
        for (size_t i = 0; i <= line.size(); ++i) {
            if (i == line.size() || line[i] == ';') {
                fields.push_back(line.substr(b, i - b));
                b = i + 1;
            }
        }
        RefRow r;
        if (!referenceId(fields[0], r.id)) continue;
        auto field = [&](size_t k) {
            return k < fields.size() ? std::string(skipBlanks(fields[k])) : std::string();
        };
        r.mass = field(1);
        r.formula = field(2);
        if (fields.size() <= 5) {
            r.name = field(3);
            r.smiles = field(4);
        } else {
            std::string name;
            for (size_t k = 3; k + 1 < fields.size(); ++k)
                name += (k > 3 ? ";" : "") + std::string(fields[k]);
            r.name = std::string(skipBlanks(name));
            r.smiles = field(fields.size() - 1);
        }
        rows.push_back(r);
    }
    return rows;
}

bool inside(std::string_view part, std::string_view whole) {
    return part.empty() ||
           (part.data() >= whole.data() && part.data() + part.size() <= whole.data() + whole.size());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzInput in(data, size);
    const uint16_t limit = in.u16();
    const size_t maxRows = limit == 0xffff ? size_t(-1) : limit;
    const std::string answer = in.rest();
    const std::string_view text(answer);

    std::vector<TAnswerRow> rows;
    rows.push_back(TAnswerRow{}); // the cut replaces what the vector held
    ParseSearchAnswer(text, maxRows, rows);
    const std::vector<RefRow> ref = reference(text, maxRows);
    FUZZ_CHECK(rows.size() == ref.size(), "%zu rows, reference %zu", rows.size(), ref.size());
    for (size_t i = 0; i < rows.size(); ++i) {
        const TAnswerRow& r = rows[i];
        for (std::string_view f : {r.Mass, r.Formula, r.Name, r.Smiles})
            FUZZ_CHECK(inside(f, text), "row %zu: a field outside the answer", i);
        FUZZ_CHECK(r.Id == ref[i].id, "row %zu: ID %d, reference %d", i, r.Id, ref[i].id);
        FUZZ_CHECK(r.Mass == ref[i].mass && r.Formula == ref[i].formula, "row %zu", i);
        FUZZ_CHECK(r.Name == ref[i].name, "row %zu: name \"%.*s\", reference \"%s\"", i,
                   int(r.Name.size()), r.Name.data(), ref[i].name.c_str());
        FUZZ_CHECK(r.Smiles == ref[i].smiles, "row %zu: SMILES", i);
    }

    const std::string handle = DbHandleName(text);
    auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    FUZZ_CHECK(handle.empty() || (!blank(handle.front()) && !blank(handle.back())),
               "handle with blanks around it");
    FUZZ_CHECK(handle.empty() == (text.find_first_not_of(" \t\r\n") == std::string_view::npos));
    return 0;
}
